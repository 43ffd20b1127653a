// The storage opened as the command
// line asks: locale, product, and the decryption keys added right after.
#pragma once

#include <cstdint>
#include <string>

#include "command_line.h"
#include "kestrine.hpp"

namespace kestrine::explorer {

// The storage, or an empty owner with the error number in `error`.
Storage OpenStorageWith(const std::string& parameters, const StorageOptions& options,
                        uint32_t& error);

// Opens the storage of the command line; on failure writes
// "kestrine-casc: cannot open STORAGE, error N" and returns an empty owner.
Storage OpenCommandStorage(const CommandLine& line);

}  // namespace kestrine::explorer

// Owners of the library's handles, and the storage opened as the command
// line asks: locale, product, and the decryption keys added right after.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "command_line.h"
#include "kestrine.h"

namespace kestrine::explorer {

struct StorageCloser {
  void operator()(void* storage) const { CloseStorage(storage); }
};
struct SearchCloser {
  void operator()(void* search) const { SearchClose(search); }
};
struct FileCloser {
  void operator()(void* file) const { CloseFile(file); }
};
using StorageOwner = std::unique_ptr<void, StorageCloser>;
using SearchOwner = std::unique_ptr<void, SearchCloser>;
using FileOwner = std::unique_ptr<void, FileCloser>;

// The storage, or null with the error number in `error`.
StorageOwner OpenStorageWith(const std::string& parameters, const StorageOptions& options,
                             uint32_t& error);

// Opens the storage of the command line; on failure writes
// "kestrine-casc: cannot open STORAGE, error N" and returns null.
StorageOwner OpenCommandStorage(const CommandLine& line);

// The thread's last error, or `fallback` when the failed call left none.
uint32_t LastErrorOr(uint32_t fallback);

}  // namespace kestrine::explorer

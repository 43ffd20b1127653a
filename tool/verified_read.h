// Reading a file's whole content exactly. The storage reader's rules are
// lenient where a game needs them to be (a truncated archive reads as zeros,
// a frame without a checksum may inflate to other bytes, a short read may
// carry no reason); the import promises exact bytes, so it holds what it read
// against the file's content key, the MD5 of its decoded content.
#pragma once

#include <cstdint>

#include "tool/storage_api.h"

namespace kestrine {

// Reads `size` bytes from the start of `file` into `buffer` (none when `size`
// is 0) and, when the file has a content key, checks their MD5 against it.
// False with the thread's last error set: the read's own reason, or 1392 for
// a short read that gave none and for content that is not what its key says.
[[nodiscard]] bool ReadVerifiedContent(StorageApi& api, FileHandle file, uint8_t* buffer,
                                       uint64_t size);

}  // namespace kestrine

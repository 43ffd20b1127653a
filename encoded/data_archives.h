// Data archives: the large files in which the encoded files lie one after
// another, each behind a 30-byte record header.
//
// Most storages number their archives "data.000", "data.001", ... in the
// archive folder; the storage keeps one stream per archive, opened on first
// use and shared by all its open files. Storages marked by
// "data\.build.config" name them "%02u-%08x.data" (index >> 8, index & 0xFF)
// in the data directory, and every open file opens its own.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "encoded/stream.h"

namespace kestrine {

struct TCascStorage;

inline constexpr uint32_t kMaxDataArchives = 4096;
inline constexpr uint32_t kArchiveOpenFlags = SF_READONLY | SF_SHAREWRITE | SF_ZEROFILL;

class DataArchiveTable {
 public:
  std::array<StreamPtr, kMaxDataArchives> streams;
};

// "data.%03u" (at least three digits) or, for BUILD_CONFIG storages,
// "%02u-%08x.data".
std::string DataArchiveFileName(const TCascStorage& storage, uint32_t archiveIndex);

// The shared "data.%03u" stream of an archive, opened under the storage's
// lock when needed. Null, with the last error set, when it cannot be opened
// (2 for an index of 4096 or more).
TStream* SharedArchiveStream(TCascStorage& storage, uint32_t archiveIndex);

// A new stream on a BUILD_CONFIG storage's archive, owned by the caller.
StreamPtr OpenOwnArchiveStream(const TCascStorage& storage, uint32_t archiveIndex);

}  // namespace kestrine

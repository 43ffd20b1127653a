#include "tool/verified_read.h"

#include <span>

#include "common/md5.h"

namespace kestrine {

namespace {

bool ReadWhole(StorageApi& api, FileHandle file, uint8_t* buffer, uint64_t size) {
  if (size == 0) return true;
  uint32_t bytesRead = 0;
  if (api.ReadOpenFile(file, buffer, static_cast<uint32_t>(size), &bytesRead) &&
      bytesRead == size) {
    return true;
  }
  if (GetCascError() == kErrorSuccess) SetCascError(kErrorFileCorrupt);
  return false;
}

// A file without a key (several spans, or a key the storage never learned)
// cannot be checked and passes.
bool MatchesContentKey(StorageApi& api, FileHandle file, std::span<const uint8_t> content) {
  Md5Digest key{};
  if (!api.GetFileContentKey(file, key.data())) return true;
  if (ComputeMd5(content) == key) return true;
  SetCascError(kErrorFileCorrupt);
  return false;
}

}  // namespace

bool ReadVerifiedContent(StorageApi& api, FileHandle file, uint8_t* buffer, uint64_t size) {
  return ReadWhole(api, file, buffer, size) &&
         MatchesContentKey(api, file, {buffer, static_cast<size_t>(size)});
}

}  // namespace kestrine

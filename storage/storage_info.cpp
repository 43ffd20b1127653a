// GetStorageInfo: a read-only summary of an open storage.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/api_boundary.h"
#include "common/errors.h"
#include "common/platform.h"
#include "roots/root_handler.h"
#include "storage/storage.h"

namespace kestrine {

namespace {

template <size_t N>
void CopyString(char (&field)[N], const std::string& value) {
  const size_t length = std::min(value.size(), N - 1);
  std::memcpy(field, value.data(), length);
  field[length] = '\0';
}

void CountEntries(TCascStorage& storage, StorageInfo& info) {
  for (const ContentEntry& entry : storage.contents.entries()) {
    if (entry.flags & EF_LOCAL) ++info.localEncodedFiles;
    if (entry.contentSize != kUnknownSize) info.totalContentSize += entry.contentSize;
  }
  info.contentEntries = storage.contents.size();
}

StorageInfo Describe(TCascStorage& storage) {
  StorageInfo info{};
  info.size = sizeof info;
  CopyString(info.productCode, storage.productCode);
  CopyString(info.region, storage.region);
  info.buildFileKind = storage.kind;
  info.buildNumber = storage.buildNumber;
  info.localeMask = storage.EffectiveLocaleMask();
  info.rootFormat = storage.root ? storage.rootFormat : kRootNone;
  info.namedFiles = storage.root ? storage.root->FileCount() : 0;
  CountEntries(storage, info);
  info.online = storage.IsOnline() ? 1 : 0;
  if (storage.IsOnline()) CopyString(info.cacheFolder, platform::ResolvePath(storage.rootPath));
  return info;
}

}  // namespace

extern "C" KESTRINE_API bool kestrine_get_storage_info(KestrineStorage* handle,
                                                       KestrineStorageInfo* info) try {
  TCascStorage* storage = StorageFromHandle(handle);
  if (storage == nullptr || info == nullptr || info->size < sizeof info->size) {
    return FailWith(kErrorInvalidParameter);
  }
  const StorageInfo full = Describe(*storage);
  const size_t covered = std::min<uint64_t>(info->size, sizeof full);
  std::memcpy(reinterpret_cast<uint8_t*>(info) + sizeof info->size,
              reinterpret_cast<const uint8_t*>(&full) + sizeof full.size,
              covered - sizeof full.size);
  return true;
} catch (...) {
  return FailFromException(false);
}

}  // namespace kestrine

#include "roots/tvfs_span_record.h"

#include <algorithm>

#include "storage/config_files.h"
#include "storage/index_files.h"

namespace kestrine {

namespace {

constexpr size_t kFullEKeySize = 16;

}  // namespace

ContentEntry MakeSpanRecord(const TCascStorage& storage, std::span<const uint8_t> ekey,
                            uint32_t spanSize, uint32_t encodedSize) {
  ContentEntry record;
  std::copy_n(ekey.begin(), std::min(ekey.size(), kFullEKeySize), record.ekey.begin());
  record.contentSize = spanSize;
  if (storage.kind == BUILD_CONFIG) {
    record.storageOffset = OffsetFromEKey(record.ekey);
    record.encodedSize = encodedSize;
    record.flags = EF_LOCAL | EF_EKEY;
  }
  return record;
}

ContentEntry* AppendSpanEntry(TCascStorage& storage, const ContentEntry& record, size_t ekeySize) {
  ContentEntry* entry = storage.contents.Allocate();
  if (entry == nullptr) return nullptr;
  *entry = record;
  entry->flags |= EF_EKEY | (ekeySize != kFullEKeySize ? EF_EKEY_PARTIAL : 0);
  entry->spanCount = 1;
  if (storage.kind != BUILD_CONFIG) LocateEncodedFile(storage, *entry);
  storage.contents.EnterEKey(entry);
  return entry;
}

}  // namespace kestrine

#include "roots/tvfs_span_record.h"

#include <algorithm>

#include "common/byte_reader.h"
#include "storage/index_files.h"

namespace kestrine {

namespace {

constexpr size_t kFullEKeySize = 16;
constexpr size_t kLocationInEKey = 9;  // bytes 9..15: the storage offset

uint64_t StorageOffsetInEKey(const Key16& ekey) {
  ByteReader reader(ekey);
  reader.seek(kLocationInEKey);
  uint64_t offset = 0;
  while (reader.remaining() > 0) offset = offset << 8 | reader.u8();
  return offset;
}

}  // namespace

ContentEntry MakeSpanRecord(const TCascStorage& storage, std::span<const uint8_t> ekey,
                            uint32_t spanSize, uint32_t encodedSize) {
  ContentEntry record;
  std::copy_n(ekey.begin(), std::min(ekey.size(), kFullEKeySize), record.ekey.begin());
  record.contentSize = spanSize;
  if (storage.kind == BUILD_CONFIG) {
    record.storageOffset = StorageOffsetInEKey(record.ekey);
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

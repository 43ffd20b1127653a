// Content entries and the CKey and EKey maps.
#include "storage/key_tables.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kestrine.h"

namespace kestrine {
namespace {

// Sizes of the smallest manifest records: an encoding entry with one EKey and
// a download entry with a 16-byte EKey and no checksum. Dividing a manifest's
// size by them bounds the number of entries it can bring.
constexpr uint32_t kEncodingEntrySize = 38;
constexpr uint32_t kDownloadEntrySize = 22;
constexpr size_t kSpareEntries = 64;
constexpr size_t kDefaultCapacity = 1'000'000;

// The tables take their memory zero-filled from calloc, so that pages of a
// generously sized table that are never used are never touched either.
template <typename T>
std::unique_ptr<T[], RawAllocationDeleter> AllocateZeroedArray(size_t count) {
  return std::unique_ptr<T[], RawAllocationDeleter>(
      static_cast<T*>(AllocateZeroed(count, sizeof(T))));
}

}  // namespace

bool EntryKeyMap::Create(size_t minimumCapacity, ContentEntry* entries, size_t count,
                         size_t keyOffsetInEntry, size_t keyLength) {
  entryCount_ = std::min<size_t>(count, UINT32_MAX - 1);
  return map_.Create(minimumCapacity, EntryKeys{entries, keyOffsetInEntry, keyLength});
}

bool EntryKeyMap::Insert(ContentEntry* entry) {
  if (entry < entries() || entry >= entries() + entryCount_) return false;
  const uint8_t* key = map_.layout().KeyOf(entry);
  return map_.Insert(key, {static_cast<uint32_t>(entry - entries() + 1), KeyTag(key)});
}

ContentEntry* EntryKeyMap::Find(const uint8_t* key) const {
  const auto* found = map_.Find(key);
  return found != nullptr ? &entries()[found->entry - 1] : nullptr;
}

size_t ContentTables::CapacityFor(uint32_t encodingContentSize, uint32_t downloadContentSize) {
  size_t capacity = 0;
  if (encodingContentSize != kUnknownSize) {
    capacity = encodingContentSize / kEncodingEntrySize + kSpareEntries;
  }
  if (downloadContentSize != kUnknownSize) {
    capacity = std::max<size_t>(capacity, downloadContentSize / kDownloadEntrySize + kSpareEntries);
  }
  return capacity != 0 ? capacity : kDefaultCapacity;
}

uint32_t ContentTables::Create(uint32_t encodingContentSize, uint32_t downloadContentSize,
                               size_t ekeyLength) {
  capacity_ = CapacityFor(encodingContentSize, downloadContentSize);
  used_ = 0;
  entries_ = AllocateZeroedArray<ContentEntry>(capacity_);
  const bool mapsCreated =
      entries_ &&
      ckeyMap_.Create(capacity_, entries_.get(), capacity_, offsetof(ContentEntry, ckey),
                      sizeof(ContentEntry::ckey)) &&
      ekeyMap_.Create(capacity_, entries_.get(), capacity_, offsetof(ContentEntry, ekey),
                      ekeyLength);
  if (!entries_ || !mapsCreated) {
    entries_.reset();
    capacity_ = 0;
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

ContentEntry* ContentTables::Allocate() {
  if (used_ >= capacity_) return nullptr;
  return new (&entries_[used_++]) ContentEntry();
}

ContentEntry* ContentTables::Insert(const ContentEntry& record) {
  if ((record.flags & (EF_CKEY | EF_EKEY)) == 0) return nullptr;

  if ((record.flags & EF_CKEY) != 0) {
    if (ContentEntry* existing = FindByCKey(record.ckey.data())) {
      if (existing->contentSize == kUnknownSize) existing->contentSize = record.contentSize;
      if (existing->encodedSize == kUnknownSize) existing->encodedSize = record.encodedSize;
      return existing;
    }
  }

  ContentEntry* entry = Allocate();
  if (entry == nullptr) return nullptr;
  *entry = record;
  if ((record.flags & EF_CKEY) != 0) EnterCKey(entry);
  if ((record.flags & EF_EKEY) != 0) EnterEKey(entry);
  return entry;
}

}  // namespace kestrine

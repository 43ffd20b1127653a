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
constexpr size_t kMinimumBuckets = 256;

uint32_t HashOfKey(const uint8_t* key) {
  return uint32_t{key[0]} | uint32_t{key[1]} << 8 | uint32_t{key[2]} << 16 | uint32_t{key[3]} << 24;
}

// The tables take their memory zero-filled from calloc, so that pages of a
// generously sized table that are never used are never touched either.
template <typename T>
std::unique_ptr<T[], RawAllocationDeleter> AllocateZeroedArray(size_t count) {
  return std::unique_ptr<T[], RawAllocationDeleter>(
      static_cast<T*>(AllocateZeroed(count, sizeof(T))));
}

}  // namespace

size_t HashBucketCount(size_t count) {
  const size_t wanted = count / 3 > SIZE_MAX / 4 ? SIZE_MAX : count * 4 / 3;
  size_t buckets = kMinimumBuckets;
  while (buckets < wanted && buckets <= SIZE_MAX / 2) buckets *= 2;
  return buckets;
}

bool EntryKeyMap::Create(size_t minimumCapacity, size_t keyOffsetInEntry, size_t keyLength) {
  keyOffset_ = keyOffsetInEntry;
  keyLength_ = keyLength;
  count_ = 0;
  bucketCount_ = HashBucketCount(minimumCapacity);
  buckets_ = AllocateZeroedArray<ContentEntry*>(bucketCount_);
  if (!buckets_) bucketCount_ = 0;
  return buckets_ != nullptr;
}

const uint8_t* EntryKeyMap::KeyOf(const ContentEntry* entry) const {
  return reinterpret_cast<const uint8_t*>(entry) + keyOffset_;
}

size_t EntryKeyMap::Probe(const uint8_t* key) const {
  const size_t mask = bucketCount_ - 1;
  size_t bucket = HashOfKey(key) & mask;
  // Never endless: insertions always leave at least one bucket empty.
  while (buckets_[bucket] != nullptr &&
         std::memcmp(KeyOf(buckets_[bucket]), key, keyLength_) != 0) {
    bucket = (bucket + 1) & mask;
  }
  return bucket;
}

bool EntryKeyMap::Insert(ContentEntry* entry) {
  if (count_ + 1 >= bucketCount_) return false;
  const size_t bucket = Probe(KeyOf(entry));
  if (buckets_[bucket] != nullptr) return false;
  buckets_[bucket] = entry;
  ++count_;
  return true;
}

ContentEntry* EntryKeyMap::Find(const uint8_t* key) const {
  if (bucketCount_ == 0) return nullptr;
  return buckets_[Probe(key)];
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
      ckeyMap_.Create(capacity_, offsetof(ContentEntry, ckey), sizeof(ContentEntry::ckey)) &&
      ekeyMap_.Create(capacity_, offsetof(ContentEntry, ekey), ekeyLength);
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

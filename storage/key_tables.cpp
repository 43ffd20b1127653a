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

bool EntryKeyMap::Create(size_t minimumCapacity, ContentEntry* entries, size_t count,
                         size_t keyOffsetInEntry, size_t keyLength) {
  entries_ = entries;
  entryCount_ = std::min<size_t>(count, UINT32_MAX - 1);
  keyOffset_ = keyOffsetInEntry;
  keyLength_ = keyLength;
  count_ = 0;
  bucketCount_ = HashBucketCount(minimumCapacity);
  buckets_ = AllocateZeroedArray<Bucket>(bucketCount_);
  if (!buckets_) bucketCount_ = 0;
  return buckets_ != nullptr;
}

const uint8_t* EntryKeyMap::KeyOf(const ContentEntry* entry) const {
  return reinterpret_cast<const uint8_t*>(entry) + keyOffset_;
}

size_t EntryKeyMap::Probe(const uint8_t* key) const {
  const size_t mask = bucketCount_ - 1;
  const uint32_t tag = KeyTag(key);
  size_t bucket = KeyBucket(key, bucketCount_);
  // Never endless: insertions always leave at least one bucket empty.
  for (;; bucket = (bucket + 1) & mask) {
    const Bucket& slot = buckets_[bucket];
    if (slot.entry == 0) return bucket;
    if (slot.tag == tag && std::memcmp(KeyOf(&entries_[slot.entry - 1]), key, keyLength_) == 0) {
      return bucket;
    }
  }
}

bool EntryKeyMap::Insert(ContentEntry* entry) {
  if (count_ + 1 >= bucketCount_ || entry < entries_ || entry >= entries_ + entryCount_) {
    return false;
  }
  const uint8_t* key = KeyOf(entry);
  const size_t bucket = Probe(key);
  if (buckets_[bucket].entry != 0) return false;
  buckets_[bucket] = {static_cast<uint32_t>(entry - entries_ + 1), KeyTag(key)};
  ++count_;
  return true;
}

ContentEntry* EntryKeyMap::Find(const uint8_t* key) const {
  if (bucketCount_ == 0) return nullptr;
  const uint32_t found = buckets_[Probe(key)].entry;
  return found != 0 ? &entries_[found - 1] : nullptr;
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

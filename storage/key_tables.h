// The storage's content entries: one array of fixed capacity (entries never
// move, so the file tree and open files point at them) and two hash maps,
// by CKey and by EKey.
//
// Both maps use open addressing with linear probing over a power-of-two
// bucket count; the bucket is chosen by the first key bytes (KeyBucket:
// MD5-based keys are uniform already). A bucket holds the entry's position
// in the array and the next four key bytes, so that probing past other keys
// reads no entry: at millions of entries every entry read is a cache miss.
// An insertion is made only while count + 1 is below the bucket count and no
// entry with an equal key is present: the first entry for a key stays.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "common/raw_allocation.h"
#include "storage/content_entry.h"

namespace kestrine {

// Bucket count for `count` items: 256, doubled while below count * 4 / 3.
size_t HashBucketCount(size_t count);

// The bucket of a key among `bucketCount` (a power of two): its first four
// bytes read big-endian, scaled to the count. Keys that arrive sorted, as
// the ENCODING manifest's CKeys and each index file's EKeys do, then fill
// the buckets front to back instead of all over the table.
inline size_t KeyBucket(const uint8_t* key, size_t bucketCount) {
  const uint64_t top = uint64_t{key[0]} << 56 | uint64_t{key[1]} << 48 | uint64_t{key[2]} << 40 |
                       uint64_t{key[3]} << 32;
  return static_cast<size_t>(top >> (64 - std::countr_zero(bucketCount)));
}

// Key bytes 4..7, kept in a bucket beside its entry: most keys met while
// probing differ there, so their entries need not be read.
inline uint32_t KeyTag(const uint8_t* key) {
  return uint32_t{key[4]} | uint32_t{key[5]} << 8 | uint32_t{key[6]} << 16 | uint32_t{key[7]} << 24;
}

// Open-addressing map from a key inside each entry to the entry.
class EntryKeyMap {
 public:
  // The map holds entries of the array `entries` (its `count` elements);
  // keyOffset: where the key sits in a ContentEntry; keyLength: bytes compared
  // (at least 8, at most 16). The bucket count is HashBucketCount(minimumCapacity).
  // Returns false when the buckets cannot be allocated (the map is then empty).
  [[nodiscard]] bool Create(size_t minimumCapacity, ContentEntry* entries, size_t count,
                            size_t keyOffsetInEntry, size_t keyLength);
  // False when the map is full, the key is present already or the entry is
  // not one of the array's.
  bool Insert(ContentEntry* entry);
  ContentEntry* Find(const uint8_t* key) const;
  // Hints for loops over millions of keys: fetch the key's first bucket,
  // and (once that is in) the entry it holds, ahead of the Find or Insert.
  void PrefetchBucket(const uint8_t* key) const {
    if (bucketCount_ != 0) __builtin_prefetch(&buckets_[KeyBucket(key, bucketCount_)]);
  }
  void PrefetchEntry(const uint8_t* key) const {
    if (bucketCount_ == 0) return;
    const uint32_t entry = buckets_[KeyBucket(key, bucketCount_)].entry;
    if (entry != 0) __builtin_prefetch(&entries_[entry - 1]);
  }
  size_t size() const { return count_; }
  size_t bucketCount() const { return bucketCount_; }
  size_t keyLength() const { return keyLength_; }

 private:
  struct Bucket {
    uint32_t entry;  // position in the array + 1; 0 when empty
    uint32_t tag;    // key bytes 4..7
  };

  const uint8_t* KeyOf(const ContentEntry* entry) const;
  // The bucket holding `key`, or the empty bucket where it would go.
  size_t Probe(const uint8_t* key) const;

  std::unique_ptr<Bucket[], RawAllocationDeleter> buckets_;
  ContentEntry* entries_ = nullptr;
  size_t entryCount_ = 0;
  size_t bucketCount_ = 0;
  size_t count_ = 0;
  size_t keyOffset_ = 0;
  size_t keyLength_ = 16;
};

class ContentTables {
 public:
  // Capacity from the manifest sizes (kUnknownSize when unknown): the larger
  // of encoding / 38 + 64 and download / 22 + 64, or 1,000,000 when neither
  // is known. ekeyLength is 9, or 16 for storages keyed by full EKeys.
  // Returns 0 or kErrorNotEnoughMemory.
  [[nodiscard]] uint32_t Create(uint32_t encodingContentSize, uint32_t downloadContentSize,
                                size_t ekeyLength);
  static size_t CapacityFor(uint32_t encodingContentSize, uint32_t downloadContentSize);

  // InsertContentEntry: merges into the entry of an equal CKey (completing
  // unknown sizes) or appends a copy and enters it in the maps. Null when the
  // record has neither key flag or the array is full.
  ContentEntry* Insert(const ContentEntry& record);

  // The next free element (value-initialised), or null when the array is full.
  ContentEntry* Allocate();
  bool EnterCKey(ContentEntry* entry) { return ckeyMap_.Insert(entry); }
  bool EnterEKey(ContentEntry* entry) { return ekeyMap_.Insert(entry); }

  ContentEntry* FindByCKey(const uint8_t* ckey) const { return ckeyMap_.Find(ckey); }
  ContentEntry* FindByEKey(const uint8_t* ekey) const { return ekeyMap_.Find(ekey); }

  size_t size() const { return used_; }
  size_t capacity() const { return capacity_; }
  std::span<ContentEntry> entries() { return {entries_.get(), used_}; }
  const EntryKeyMap& ckeyMap() const { return ckeyMap_; }
  const EntryKeyMap& ekeyMap() const { return ekeyMap_; }

 private:
  // Elements below used_ are constructed; the rest is raw zeroed memory.
  std::unique_ptr<ContentEntry[], RawAllocationDeleter> entries_;
  size_t capacity_ = 0;
  size_t used_ = 0;
  EntryKeyMap ckeyMap_;
  EntryKeyMap ekeyMap_;
};

}  // namespace kestrine

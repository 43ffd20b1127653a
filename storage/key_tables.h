// The storage's content entries: one array of fixed capacity (entries never
// move, so the file tree and open files point at them) and two hash maps,
// by CKey and by EKey.
//
// Both maps use open addressing with linear probing over a power-of-two
// bucket count; the hash is the first four key bytes as a little-endian u32
// (MD5-based keys are uniform already). An insertion is made only while
// count + 1 is below the bucket count and no entry with an equal key is
// present: the first entry for a key stays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "common/raw_allocation.h"
#include "storage/content_entry.h"

namespace kestrine {

// Open-addressing map from a key inside each entry to the entry.
class EntryKeyMap {
 public:
  // keyOffset: where the key sits in a ContentEntry; keyLength: bytes compared
  // (at least 4, at most 16). The bucket count is HashBucketCount(minimumCapacity).
  // Returns false when the buckets cannot be allocated (the map is then empty).
  [[nodiscard]] bool Create(size_t minimumCapacity, size_t keyOffsetInEntry, size_t keyLength);
  // False when the map is full or the key is present already.
  bool Insert(ContentEntry* entry);
  ContentEntry* Find(const uint8_t* key) const;
  size_t size() const { return count_; }
  size_t bucketCount() const { return bucketCount_; }
  size_t keyLength() const { return keyLength_; }

 private:
  const uint8_t* KeyOf(const ContentEntry* entry) const;
  // The bucket holding `key`, or the empty bucket where it would go.
  size_t Probe(const uint8_t* key) const;

  std::unique_ptr<ContentEntry*[], RawAllocationDeleter> buckets_;
  size_t bucketCount_ = 0;
  size_t count_ = 0;
  size_t keyOffset_ = 0;
  size_t keyLength_ = 16;
};

// Bucket count for `count` items: 256, doubled while below count * 4 / 3.
size_t HashBucketCount(size_t count);

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

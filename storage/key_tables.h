// The storage's content entries: one array of fixed capacity (entries never
// move, so the file tree and open files point at them) and two hash maps,
// by CKey and by EKey.
//
// Both maps are KeyHashMaps whose buckets hold the entry's position in the
// array and the tag bytes of its key, so that probing past other keys reads
// no entry: at millions of entries every entry read is a cache miss.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "common/key_hash_map.h"
#include "common/raw_allocation.h"
#include "storage/content_entry.h"

namespace kestrine {

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
  void PrefetchBucket(const uint8_t* key) const { map_.PrefetchBucket(key); }
  void PrefetchEntry(const uint8_t* key) const {
    const auto* first = map_.FirstBucket(key);
    if (first != nullptr && first->entry != 0) __builtin_prefetch(&entries()[first->entry - 1]);
  }
  size_t size() const { return map_.size(); }
  size_t bucketCount() const { return map_.bucketCount(); }
  size_t keyLength() const { return map_.layout().keyLength; }

 private:
  // Buckets of the entry's position in the array + 1 (0 when empty) and the
  // key's tag.
  struct EntryKeys {
    struct Bucket {
      uint32_t entry;
      uint32_t tag;
    };
    static bool IsEmpty(const Bucket& bucket) { return bucket.entry == 0; }
    bool Holds(const Bucket& bucket, const uint8_t* key) const {
      return bucket.tag == KeyTag(key) &&
             std::memcmp(KeyOf(&entries[bucket.entry - 1]), key, keyLength) == 0;
    }
    const uint8_t* KeyOf(const ContentEntry* entry) const {
      return reinterpret_cast<const uint8_t*>(entry) + keyOffset;
    }

    ContentEntry* entries = nullptr;
    size_t keyOffset = 0;
    size_t keyLength = 16;
  };

  ContentEntry* entries() const { return map_.layout().entries; }

  KeyHashMap<EntryKeys> map_;
  size_t entryCount_ = 0;
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

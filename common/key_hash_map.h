// Hash maps keyed by CKeys and EKeys (or their first bytes): open addressing
// with linear probing over a power-of-two count of buckets, the first one
// chosen by the key's first bytes (MD5-based keys are uniform already).
//
// A map is sized once and never grows: an insertion is made only while
// count + 1 is below the bucket count, so that a bucket at least stays empty
// and every probe ends, and only when no bucket holds an equal key: the
// first entry of a key stays.
//
// What a bucket holds and how its key is compared is the Layout's:
//
//   using Bucket = ...;  // trivially copyable; all zero bytes: empty
//   static bool IsEmpty(const Bucket& bucket);
//   bool Holds(const Bucket& bucket, const uint8_t* key) const;  // not empty
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "common/raw_allocation.h"

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

// Key bytes 4..7, for buckets that keep them beside a reference to their
// entry: most keys met while probing differ there, so their entries need
// not be read.
inline uint32_t KeyTag(const uint8_t* key) {
  return uint32_t{key[4]} | uint32_t{key[5]} << 8 | uint32_t{key[6]} << 16 | uint32_t{key[7]} << 24;
}

template <typename Layout>
class KeyHashMap {
 public:
  using Bucket = typename Layout::Bucket;
  static_assert(std::is_trivially_copyable_v<Bucket>);

  // Empties the map and gives it HashBucketCount(capacity) buckets, taken
  // zero-filled so that buckets never used are never touched. False when
  // they cannot be allocated (the map then has none).
  [[nodiscard]] bool Create(size_t capacity, const Layout& layout = Layout{}) {
    layout_ = layout;
    count_ = 0;
    bucketCount_ = HashBucketCount(capacity);
    buckets_.reset(static_cast<Bucket*>(AllocateZeroed(bucketCount_, sizeof(Bucket))));
    if (!buckets_) bucketCount_ = 0;
    return buckets_ != nullptr;
  }

  // Enters `bucket` as the one of `key`. False when the map is full or holds
  // the key already.
  bool Insert(const uint8_t* key, const Bucket& bucket) {
    if (count_ + 1 >= bucketCount_) return false;
    Bucket& slot = buckets_[Probe(key)];
    if (!Layout::IsEmpty(slot)) return false;
    slot = bucket;
    ++count_;
    return true;
  }

  // The bucket holding `key`, or null.
  const Bucket* Find(const uint8_t* key) const {
    if (bucketCount_ == 0) return nullptr;
    const Bucket& slot = buckets_[Probe(key)];
    return Layout::IsEmpty(slot) ? nullptr : &slot;
  }

  // The bucket a look-up of `key` starts at (null when there are none): a
  // prefetch hint for loops over millions of keys.
  const Bucket* FirstBucket(const uint8_t* key) const {
    return bucketCount_ != 0 ? &buckets_[KeyBucket(key, bucketCount_)] : nullptr;
  }
  void PrefetchBucket(const uint8_t* key) const {
    if (const Bucket* first = FirstBucket(key)) __builtin_prefetch(first);
  }

  size_t size() const { return count_; }
  size_t bucketCount() const { return bucketCount_; }
  const Layout& layout() const { return layout_; }

 private:
  // The bucket holding `key`, or the empty bucket where it would go.
  size_t Probe(const uint8_t* key) const {
    const size_t mask = bucketCount_ - 1;
    for (size_t bucket = KeyBucket(key, bucketCount_);; bucket = (bucket + 1) & mask) {
      const Bucket& slot = buckets_[bucket];
      if (Layout::IsEmpty(slot) || layout_.Holds(slot, key)) return bucket;
    }
  }

  std::unique_ptr<Bucket[], RawAllocationDeleter> buckets_;
  size_t bucketCount_ = 0;
  size_t count_ = 0;
  Layout layout_{};
};

}  // namespace kestrine

// The key hash map under its three rules: linear probing from the bucket of
// the key's first bytes (wrapping at the end), the first entry of a key
// staying, and one bucket always left empty.
#include "common/key_hash_map.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "common/raw_allocation.h"

namespace kestrine {
namespace {

using Key = std::array<uint8_t, 8>;

// Buckets holding an 8-byte key and a value.
struct ValueLayout {
  struct Bucket {
    Key key;
    uint32_t value;
    uint8_t used;
  };
  static bool IsEmpty(const Bucket& bucket) { return bucket.used == 0; }
  bool Holds(const Bucket& bucket, const uint8_t* key) const {
    return std::equal(bucket.key.begin(), bucket.key.end(), key);
  }
};

using Map = KeyHashMap<ValueLayout>;

// A key starting with `first` (big-endian) and ending with `rest`.
Key MakeKey(uint32_t first, uint32_t rest) {
  return {static_cast<uint8_t>(first >> 24), static_cast<uint8_t>(first >> 16),
          static_cast<uint8_t>(first >> 8),  static_cast<uint8_t>(first),
          static_cast<uint8_t>(rest >> 24),  static_cast<uint8_t>(rest >> 16),
          static_cast<uint8_t>(rest >> 8),   static_cast<uint8_t>(rest)};
}

bool Insert(Map& map, const Key& key, uint32_t value) {
  return map.Insert(key.data(), {key, value, 1});
}

// The value found for `key`, or -1.
int64_t ValueOf(const Map& map, const Key& key) {
  const ValueLayout::Bucket* found = map.Find(key.data());
  return found != nullptr ? int64_t{found->value} : -1;
}

TEST(KeyHashMapTest, BucketComesFromTheFirstFourBytesInTheirOrder) {
  EXPECT_EQ(KeyBucket(MakeKey(0x00000000, 0xFFFFFFFF).data(), 256), 0u);
  EXPECT_EQ(KeyBucket(MakeKey(0xFFFFFFFF, 0).data(), 256), 255u);
  EXPECT_EQ(KeyBucket(MakeKey(0x80FFFFFF, 0).data(), 256), 0x80u);
  EXPECT_EQ(KeyBucket(MakeKey(0x80FFFFFF, 0).data(), 512), 0x101u);
  // Sorted keys take non-decreasing buckets.
  size_t previous = 0;
  for (uint32_t first = 0; first < 0xFFFF0000u; first += 0x01234567) {
    const size_t bucket = KeyBucket(MakeKey(first, 0).data(), 1024);
    EXPECT_GE(bucket, previous);
    previous = bucket;
  }
  EXPECT_EQ(KeyTag(MakeKey(0, 0x01020304).data()), 0x04030201u);
}

// Keys of one start bucket chain past each other, and the chain at the last
// bucket wraps to the first; every key is found with its own value, and a
// key of the same start bucket that is absent is not.
TEST(KeyHashMapTest, CollidingKeysProbeOnAndWrapAround) {
  Map map;
  ASSERT_TRUE(map.Create(0));
  ASSERT_EQ(map.bucketCount(), 256u);
  std::vector<Key> keys;
  for (uint32_t i = 0; i < 5; ++i) keys.push_back(MakeKey(0xFFFFFFFF, i));  // bucket 255
  for (uint32_t i = 0; i < 3; ++i) keys.push_back(MakeKey(0x00000000, i));  // bucket 0
  for (uint32_t i = 0; i < keys.size(); ++i) EXPECT_TRUE(Insert(map, keys[i], i));
  EXPECT_EQ(map.size(), keys.size());
  for (uint32_t i = 0; i < keys.size(); ++i) EXPECT_EQ(ValueOf(map, keys[i]), i) << i;
  EXPECT_EQ(ValueOf(map, MakeKey(0xFFFFFFFF, 99)), -1);
  EXPECT_EQ(ValueOf(map, MakeKey(0x00000000, 99)), -1);
  EXPECT_EQ(ValueOf(map, MakeKey(0x12345678, 0)), -1);
}

TEST(KeyHashMapTest, FirstEntryOfAKeyStays) {
  Map map;
  ASSERT_TRUE(map.Create(10));
  const Key key = MakeKey(0x40000000, 7);
  EXPECT_TRUE(Insert(map, key, 1));
  EXPECT_FALSE(Insert(map, key, 2));
  EXPECT_EQ(map.size(), 1u);
  EXPECT_EQ(ValueOf(map, key), 1);
}

// Insertions stop one bucket short of the count, so that a look-up of an
// absent key, even among keys of one start bucket, still meets an empty
// bucket and ends.
TEST(KeyHashMapTest, StopsOneShortOfFull) {
  Map map;
  ASSERT_TRUE(map.Create(192));
  ASSERT_EQ(map.bucketCount(), 256u);
  uint32_t accepted = 0;
  for (uint32_t i = 0; i < 300; ++i) accepted += Insert(map, MakeKey(0xABCD0000, i), i) ? 1 : 0;
  EXPECT_EQ(accepted, 255u);
  EXPECT_EQ(map.size(), 255u);
  EXPECT_EQ(ValueOf(map, MakeKey(0xABCD0000, 0)), 0);
  EXPECT_EQ(ValueOf(map, MakeKey(0xABCD0000, 254)), 254);
  EXPECT_EQ(ValueOf(map, MakeKey(0xABCD0000, 255)), -1);
  EXPECT_EQ(ValueOf(map, MakeKey(0x11110000, 0)), -1);
}

// Without memory the map has no bucket: it takes nothing and finds nothing.
TEST(KeyHashMapTest, FailedAllocationLeavesAMapWithoutBuckets) {
  Map map;
  ASSERT_TRUE(map.Create(0));
  ASSERT_TRUE(Insert(map, MakeKey(1, 1), 1));
  SetRawAllocationGate([] { return false; });
  const bool created = map.Create(1000);
  SetRawAllocationGate(nullptr);
  EXPECT_FALSE(created);
  EXPECT_EQ(map.bucketCount(), 0u);
  EXPECT_EQ(map.size(), 0u);
  EXPECT_EQ(map.FirstBucket(MakeKey(1, 1).data()), nullptr);
  EXPECT_EQ(ValueOf(map, MakeKey(1, 1)), -1);
  EXPECT_FALSE(Insert(map, MakeKey(1, 1), 1));
}

}  // namespace
}  // namespace kestrine

// Bucket counts of the key hash maps.
#include "common/key_hash_map.h"

namespace kestrine {
namespace {

constexpr size_t kMinimumBuckets = 256;

}  // namespace

size_t HashBucketCount(size_t count) {
  const size_t wanted = count / 3 > SIZE_MAX / 4 ? SIZE_MAX : count * 4 / 3;
  size_t buckets = kMinimumBuckets;
  while (buckets < wanted && buckets <= SIZE_MAX / 2) buckets *= 2;
  return buckets;
}

}  // namespace kestrine

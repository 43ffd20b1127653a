#include "common/lookup3.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestrine {
namespace {

constexpr char kFourScore[] = "Four score and seven years ago";  // 30 characters

struct Pair {
  uint32_t c, b;
};

Pair Hash2(const void* key, size_t length, uint32_t c, uint32_t b) {
  hashlittle2(key, length, &c, &b);
  return {c, b};
}

// lookup3.c's aligned path, as written there: whole 32-bit word reads, the
// last words masked down to the key's bytes. It may read up to 3 bytes past the
// key, so callers pass a key inside a larger buffer. Its own results are
// checked against the published values below; it then pins the block loop and
// tail handling of our byte-wise version for every length.
uint32_t Rot(uint32_t x, int k) {
  return (x << k) | (x >> (32 - k));
}

Pair ReferenceHash2(const uint8_t* key, size_t length, uint32_t c0, uint32_t b0) {
  uint32_t a, b, c;
  a = b = c = 0xdeadbeef + static_cast<uint32_t>(length) + c0;
  c += b0;
  auto word = [&](size_t i) {
    uint32_t w;
    std::memcpy(&w, key + 4 * i, 4);
    return w;
  };
  for (; length > 12; length -= 12, key += 12) {
    a += word(0), b += word(1), c += word(2);
    a -= c, a ^= Rot(c, 4), c += b;
    b -= a, b ^= Rot(a, 6), a += c;
    c -= b, c ^= Rot(b, 8), b += a;
    a -= c, a ^= Rot(c, 16), c += b;
    b -= a, b ^= Rot(a, 19), a += c;
    c -= b, c ^= Rot(b, 4), b += a;
  }
  if (length == 0) return {c, b};
  auto masked = [&](size_t i) {
    size_t have = length > 4 * i ? std::min<size_t>(length - 4 * i, 4) : 0;
    return have == 0 ? 0u : word(i) & (0xffffffffu >> (32 - 8 * have));
  };
  a += masked(0), b += masked(1), c += masked(2);
  c ^= b, c -= Rot(b, 14);
  a ^= c, a -= Rot(c, 11);
  b ^= a, b -= Rot(a, 25);
  c ^= b, c -= Rot(b, 16);
  a ^= c, a -= Rot(c, 4);
  b ^= a, b -= Rot(a, 14);
  c ^= b, c -= Rot(b, 24);
  return {c, b};
}

// The values printed by the self-test driver (driver5) of Bob Jenkins' lookup3.c.
TEST(Lookup3Test, PublishedDriverValues) {
  EXPECT_EQ(hashlittle("", 0, 0), 0xdeadbeefu);

  struct Case {
    const char* key;
    uint32_t c, b;          // seeds
    uint32_t hashC, hashB;  // results
  };
  const Case cases[] = {
      {"", 0, 0, 0xdeadbeef, 0xdeadbeef},
      {"", 0, 0xdeadbeef, 0xbd5b7dde, 0xdeadbeef},
      {"", 0xdeadbeef, 0xdeadbeef, 0x9c093ccd, 0xbd5b7dde},
      {kFourScore, 0, 0, 0x17770551, 0xce7226e6},
      {kFourScore, 0, 1, 0xe3607cae, 0xbd371de4},
      {kFourScore, 1, 0, 0xcd628161, 0x6cbea4b3},
  };
  for (const Case& t : cases) {
    const size_t length = std::strlen(t.key);
    Pair result = Hash2(t.key, length, t.c, t.b);
    EXPECT_EQ(result.c, t.hashC) << t.key << " seeds " << t.c << "," << t.b;
    EXPECT_EQ(result.b, t.hashB) << t.key << " seeds " << t.c << "," << t.b;

    std::vector<uint8_t> padded(length + 4, 0xee);
    std::memcpy(padded.data(), t.key, length);
    Pair reference = ReferenceHash2(padded.data(), length, t.c, t.b);
    EXPECT_EQ(reference.c, t.hashC);
    EXPECT_EQ(reference.b, t.hashB);
  }

  EXPECT_EQ(hashlittle(kFourScore, 30, 0), 0x17770551u);
  EXPECT_EQ(hashlittle(kFourScore, 30, 1), 0xcd628161u);
}

// Every length up to three blocks and a tail, compared with the original's
// word-reading formulation: catches an off-by-one in the block loop (a 12-byte
// key is all tail) and misplaced tail bytes, which the published values miss.
// hashlittle is hashlittle2's primary result with a zero secondary seed.
TEST(Lookup3Test, MatchesWordReadingFormulationForEveryLength) {
  std::vector<uint8_t> data(48 + 4, 0xee);
  for (size_t i = 0; i < 48; ++i) data[i] = static_cast<uint8_t>(i * 73 + 11);
  for (size_t length = 0; length <= 48; ++length) {
    for (auto [c, b] : {Pair{0, 0}, Pair{0x9e3779b9, 0x7f4a7c15}}) {
      Pair expected = ReferenceHash2(data.data(), length, c, b);
      Pair actual = Hash2(data.data(), length, c, b);
      EXPECT_EQ(actual.c, expected.c) << "length " << length;
      EXPECT_EQ(actual.b, expected.b) << "length " << length;
      EXPECT_EQ(hashlittle(data.data(), length, c), ReferenceHash2(data.data(), length, c, 0).c)
          << "length " << length;
    }
  }
}

// The key placed flush against an inaccessible page: any read past the end
// faults. The result must equal the hash of the same bytes with readable,
// non-zero bytes after them, and must not depend on the key's alignment.
TEST(Lookup3Test, NeverReadsPastTheKey) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto* region = static_cast<uint8_t*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(region, MAP_FAILED);
  ASSERT_EQ(mprotect(region + page, page, PROT_NONE), 0);
  uint8_t* end = region + page;

  std::vector<uint8_t> padded(64 + 3, 0xff);
  for (size_t length = 0; length <= 40; ++length) {
    uint8_t* key = end - length;
    for (size_t i = 0; i < length; ++i) key[i] = static_cast<uint8_t>(i * 37 + length);
    for (size_t misalign = 0; misalign < 4; ++misalign) {
      std::memcpy(padded.data() + misalign, key, length);
      const uint8_t* copy = padded.data() + misalign;
      EXPECT_EQ(hashlittle(key, length, 7), hashlittle(copy, length, 7)) << "length " << length;
      Pair atEnd = Hash2(key, length, 7, 9);
      Pair inside = Hash2(copy, length, 7, 9);
      EXPECT_EQ(atEnd.c, inside.c) << "length " << length;
      EXPECT_EQ(atEnd.b, inside.b) << "length " << length;
      std::memset(padded.data(), 0xff, padded.size());
    }
  }
  munmap(region, 2 * page);
}

}  // namespace
}  // namespace kestrine

// The fast inflate path must give zlib's one-call result on every stream:
// the same error, the same produced count and the same bytes, zero-filled
// behind what was produced.
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "encoded/inflate.h"
#include "kestrine.h"
#include "testkit/blte.h"

namespace kestrine {
namespace {

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::vector<uint8_t> stream(size);
  EXPECT_EQ(compress2(stream.data(), &size, content.data(), static_cast<uLong>(content.size()), 6),
            Z_OK);
  stream.resize(size);
  return stream;
}

struct Outcome {
  uint32_t error = 0;
  size_t produced = 0;
  std::vector<uint8_t> out;
};

template <typename Inflate>
Outcome InflateInto(Inflate inflate, const std::vector<uint8_t>& in, size_t room) {
  Outcome outcome;
  outcome.out.assign(room, 0xA5);  // stale bytes must not survive
  outcome.error = inflate(in, outcome.out, &outcome.produced);
  return outcome;
}

TEST(InflateTest, FastPathGivesZlibsResultOnEveryKindOfStream) {
  const std::vector<uint8_t> content = testkit::DataLikeBytes(20000, 1);
  const std::vector<uint8_t> stream = Deflate(content);
  auto cut = [&](size_t bytes) {
    return std::vector<uint8_t>(stream.begin(), stream.end() - static_cast<ptrdiff_t>(bytes));
  };
  std::vector<uint8_t> trailing = stream;
  trailing.insert(trailing.end(), {1, 2, 3});
  std::vector<uint8_t> damaged = stream;
  for (size_t i = 10; i < damaged.size() - 10; i += 7) damaged[i] ^= 0x3C;
  std::vector<uint8_t> badChecksum = stream;
  badChecksum.back() ^= 1;
  std::vector<uint8_t> dictionary = stream;
  dictionary[1] |= 0x20;  // FDICT, with a header check that no longer holds
  std::vector<uint8_t> dictionaryValid = {0x78, 0xBB, 0, 0, 0, 1};  // FDICT, valid check

  const struct {
    const char* label;
    std::vector<uint8_t> in;
    size_t room;
    bool ok;
    size_t produced;
  } cases[] = {
      {"exact", stream, content.size(), true, content.size()},
      {"room larger than the content", stream, content.size() + 100, true, content.size()},
      {"room smaller than the content", stream, 5000, true, 5000},
      {"bytes behind the stream", trailing, content.size(), true, content.size()},
      {"checksum cut short", cut(2), content.size(), true, content.size()},
      {"checksum missing", cut(4), content.size(), true, content.size()},
      {"wrong checksum", badChecksum, content.size(), false, 0},
      {"damaged", damaged, content.size(), false, 0},
      {"preset dictionary", dictionary, content.size(), false, 0},
      {"preset dictionary, valid header", dictionaryValid, 100, false, 0},
      {"nothing", {}, 100, false, 0},
      {"no room", stream, 0, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Outcome zlib = InflateInto(
        [](auto& in, auto& out, size_t* produced) { return InflateWithZlib(in, out, produced); },
        c.in, c.room);
    const Outcome fast = InflateInto(
        [](auto& in, auto& out, size_t* produced) { return InflateFrame(in, out, produced); }, c.in,
        c.room);
    EXPECT_EQ(zlib.error, c.ok ? kErrorSuccess : kErrorFileCorrupt);
    EXPECT_EQ(zlib.produced, c.produced);
    EXPECT_EQ(fast.error, zlib.error);
    EXPECT_EQ(fast.produced, zlib.produced);
    EXPECT_TRUE(fast.out == zlib.out);
    for (size_t i = c.produced; i < c.room; ++i) ASSERT_EQ(fast.out[i], 0) << i;
    if (c.ok) {
      EXPECT_TRUE(std::equal(fast.out.begin(), fast.out.begin() + c.produced, content.begin()));
    }
  }
}

}  // namespace
}  // namespace kestrine

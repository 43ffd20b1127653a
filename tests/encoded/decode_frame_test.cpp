// One frame decoded by itself: the IV that encrypted frames are read with,
// the key table, and the entry kinds that bypass the frame modes.
#include <zlib.h>

#include <array>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "common/salsa20.h"
#include "encoded/decode_frame.h"
#include "encoded/decryption_keys.h"
#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/build_files.h"

namespace kestrine {
namespace {

TFrame FrameOf(uint32_t contentSize) {
  TFrame frame;
  frame.contentSize = contentSize;
  frame.contentEnd = contentSize;
  return frame;
}

TEST(DecodeFrameTest, FourByteIvIsWidenedWithZerosAndMixedWithTheFrameIndex) {
  const Key16 key = testkit::KeyFromSeed(3);
  DecryptionKeyTable keys;
  keys.Add(0x42, key);
  const std::vector<uint8_t> content{'h', 'e', 'l', 'l', 'o'};
  // Frame 1 of its span: IV 0A 0B 0C 0D becomes the nonce 0B 0B 0C 0D 00 00 00 00.
  std::vector<uint8_t> inner{'N'};
  inner.insert(inner.end(), content.begin(), content.end());
  const std::array<uint8_t, 8> nonce{0x0B, 0x0B, 0x0C, 0x0D, 0, 0, 0, 0};
  Salsa20(key, nonce).Xor(0, inner);
  std::vector<uint8_t> frame{'E', 8, 0x42, 0, 0, 0, 0, 0, 0, 0, 4, 0x0A, 0x0B, 0x0C, 0x0D, 'S'};
  frame.insert(frame.end(), inner.begin(), inner.end());

  FrameDecodeContext context;
  context.keys = &keys;
  std::vector<uint8_t> out(5);
  ASSERT_EQ(DecodeFrameBytes(context, FrameOf(5), frame, out.data(), 1), kErrorSuccess);
  EXPECT_EQ(out, content);
  // As frame 0 the same bytes decrypt to something else.
  const bool sameAsFrame0 =
      DecodeFrameBytes(context, FrameOf(5), frame, out.data(), 0) == kErrorSuccess &&
      out == content;
  EXPECT_FALSE(sameAsFrame0);
}

TEST(DecodeFrameTest, KeyTableKeepsTheFirstKeyOfAName) {
  DecryptionKeyTable keys;
  const Key16 first = testkit::KeyFromSeed(1);
  const Key16 second = testkit::KeyFromSeed(2);
  EXPECT_TRUE(keys.Add(0x1100, first));
  EXPECT_TRUE(keys.Add(0x2200, second));  // same bucket, other name
  EXPECT_FALSE(keys.Add(0x1100, second));
  EXPECT_EQ(keys.size(), 2u);
  ASSERT_NE(keys.Find(0x1100), nullptr);
  EXPECT_EQ(std::memcmp(keys.Find(0x1100), first.data(), 16), 0);
  EXPECT_EQ(std::memcmp(keys.Find(0x2200), second.data(), 16), 0);
  EXPECT_EQ(keys.Find(0x3300), nullptr);
  // The public entry point checks its storage handle.
  EXPECT_FALSE(AddDecryptionKey(nullptr, 1, first.data()));
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
}

TEST(DecodeFrameTest, OutputIsWrittenWholeWhateverTheFrame) {
  FrameDecodeContext context;
  std::vector<uint8_t> out(8, 0xEE);
  // A plain payload shorter than the content is zero-filled behind.
  const std::vector<uint8_t> shortPlain{'N', 1, 2, 3};
  ASSERT_EQ(DecodeFrameBytes(context, FrameOf(8), shortPlain, out.data(), 0), kErrorSuccess);
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 0, 0, 0, 0, 0}));
  // Nothing at all, or a lone 'E', is a damaged frame.
  EXPECT_EQ(DecodeFrameBytes(context, FrameOf(8), {}, out.data(), 0), kErrorFileCorrupt);
  const std::vector<uint8_t> loneE{'E'};
  EXPECT_EQ(DecodeFrameBytes(context, FrameOf(8), loneE, out.data(), 0), kErrorFileCorrupt);
}

TEST(DecodeFrameTest, BareZlibAndPlainEntriesSkipTheFrameModes) {
  const std::vector<uint8_t> content = testkit::DataLikeBytes(3000, 4);
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::vector<uint8_t> stream(size);
  ASSERT_EQ(compress2(stream.data(), &size, content.data(), static_cast<uLong>(content.size()), 9),
            Z_OK);
  stream.resize(size);

  FrameDecodeContext context;
  context.entryFlags = EF_BARE_ZLIB;
  std::vector<uint8_t> out(content.size());
  ASSERT_EQ(DecodeFrameBytes(context, FrameOf(3000), stream, out.data(), 0), kErrorSuccess);
  EXPECT_EQ(out, content);

  // Plain entries are copied as they are, even when they begin like a frame.
  context.entryFlags = EF_PLAIN;
  const std::vector<uint8_t> plain{'Z', 'x', 'y'};
  out.assign(3, 0);
  ASSERT_EQ(DecodeFrameBytes(context, FrameOf(3), plain, out.data(), 0), kErrorSuccess);
  EXPECT_EQ(out, plain);
}

}  // namespace
}  // namespace kestrine

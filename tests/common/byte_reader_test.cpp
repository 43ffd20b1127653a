// The bounds-checked reader. Every buffer ends where an inaccessible page
// begins, so a read of even one byte too many faults.
#include "common/byte_reader.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tool/test_util.h"

namespace kestrine {
namespace {

using test::GuardedBytes;

std::vector<uint8_t> Counting(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i + 1);
  return bytes;
}

std::vector<uint8_t> ToVector(std::span<const uint8_t> bytes) {
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

TEST(ByteReaderTest, ReadsLittleAndBigEndianIntegers) {
  GuardedBytes data(Counting(8));  // 01 02 .. 08
  struct Case {
    const char* what;
    std::function<uint64_t(ByteReader&)> read;
    uint64_t value;
  };
  const Case cases[] = {
      {"u8", [](ByteReader& r) { return r.u8(); }, 0x01},
      {"u16le", [](ByteReader& r) { return r.u16le(); }, 0x0201},
      {"u32le", [](ByteReader& r) { return r.u32le(); }, 0x04030201},
      {"u64le", [](ByteReader& r) { return r.u64le(); }, 0x0807060504030201},
      {"u16be", [](ByteReader& r) { return r.u16be(); }, 0x0102},
      {"u24be", [](ByteReader& r) { return r.u24be(); }, 0x010203},
      {"u32be", [](ByteReader& r) { return r.u32be(); }, 0x01020304},
      {"u40be", [](ByteReader& r) { return r.u40be(); }, 0x0102030405},
      {"u64be", [](ByteReader& r) { return r.u64be(); }, 0x0102030405060708},
  };
  for (const Case& c : cases) {
    ByteReader reader(data.span());
    EXPECT_EQ(c.read(reader), c.value) << c.what;
    EXPECT_TRUE(reader.ok()) << c.what;
  }
  // High bytes must not sign-extend.
  GuardedBytes high({0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8});
  ByteReader reader(high.span());
  EXPECT_EQ(reader.u32le(), 0xFCFDFEFFu);
  EXPECT_EQ(reader.u32be(), 0xFBFAF9F8u);
}

TEST(ByteReaderTest, ReadsUpToTheLastByteExactly) {
  GuardedBytes data(Counting(15));
  ByteReader reader(data.span());
  EXPECT_EQ(reader.u64le(), 0x0807060504030201u);
  EXPECT_EQ(reader.u32be(), 0x090A0B0Cu);
  EXPECT_EQ(reader.u16le(), 0x0E0Du);
  EXPECT_EQ(reader.u8(), 0x0F);
  EXPECT_TRUE(reader.ok());
  EXPECT_EQ(reader.offset(), 15u);
  EXPECT_EQ(reader.remaining(), 0u);
  EXPECT_TRUE(reader.bytes(0).empty());
  EXPECT_TRUE(reader.ok());
}

TEST(ByteReaderTest, ReadPastTheEndFailsWithoutMoving) {
  struct Case {
    const char* what;
    size_t width;
    std::function<uint64_t(ByteReader&)> read;
  };
  const Case cases[] = {
      {"u8", 1, [](ByteReader& r) { return r.u8(); }},
      {"u16le", 2, [](ByteReader& r) { return r.u16le(); }},
      {"u32le", 4, [](ByteReader& r) { return r.u32le(); }},
      {"u64le", 8, [](ByteReader& r) { return r.u64le(); }},
      {"u16be", 2, [](ByteReader& r) { return r.u16be(); }},
      {"u24be", 3, [](ByteReader& r) { return r.u24be(); }},
      {"u32be", 4, [](ByteReader& r) { return r.u32be(); }},
      {"u40be", 5, [](ByteReader& r) { return r.u40be(); }},
      {"u64be", 8, [](ByteReader& r) { return r.u64be(); }},
      {"bytes", 3, [](ByteReader& r) { return r.bytes(3).size(); }},
      {"skip", 3, [](ByteReader& r) { return uint64_t{r.skip(3)}; }},
  };
  for (const Case& c : cases) {
    // One byte consumed, then one byte fewer than the read needs.
    GuardedBytes data(Counting(c.width));
    ByteReader reader(data.span());
    reader.u8();
    EXPECT_EQ(c.read(reader), 0u) << c.what;
    EXPECT_FALSE(reader.ok()) << c.what;
    EXPECT_EQ(reader.offset(), 1u) << c.what;
  }
}

TEST(ByteReaderTest, FailureIsSticky) {
  GuardedBytes data(Counting(4));
  ByteReader reader(data.span());
  EXPECT_EQ(reader.u64le(), 0u);
  EXPECT_FALSE(reader.ok());
  EXPECT_EQ(reader.u16le(), 0x0201u) << "a fitting read still reads";
  EXPECT_FALSE(reader.ok());
  EXPECT_TRUE(reader.seek(0));
  EXPECT_FALSE(reader.ok());
}

TEST(ByteReaderTest, HugeCountsDoNotWrapAround) {
  GuardedBytes data(Counting(16));
  ByteReader reader(data.span());
  reader.skip(4);
  for (size_t n : {SIZE_MAX, SIZE_MAX - 3, SIZE_MAX - 4, size_t{13}}) {
    EXPECT_TRUE(reader.bytes(n).empty()) << n;
    EXPECT_FALSE(reader.skip(n)) << n;
    EXPECT_EQ(reader.sub(n).size(), 0u) << n;
    EXPECT_EQ(reader.offset(), 4u) << n;
  }
  EXPECT_FALSE(reader.seek(SIZE_MAX));
  EXPECT_EQ(reader.offset(), 4u);
  EXPECT_FALSE(reader.ok());
}

TEST(ByteReaderTest, SubReaderIsConfinedToItsBytes) {
  GuardedBytes data(Counting(8));
  ByteReader reader(data.span());
  reader.u8();
  ByteReader sub = reader.sub(3);  // 02 03 04
  EXPECT_EQ(reader.offset(), 4u);
  EXPECT_EQ(sub.size(), 3u);
  EXPECT_EQ(sub.u16be(), 0x0203u);
  EXPECT_EQ(sub.u16be(), 0u) << "the parent's bytes are not the sub-reader's";
  EXPECT_FALSE(sub.ok());
  EXPECT_TRUE(reader.ok());
  EXPECT_EQ(reader.u8(), 0x05);

  ByteReader tooLong = reader.sub(4);
  EXPECT_EQ(tooLong.size(), 0u);
  EXPECT_FALSE(reader.ok());
  EXPECT_EQ(reader.offset(), 5u);
}

TEST(ByteReaderTest, SeekMovesWithinTheDataOnly) {
  GuardedBytes data(Counting(6));
  ByteReader reader(data.span());
  EXPECT_TRUE(reader.seek(6));
  EXPECT_EQ(reader.remaining(), 0u);
  EXPECT_TRUE(reader.seek(2));
  EXPECT_EQ(reader.u8(), 0x03);
  EXPECT_FALSE(reader.seek(7));
  EXPECT_EQ(reader.offset(), 3u);
  EXPECT_FALSE(reader.ok());
}

TEST(ByteReaderTest, UntilConsumesTheTerminatorOrFailsInPlace) {
  GuardedBytes data(std::vector<uint8_t>{'a', 'b', 0, 0, 'c', 'd'});
  ByteReader reader(data.span());
  EXPECT_EQ(ToVector(reader.until(0)), (std::vector<uint8_t>{'a', 'b'}));
  EXPECT_EQ(reader.offset(), 3u);
  EXPECT_TRUE(reader.until(0).empty());
  EXPECT_EQ(reader.offset(), 4u);
  EXPECT_TRUE(reader.ok());
  // "cd" runs to the end of the data: nothing is read beyond it.
  EXPECT_TRUE(reader.until(0).empty());
  EXPECT_EQ(reader.offset(), 4u);
  EXPECT_FALSE(reader.ok());

  GuardedBytes last(std::vector<uint8_t>{'x', 'y', '\n'});
  ByteReader lastReader(last.span());
  EXPECT_EQ(ToVector(lastReader.until('\n')), (std::vector<uint8_t>{'x', 'y'}));
  EXPECT_EQ(lastReader.remaining(), 0u);
  EXPECT_TRUE(lastReader.ok());
}

TEST(ByteReaderTest, EmptyReaderFailsEveryRead) {
  ByteReader reader;
  EXPECT_EQ(reader.u8(), 0u);
  EXPECT_TRUE(reader.until(0).empty());
  EXPECT_FALSE(reader.ok());
  EXPECT_TRUE(reader.seek(0));
  EXPECT_EQ(reader.offset(), 0u);
}

}  // namespace
}  // namespace kestrine

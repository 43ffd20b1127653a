// The test writers' ByteWriter: byte orders, widths past eight bytes, and
// the edits of bytes written already.
#include "testkit/byte_writer.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "common/byte_reader.h"

namespace kestrine::testkit {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kValue = 0x0102030405060708;

TEST(ByteWriterTest, WritesEachWidthInBothByteOrders) {
  ByteWriter le;
  le.u16le(static_cast<uint16_t>(kValue));
  le.u24le(static_cast<uint32_t>(kValue));
  le.u32le(static_cast<uint32_t>(kValue));
  le.u40le(kValue);
  le.u64le(kValue);
  EXPECT_EQ(le.take(), (Bytes{8, 7, 8, 7, 6, 8, 7, 6, 5, 8, 7, 6, 5, 4, 8, 7, 6, 5, 4, 3, 2, 1}));

  ByteWriter be;
  be.u16be(static_cast<uint16_t>(kValue));
  be.u24be(static_cast<uint32_t>(kValue));
  be.u32be(static_cast<uint32_t>(kValue));
  be.u40be(kValue);
  be.u64be(kValue);
  EXPECT_EQ(be.take(), (Bytes{7, 8, 6, 7, 8, 5, 6, 7, 8, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8}));
}

// What the writer writes, the reader reads back.
TEST(ByteWriterTest, ByteReaderReadsBackWhatItWrites) {
  ByteWriter w;
  w.u8(0xA5);
  w.u16le(0xBEEF);
  w.u32le(0xDEADBEEF);
  w.u64le(0x1122334455667788);
  w.u16be(0xCAFE);
  w.u24be(0xABCDEF);
  w.u32be(0xFEEDFACE);
  w.u40be(0x123456789A);
  w.u64be(0x8877665544332211);
  const Bytes bytes = w.take();
  ByteReader r(bytes);
  EXPECT_EQ(r.u8(), 0xA5);
  EXPECT_EQ(r.u16le(), 0xBEEF);
  EXPECT_EQ(r.u32le(), 0xDEADBEEFu);
  EXPECT_EQ(r.u64le(), 0x1122334455667788u);
  EXPECT_EQ(r.u16be(), 0xCAFE);
  EXPECT_EQ(r.u24be(), 0xABCDEFu);
  EXPECT_EQ(r.u32be(), 0xFEEDFACEu);
  EXPECT_EQ(r.u40be(), 0x123456789Au);
  EXPECT_EQ(r.u64be(), 0x8877665544332211u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.remaining(), 0u);
}

// Widths beyond eight bytes are zero-extended on the value's high side;
// width 0 writes nothing.
TEST(ByteWriterTest, WideFieldsAreZeroExtended) {
  ByteWriter w;
  w.be(0x0102, 10);
  w.le(0x0102, 10);
  w.be(0xFF, 0);
  EXPECT_EQ(w.take(), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ByteWriterTest, EditsBytesWrittenAlready) {
  ByteWriter w;
  w.text("ab");
  w.zeros(6);
  w.patchU32le(1, 0x04030201);
  w.patchBytes(6, std::array<uint8_t, 2>{9, 8});
  EXPECT_EQ(w.take(), (Bytes{'a', 1, 2, 3, 4, 0, 9, 8}));

  ByteWriter sized(Bytes{1, 2, 3});
  sized.padTo(2);  // never cuts
  EXPECT_EQ(sized.size(), 3u);
  sized.padTo(5);
  sized.dropLast(1);
  EXPECT_EQ(sized.take(), (Bytes{1, 2, 3, 0}));
  EXPECT_EQ(sized.size(), 0u);  // taken

  sized.bytes(Bytes{5, 6, 7});
  sized.resize(2);
  EXPECT_EQ(sized.take(), (Bytes{5, 6}));
  sized.u8(1);
  sized.dropLast(5);  // more than there is
  EXPECT_EQ(sized.size(), 0u);
  EXPECT_THROW(sized.patchLe(0, 1, 1), std::out_of_range);
}

}  // namespace
}  // namespace kestrine::testkit

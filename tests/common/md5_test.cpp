#include "common/md5.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex_key.h"

namespace kestrine {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Md5Hex(std::string_view text) {
  return FormatHexKey(ComputeMd5(Bytes(text)));
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, Rfc1321TestSuite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Lengths around the padding boundaries (55 fits the length in the last block,
// 56..63 need an extra block) and around whole blocks, fed in chunk sizes that
// cross block boundaries in every phase. The one-shot digest is the reference.
TEST(Md5Test, IncrementalMatchesOneShot) {
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  for (size_t length : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 300}) {
    auto message = std::span<const uint8_t>(data).first(length);
    Md5Digest expected = ComputeMd5(message);
    for (size_t chunk : {1, 3, 7, 55, 63, 64, 65, 100}) {
      Md5 md5;
      for (size_t at = 0; at < length; at += chunk) {
        md5.Update(message.subspan(at, std::min(chunk, length - at)));
      }
      EXPECT_EQ(md5.Final(), expected) << "length " << length << ", chunk " << chunk;
    }
  }
}

// A long message and padding-boundary lengths against digests computed once
// with an independent MD5 implementation (the system's md5sum).
TEST(Md5Test, LengthsAroundPaddingBoundaries) {
  EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5Test, FinalResetsForTheNextMessage) {
  Md5 md5;
  md5.Update(Bytes("something else"));
  md5.Final();
  md5.Update(Bytes("abc"));
  EXPECT_EQ(FormatHexKey(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace kestrine

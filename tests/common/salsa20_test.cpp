#include "common/salsa20.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/hex_key.h"

namespace kestrine {
namespace {

using Block = std::array<uint8_t, 64>;

std::string BlockHex(const Salsa20& cipher, uint64_t counter) {
  Block out;
  cipher.Block(counter, out);
  return FormatHexKey(out);
}

Block Core(const Block& in) {
  Block out;
  Salsa20Core(in, out);
  return out;
}

// The core examples published with Salsa20 by D. J. Bernstein ("Salsa20 hash
// function" examples, bytes in decimal).
TEST(Salsa20Test, CoreMatchesPublishedExamples) {
  EXPECT_EQ(Core(Block{}), Block{});

  Block in1 = {211, 159, 13,  115, 76, 55,  82,  183, 3,   117, 222, 37,  191, 187, 234, 136,
               49,  237, 179, 48,  1,  106, 178, 219, 175, 199, 166, 48,  86,  16,  179, 207,
               31,  240, 32,  63,  15, 83,  93,  161, 116, 147, 48,  113, 238, 55,  204, 36,
               79,  201, 235, 79,  3,  81,  156, 47,  203, 26,  244, 243, 88,  118, 104, 54};
  Block out1 = {109, 42,  178, 168, 156, 240, 248, 238, 168, 196, 190, 203, 26,  110, 170, 154,
                29,  29,  150, 26,  150, 30,  235, 249, 190, 163, 251, 48,  69,  144, 51,  57,
                118, 40,  152, 157, 180, 57,  27,  94,  107, 42,  236, 35,  27,  111, 114, 114,
                219, 236, 232, 135, 111, 155, 110, 18,  24,  232, 95,  158, 179, 19,  48,  202};
  EXPECT_EQ(Core(in1), out1);

  Block in2 = {88,  118, 104, 54,  79,  201, 235, 79,  3,  81,  156, 47,  203, 26,  244, 243,
               191, 187, 234, 136, 211, 159, 13,  115, 76, 55,  82,  183, 3,   117, 222, 37,
               86,  16,  179, 207, 49,  237, 179, 48,  1,  106, 178, 219, 175, 199, 166, 48,
               238, 55,  204, 36,  31,  240, 32,  63,  15, 83,  93,  161, 116, 147, 48,  113};
  Block out2 = {179, 19,  48,  202, 219, 236, 232, 135, 111, 155, 110, 18,  24,  232, 95,  158,
                26,  110, 170, 154, 109, 42,  178, 168, 156, 240, 248, 238, 168, 196, 190, 203,
                69,  144, 51,  57,  29,  29,  150, 26,  150, 30,  235, 249, 190, 163, 251, 48,
                27,  111, 114, 114, 118, 40,  152, 157, 180, 57,  27,  94,  107, 42,  236, 35};
  EXPECT_EQ(Core(in2), out2);
}

// Same source: the core applied 1,000,000 times in a row.
TEST(Salsa20Test, CoreIteratedMillionTimes) {
  Block x = {6,   124, 83,  146, 38,  191, 9,  50,  4,   161, 47,  222, 122, 182, 223, 185,
             75,  27,  0,   216, 16,  122, 7,  89,  162, 104, 101, 147, 213, 21,  54,  95,
             225, 253, 139, 176, 105, 132, 23, 116, 76,  41,  176, 207, 221, 34,  157, 108,
             94,  94,  99,  52,  90,  117, 91, 220, 146, 190, 239, 143, 196, 176, 130, 186};
  Block expected = {8,   18,  38,  199, 119, 76,  215, 67,  173, 127, 144, 162, 103, 212, 176, 217,
                    192, 19,  233, 33,  159, 197, 154, 160, 128, 243, 219, 65,  171, 136, 135, 225,
                    123, 11,  68,  86,  237, 82,  20,  155, 133, 189, 9,   83,  167, 116, 194, 78,
                    122, 127, 195, 185, 185, 204, 188, 90,  245, 9,   183, 248, 226, 85,  245, 104};
  for (int i = 0; i < 1000000; ++i) x = Core(x);
  EXPECT_EQ(x, expected);
}

// Same source, key expansion examples: k0 = 1..16, k1 = 201..216 and the
// 16-byte input n = 101..116, which is the nonce (101..108) followed by the
// little-endian block counter (109..116).
TEST(Salsa20Test, KeyExpansionMatchesPublishedExamples) {
  std::array<uint8_t, 32> key;
  std::array<uint8_t, 8> nonce;
  for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(1 + i);
  for (int i = 0; i < 16; ++i) key[16 + i] = static_cast<uint8_t>(201 + i);
  for (int i = 0; i < 8; ++i) nonce[i] = static_cast<uint8_t>(101 + i);
  const uint64_t counter = 0x74737271706f6e6d;  // bytes 109..116

  Block out;
  Salsa20(key, nonce).Block(counter, out);
  EXPECT_EQ(out,
            (Block{69,  37,  68,  39,  41,  15,  107, 193, 255, 139, 122, 6,   170, 233, 217, 98,
                   89,  144, 182, 106, 21,  51,  200, 65,  239, 49,  222, 34,  215, 114, 40,  126,
                   104, 197, 7,   225, 197, 153, 31,  2,   102, 78,  76,  176, 84,  245, 246, 184,
                   177, 160, 133, 130, 6,   72,  149, 119, 192, 195, 132, 236, 234, 103, 246, 74}));

  Salsa20(std::span(key).first(16), nonce).Block(counter, out);
  EXPECT_EQ(out,
            (Block{39,  173, 46,  248, 30,  200, 82,  17,  48,  67, 254, 239, 37,  18,  13,  247,
                   241, 200, 61,  144, 10,  55,  50,  185, 6,   47, 246, 253, 143, 86,  187, 225,
                   134, 85,  110, 246, 161, 163, 43,  235, 231, 94, 171, 51,  145, 214, 112, 29,
                   14,  232, 5,   16,  151, 140, 183, 141, 171, 9,  122, 181, 104, 182, 177, 193}));
}

// eSTREAM verified test vectors, Set 1 vector 0 (key 80 00 .. 00, IV 0) for
// both key sizes: stream[0..63], [192..255], [256..319] and [448..511].
TEST(Salsa20Test, EstreamSet1Vector0) {
  const std::array<uint8_t, 8> iv{};
  std::array<uint8_t, 32> key{0x80};

  Salsa20 cipher128{std::span(key).first(16), iv};
  EXPECT_EQ(BlockHex(cipher128, 0),
            "4dfa5e481da23ea09a31022050859936da52fcee218005164f267cb65f5cfd7f"
            "2b4f97e0ff16924a52df269515110a07f9e460bc65ef95da58f740b7d1dbb0aa");
  EXPECT_EQ(BlockHex(cipher128, 3),
            "da9c1581f429e0a00f7d67e23b730676783b262e8eb43a25f55fb90b3e753aef"
            "8c6713ec66c51881111593ccb3e8cb8f8de124080501eeeb389c4bcb6977cf95");
  EXPECT_EQ(BlockHex(cipher128, 4),
            "7d5789631eb4554400e1e025935dfa7b3e9039d61bdc58a8697d36815bf1985c"
            "efdf7ae112e5bb81e37ecf0616ce7147fc08a93a367e08631f23c03b00a8da2f");
  EXPECT_EQ(BlockHex(cipher128, 7),
            "b375703739daced4dd4059fd71c3c47fc2f9939670fad4a46066adcc6a564578"
            "3308b90ffb72be04a6b147cbe38cc0c3b9267c296a92a7c69873f9f263be9703");

  Salsa20 cipher256(key, iv);
  EXPECT_EQ(BlockHex(cipher256, 0),
            "e3be8fdd8beca2e3ea8ef9475b29a6e7003951e1097a5c38d23b7a5fad9f6844"
            "b22c97559e2723c7cbbd3fe4fc8d9a0744652a83e72a9c461876af4d7ef1a117");
  EXPECT_EQ(BlockHex(cipher256, 3),
            "57be81f47b17d9ae7c4ff15429a73e10acf250ed3a90a93c711308a74c6216a9"
            "ed84cd126da7f28e8abf8bb63517e1ca98e712f4fb2e1a6aed9fdc73291faa17");
  EXPECT_EQ(BlockHex(cipher256, 4),
            "958211c4ba2ebd5838c635edb81f513a91a294e194f1c039aeec657dce40aa7e"
            "7c0af57cacefa40c9f14b71a4b3456a63e162ec7d8d10b8ffb1810d71001b618");
  EXPECT_EQ(BlockHex(cipher256, 7),
            "696afcfd0cddcc83c7e77f11a649d79acdc3354e9635ff137e929933a0bd6f53"
            "77efa105a3a4266b7c0d089d08f1e855cc32b15b93784a36e56a76cc64bc8477");
}

// Xor from any offset equals the matching slice of the keystream produced
// block by block, whatever the block order; applying it twice restores the data.
TEST(Salsa20Test, XorAtAnyOffsetMatchesKeystream) {
  std::array<uint8_t, 32> key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::array<uint8_t, 8> nonce = {1, 2, 3, 4, 5, 6, 7, 8};
  Salsa20 cipher(key, nonce);

  std::vector<uint8_t> keystream(6 * 64);
  for (uint64_t block : {5, 2, 0, 4, 1, 3}) {
    cipher.Block(block, std::span(keystream).subspan(block * 64).first<64>());
  }
  for (size_t offset : {0, 1, 63, 64, 100, 127, 200}) {
    for (size_t length : {0, 1, 28, 64, 150}) {
      std::vector<uint8_t> data(length, 0);
      cipher.Xor(offset, data);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), keystream.begin() + offset))
          << "offset " << offset << ", length " << length;
    }
  }

  std::vector<uint8_t> text(150);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> data = text;
  cipher.Xor(100, data);
  EXPECT_NE(data, text);
  cipher.Xor(100, data);
  EXPECT_EQ(data, text);
}

// The counter is a full 64 bits: blocks 2^32 apart differ, and a large byte
// offset selects the block it names.
TEST(Salsa20Test, CounterUsesAllSixtyFourBits) {
  std::array<uint8_t, 16> key{0x80};
  const std::array<uint8_t, 8> nonce{};
  Salsa20 cipher(key, nonce);
  EXPECT_NE(BlockHex(cipher, 1), BlockHex(cipher, (uint64_t{1} << 32) + 1));

  const uint64_t block = (uint64_t{3} << 40) + 9;
  Block expected, data{};
  cipher.Block(block, expected);
  cipher.Xor(block * 64, data);
  EXPECT_EQ(data, expected);
}

TEST(Salsa20Test, RejectsOtherKeySizes) {
  const std::array<uint8_t, 8> nonce{};
  std::array<uint8_t, 33> key{};
  for (size_t size : {0, 8, 15, 17, 24, 31, 33}) {
    EXPECT_THROW(Salsa20(std::span(key).first(size), nonce), std::invalid_argument) << size;
  }
}

}  // namespace
}  // namespace kestrine

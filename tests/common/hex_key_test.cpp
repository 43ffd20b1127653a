#include "common/hex_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string>

namespace kestrine {
namespace {

const Key16 kKey = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                    0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

TEST(HexKeyTest, ParsesEitherCaseAndFormatsLowerCase) {
  for (const char* text : {"0123456789abcdeffedcba9876543210", "0123456789ABCDEFFEDCBA9876543210",
                           "0123456789aBcDeFFeDcBa9876543210"}) {
    Key16 key{};
    ASSERT_TRUE(ParseHexKey(text, key)) << text;
    EXPECT_EQ(key, kKey) << text;
    EXPECT_TRUE(IsHexKey(text));
  }

  EXPECT_EQ(FormatHexKey(kKey), "0123456789abcdeffedcba9876543210");
  char buffer[33];
  std::fill(std::begin(buffer), std::end(buffer), 'Z');
  FormatHexKey(kKey, buffer);
  EXPECT_STREQ(buffer, "0123456789abcdeffedcba9876543210");

  const std::array<uint8_t, 3> shortBytes = {0x00, 0x0f, 0xf0};
  EXPECT_EQ(FormatHexKey(shortBytes), "000ff0");
}

TEST(HexKeyTest, RefusesWrongLengthsAndNonHexCharacters) {
  const std::string valid = "0123456789abcdeffedcba9876543210";
  const std::string invalid[] = {
      "",
      valid.substr(0, 31),
      valid + "0",
      valid.substr(0, 30) + "g0",
      valid.substr(0, 31) + " ",
      " " + valid.substr(1),
      valid.substr(0, 16) + "-" + valid.substr(17),
      valid.substr(0, 31) + ":",  // just past '9'
      valid.substr(0, 31) + "@",  // just before 'A'
      valid.substr(0, 31) + "`",  // just before 'a'
      std::string("0123456789abcdef\0edcba9876543210", 32),
  };
  for (const std::string& text : invalid) {
    Key16 key = kKey;
    EXPECT_FALSE(ParseHexKey(text, key)) << text;
    EXPECT_EQ(key, kKey) << "changed by a failed parse: " << text;
    EXPECT_FALSE(IsHexKey(text)) << text;
  }
}

TEST(HexKeyTest, ParsesBytesOfAnyLength) {
  std::array<uint8_t, 3> bytes{};
  EXPECT_TRUE(ParseHexBytes("A0b1FF", bytes));
  EXPECT_EQ(bytes, (std::array<uint8_t, 3>{0xa0, 0xb1, 0xff}));

  EXPECT_FALSE(ParseHexBytes("A0b1F", bytes));
  EXPECT_FALSE(ParseHexBytes("A0b1FF0", bytes));
  EXPECT_FALSE(ParseHexBytes("00x100", bytes));
  EXPECT_EQ(bytes, (std::array<uint8_t, 3>{0xa0, 0xb1, 0xff}));
  EXPECT_TRUE(ParseHexBytes("", std::span<uint8_t>()));
}

TEST(HexKeyTest, DigitValues) {
  const std::string digits = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(HexDigitValue(digits[i]), i);
    EXPECT_EQ(HexDigitValue(static_cast<char>(std::toupper(digits[i]))), i);
  }
  for (char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\0', static_cast<char>(0xe1)}) {
    EXPECT_EQ(HexDigitValue(c), -1) << int(c);
  }
}

}  // namespace
}  // namespace kestrine

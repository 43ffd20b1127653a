// The explorer's option values: locale codes and masks, decryption keys one
// by one and from a keys file.
#include "tool/explorer/option_values.h"

#include <gtest/gtest.h>

namespace kestrine::explorer {
namespace {

TEST(ExplorerOptionValuesTest, LocalesAreCodesOfTheTableOrHexMasks) {
  EXPECT_EQ(ParseLocale("enUS"), 0x2u);
  EXPECT_EQ(ParseLocale("enGB"), 0x200u);
  EXPECT_EQ(ParseLocale("ptPT"), 0x10000u);
  EXPECT_EQ(ParseLocale("ptBR"), 0x4000u);
  EXPECT_EQ(ParseLocale("deDE"), 0x20u);
  EXPECT_EQ(ParseLocale("ENus"), 0x2u);  // typed in another case
  EXPECT_EQ(ParseLocale("0x200"), 0x200u);
  EXPECT_EQ(ParseLocale("0X210"), 0x210u);
  EXPECT_EQ(ParseLocale("0xFFFFFFFF"), 0xFFFFFFFFu);
  for (const char* bad : {"", "en", "enXX", "enUSA", "0x", "0x1FFFFFFFF", "0xG", "512", "x200"}) {
    EXPECT_FALSE(ParseLocale(bad)) << bad;
  }
}

TEST(ExplorerOptionValuesTest, KeyNamesAreReadMostSignificantFirstAndKeysInByteOrder) {
  const auto key = ParseKeyAssignment("FA505078126ACB3E=BDC51862ABED79B2DE48C8E7E66C6200");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->name, 0xFA505078126ACB3Eull);
  EXPECT_EQ(key->key[0], 0xBD);
  EXPECT_EQ(key->key[1], 0xC5);
  EXPECT_EQ(key->key[15], 0x00);
  EXPECT_TRUE(ParseKey("fa505078126acb3e", "bdc51862abed79b2de48c8e7e66c6200"));
  for (const char* bad : {"FA505078126ACB3E", "FA505078126ACB3=BDC51862ABED79B2DE48C8E7E66C6200",
                          "FA505078126ACB3E=BDC51862ABED79B2DE48C8E7E66C620",
                          "FA505078126ACB3E=", "ZA505078126ACB3E=BDC51862ABED79B2DE48C8E7E66C6200",
                          "FA505078126ACB3E=BDC51862ABED79B2DE48C8E7E66C62 0",
                          "FA505078126ACB3E=BDC51862ABED79B2DE48C8E7E66C6200=", "=",
                          "FA505078126ACB3E BDC51862ABED79B2DE48C8E7E66C6200"}) {
    EXPECT_FALSE(ParseKeyAssignment(bad)) << bad;
  }
}

TEST(ExplorerOptionValuesTest, KeysFileSkipsBlankAndCommentLines) {
  const KeysFile file = ParseKeysFile(
      "# keys\n"
      "\n"
      "0000000000000001 000102030405060708090A0B0C0D0E0F\r\n"
      "   \t\n"
      "  # indented comment\n"
      "\t0000000000000002\t\tFFFEFDFCFBFAF9F8F7F6F5F4F3F2F1F0  \n"
      "0000000000000003 00000000000000000000000000000003");
  ASSERT_EQ(file.error, "");
  ASSERT_EQ(file.keys.size(), 3u);
  EXPECT_EQ(file.keys[0].name, 1u);
  EXPECT_EQ(file.keys[0].key[10], 0x0A);
  EXPECT_EQ(file.keys[1].name, 2u);
  EXPECT_EQ(file.keys[1].key[0], 0xFF);
  EXPECT_EQ(file.keys[2].key[15], 0x03);
}

TEST(ExplorerOptionValuesTest, KeysFileNamesTheFirstMalformedLine) {
  EXPECT_EQ(ParseKeysFile("0000000000000001 000102030405060708090A0B0C0D0E0F\n"
                          "0000000000000002\n")
                .error,
            "line 2 is not \"NAME KEY\"");
  EXPECT_EQ(ParseKeysFile("0000000000000001=000102030405060708090A0B0C0D0E0F\n").error,
            "line 1 is not \"NAME KEY\"");
  EXPECT_EQ(ParseKeysFile("0000000000000001 000102030405060708090A0B0C0D0E0F extra\n").error,
            "line 1 is not \"NAME KEY\"");
  EXPECT_EQ(ReadKeysFile("/nonexistent/keys.txt").error, "cannot be read");
  EXPECT_EQ(ReadKeysFile("/").error, "cannot be read");
}

}  // namespace
}  // namespace kestrine::explorer

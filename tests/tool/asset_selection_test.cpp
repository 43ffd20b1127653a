// Which storage names the import keeps, and the asset names it writes.
#include "tool/asset_selection.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrine {
namespace {

struct NameCase {
  std::string input;
  std::string expected;
};

void ExpectNormalized(const std::vector<NameCase>& cases) {
  for (const NameCase& c : cases) {
    EXPECT_EQ(NormalizeAssetName(c.input), c.expected) << testing::PrintToString(c.input);
  }
}

TEST(NormalizeAssetNameTest, LowersAsciiLettersAndTurnsBackslashesIntoSlashes) {
  ExpectNormalized({
      {"", ""},
      {"Arr\\Units.DAT", "arr/units.dat"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz"},
      {"a\\\\b//c", "a//b//c"},
      // The neighbours of 'A'..'Z' and every kind of punctuation stay.
      {"@[`{0123456789", "@[`{0123456789"},
      {"c:/x y/_-+=~!#$%^&()';,.", "c:/x y/_-+=~!#$%^&()';,."},
  });
}

TEST(NormalizeAssetNameTest, LeavesBytesFromHex80Untouched) {
  // Upper-case letters of Latin-1 and bytes of UTF-8 sequences are not letters here.
  ExpectNormalized({
      {"Unit/\xC0\xC9\xD6\xDE.GRP", "unit/\xC0\xC9\xD6\xDE.grp"},
      {"\x80\xFF\xC3\x84\xC3\xA4", "\x80\xFF\xC3\x84\xC3\xA4"},
      {std::string("A\0B", 3), std::string("a\0b", 3)},
  });
}

TEST(NormalizeAssetNameTest, RemovesOneLeadingSdFolder) {
  ExpectNormalized({
      {"SD\\Arr\\Table.dat", "arr/table.dat"},
      {"arr/table.dat", "arr/table.dat"},
      {"SD\\SOUND\\Zerg\\Unit\\Sample00.WAV", "sound/zerg/unit/sample00.wav"},
      {"Sd/sD\\x.grp", "sd/x.grp"},
      {"sd/", ""},
      {"SD\\", ""},
      {"sd", "sd"},
      {"sdx/a.dat", "sdx/a.dat"},
      {"/sd/a.dat", "/sd/a.dat"},
      {"unit/sd/a.grp", "unit/sd/a.grp"},
  });
}

struct SelectionCase {
  std::string name;
  bool accepted;
};

void ExpectSelection(const std::vector<SelectionCase>& cases) {
  for (const SelectionCase& c : cases) {
    EXPECT_EQ(IsClassicAsset(c.name), c.accepted) << testing::PrintToString(c.name);
  }
}

TEST(IsClassicAssetTest, AcceptsEveryDirectoryWithEveryExtension) {
  for (std::string_view directory : kClassicDirectories) {
    for (std::string_view extension : kClassicExtensions) {
      std::string name = std::string(directory) + "x" + std::string(extension);
      EXPECT_TRUE(IsClassicAsset(name)) << name;
    }
  }
}

TEST(IsClassicAssetTest, NeedsAListedPrefixAndAListedExtension) {
  ExpectSelection({
      {"arr/units.dat", true},
      {"unit/terran/marine.grp", true},
      {"tileset/badlands.vx4ex", true},
      {"tileset/badlands.vx4", true},
      {"tileset/badlands.vx4e", false},
      {"tileset/badlands.vx", false},
      {"arr/units.dat.bak", false},
      {"arr/units", false},
      {"arr/", false},
      {"arr/.dat", true},
      {"arr.dat", false},
      {".dat", false},
      {"data/units.dat", false},
      {"xarr/units.dat", false},
      {"local/arr/units.dat", false},
      {"Arr/units.dat", false},
      {"arr/units.DAT", false},
      {"glue/pal/b.pcx", true},
      {"glue/palette/b.pcx", false},
      {"glue/b.pcx", false},
      {"unit/b.wav", false},
      {"game/other.dds", false},
      {"", false},
  });
}

TEST(IsClassicAssetTest, AcceptsLoExtensionsWithExactlyOneMoreByte) {
  ExpectSelection({
      {"unit/a/b.lol", true},
      {"unit/b.loo", true},
      {"unit/b.loa", true},
      {"scripts/.lob", true},
      {"unit/b.lo", false},
      {"unit/b.loaa", false},
      {"unit/b.LOA", false},
      {"unit/blol", false},
      {"music/b.loa", false},
      {"b.loa", false},
  });
}

TEST(IsClassicAssetTest, TakesOnlyTheNamedMusicAndConsoleFiles) {
  for (std::string_view name : kMusicNames) EXPECT_TRUE(IsClassicAsset(name)) << name;
  for (std::string_view name : kConsoleNames) EXPECT_TRUE(IsClassicAsset(name)) << name;
  ExpectSelection({
      {"music/terran2.wav", false},
      {"music/terran1.ogg", false},
      {"music/title.wav", false},
      {"music/zerg1.wav.grp", false},
      {"sd/music/zerg1.wav", false},
      {"game/tconsole.dds.bak", false},
      {"game/xconsole.dds", false},
  });
}

TEST(IsClassicAssetTest, AcceptsEverySoundOfEitherExtension) {
  ExpectSelection({
      {"sound/zerg/unit/sample00.wav", true},
      {"sound/zerg/unit/sample00.ogg", true},
      {"sound/.wav", true},
      {"sound/a.mp3", false},
      {"sound/a.WAV", false},
      {"sound/a.wav/", false},
      {"sounds/a.wav", false},
      {"sound.wav", false},
      {"unit/sound/a.wav", false},
  });
}

TEST(IsClassicAssetTest, RejectsDotDotAndDdsInsideBeforeAnyAcceptingRule) {
  ExpectSelection({
      {"arr/../b.dat", false},
      {"arr/x..dat", false},
      {"sound/../a.wav", false},
      {"..", false},
      {"unit/a/b.dds.grp", false},
      {"unit/b.dds.lol", false},
      {"sound/a.dds.wav", false},
      {"game/tconsole.dds", true},
      {"unit/a.dds", false},
      {"unit/a.ddsx.grp", true},
  });
}

}  // namespace
}  // namespace kestrine

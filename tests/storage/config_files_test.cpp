#include "storage/config_files.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "storage/text_table.h"
#include "testkit/build_files.h"

namespace kestrine {
namespace {

using testkit::KeyFromSeed;

std::string Key(uint32_t seed) {
  return testkit::KeyText(KeyFromSeed(seed));
}

std::string Keys(uint32_t first, uint32_t second) {
  return Key(first) + " " + Key(second);
}

std::vector<std::pair<std::string, std::string>> Lines(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> lines;
  ConfigLineReader reader(AsBytes(text));
  for (ConfigLine line; reader.Next(line);) lines.emplace_back(line.key, line.value);
  return lines;
}

TEST(ConfigLineReaderTest, SplitsKeysAndValuesUnderTheLineRules) {
  std::string longKey(80, 'k');
  std::string text = "# Build Configuration\r\n\r\n   root=abc\r\nencoding  = =  x y \t\n" +
                     longKey + " = v\n" + "a = b\x85" + "c = d~Pdropped\n" + "e = f~x~Pg\n" +
                     "h = i~Q\n" + "~P\n" + "after = lost\n";
  EXPECT_EQ(Lines(text),
            (std::vector<std::pair<std::string, std::string>>{{"#", "Build Configuration"},
                                                              {"root", "abc"},
                                                              {"encoding", "x y"},
                                                              {"a", "b"},
                                                              {"c", "d"},
                                                              {"e", "f~x"},
                                                              {"h", "i~Q"}}));
}

TEST(HexKeysTest, ParsesBlankSeparatedKeysOfEitherCase) {
  std::string text = " \t" + Key(1) + "\r" + Key(2);
  text[5] = static_cast<char>(std::toupper(text[5]));
  KeyList keys;
  ASSERT_EQ(ParseHexKeys(text, 2, keys), kErrorSuccess);
  EXPECT_EQ(keys, (KeyList{KeyFromSeed(1), KeyFromSeed(2)}));
  EXPECT_EQ(CountHexKeys(text + "  "), 2u);
  EXPECT_EQ(CountHexKeys("  "), 0u);
}

TEST(HexKeysTest, RejectsMalformedItemsAndShortText) {
  KeyList keys{KeyFromSeed(9)};
  for (std::string bad : {Key(1).substr(1), Key(1) + "0", Key(1) + "-x", "g" + Key(1).substr(1)}) {
    EXPECT_EQ(ParseHexKeys(bad, 1, keys), kErrorBadFormat) << bad;
    EXPECT_FALSE(CountHexKeys(bad)) << bad;
  }
  EXPECT_EQ(ParseHexKeys(Key(1), 2, keys), kErrorBadFormat);
  EXPECT_EQ(ParseHexKeys(Key(1) + "   ", 2, keys), kErrorBadFormat);
  EXPECT_EQ(keys, KeyList{KeyFromSeed(9)});
}

TEST(LargestNumberTest, TakesTheLargestDigitRunThatFits) {
  EXPECT_EQ(LargestNumberIn("WOW-25996patch7.3.5_Retail"), 25996u);
  EXPECT_EQ(LargestNumberIn("1.64.4.13050304"), 13050304u);
  EXPECT_EQ(LargestNumberIn("b99999999999999999999 4294967295"), 4294967295u);
  EXPECT_EQ(LargestNumberIn("none"), 0u);
}

class KeyValueTest : public testing::Test {
 protected:
  uint32_t Parse(std::string_view key, std::string_view value) {
    return ParseKeyValue(storage, key, value, entry);
  }
  TCascStorage storage;
  ContentEntry entry;
};

TEST_F(KeyValueTest, SizesAreContentThenOptionalEncoded) {
  ASSERT_EQ(Parse("root-size", " 1234  5678"), kErrorSuccess);
  EXPECT_EQ(entry.contentSize, 1234u);
  EXPECT_EQ(entry.encodedSize, 5678u);
  ASSERT_EQ(Parse("root-size", "1234"), kErrorSuccess);
  EXPECT_EQ(entry.encodedSize, kUnknownSize);
  ASSERT_EQ(Parse("root-size", "4294967295 4294967296"), kErrorSuccess);
  EXPECT_EQ(entry.contentSize, 4294967295u);
  EXPECT_EQ(entry.encodedSize, kUnknownSize);
  EXPECT_EQ(Parse("root-size", "4294967296 1"), kErrorBadFormat);
  EXPECT_EQ(Parse("root-size", "x 1"), kErrorBadFormat);
  EXPECT_EQ(entry.contentSize, 4294967295u);
}

TEST_F(KeyValueTest, KeyListsGiveCKeyThenEKey) {
  ASSERT_EQ(Parse("install", Key(1)), kErrorSuccess);
  EXPECT_EQ(entry.ckey, KeyFromSeed(1));
  EXPECT_EQ(entry.flags, EF_CKEY);
  ASSERT_EQ(Parse("install", Keys(2, 3)), kErrorSuccess);
  EXPECT_EQ(entry.ckey, KeyFromSeed(2));
  EXPECT_EQ(entry.ekey, KeyFromSeed(3));
  EXPECT_EQ(entry.flags, EF_CKEY | EF_EKEY);
  EXPECT_EQ(entry.storageOffset, kUnknownOffset);

  EXPECT_EQ(Parse("install", Keys(4, 5) + " " + Key(6)), kErrorBadFormat);
  EXPECT_EQ(Parse("install", ""), kErrorBadFormat);
  EXPECT_EQ(Parse("install-espec", "z"), kErrorBadFormat);  // no such line here
  EXPECT_EQ(Parse("patch-config", "anything"), kErrorSuccess);
  EXPECT_EQ(entry.ckey, KeyFromSeed(2));
  EXPECT_EQ(entry.flags, EF_CKEY | EF_EKEY);
}

TEST_F(KeyValueTest, FullEKeyStoragesLocateFilesByTheEKeyTail) {
  storage.kind = BUILD_CONFIG;
  std::string ekey = "00112233445566778801020304050607";
  ASSERT_EQ(Parse("vfs-root", Key(1) + " " + ekey), kErrorSuccess);
  EXPECT_EQ(entry.storageOffset, 0x01020304050607u);
  EXPECT_EQ(entry.flags, EF_LOCAL | EF_CKEY | EF_EKEY);
  ASSERT_EQ(Parse("vfs-root-espec", "b:{*=n}"), kErrorSuccess);
  EXPECT_EQ(entry.flags & EF_BARE_ZLIB, 0);
  ASSERT_EQ(Parse("vfs-root-espec", "z"), kErrorSuccess);
  EXPECT_NE(entry.flags & EF_BARE_ZLIB, 0);
}

uint32_t ParseBuild(TCascStorage& storage, const testkit::ConfigValues& values) {
  std::string text = testkit::BuildConfigText(values);
  return ParseBuildConfig(storage, AsBytes(text));
}

TEST(BuildConfigTest, ManifestLinesFillTheirEntries) {
  TCascStorage storage;
  ASSERT_EQ(ParseBuild(storage, {{"root", Key(1)},
                                 {"install", Keys(2, 3)},
                                 {"install-size", "100 90"},
                                 {"download", "not a key"},
                                 {"encoding", Keys(4, 5)},
                                 {"encoding-size", "1234"},
                                 {"size", Keys(6, 7)},
                                 {"patch-index", Keys(8, 9)},
                                 {"patch", Key(10)},
                                 {"patch-size", "64055"},
                                 {"patch-config", Key(11)},
                                 {"build-uid", "wow"},
                                 {"build-name", "WOW-25996patch7.3.5_Retail"}}),
            kErrorSuccess);
  EXPECT_EQ(storage.rootEntry.ckey, KeyFromSeed(1));
  EXPECT_EQ(storage.rootEntry.flags, EF_CKEY);
  EXPECT_EQ(storage.installEntry.ekey, KeyFromSeed(3));
  EXPECT_EQ(storage.installEntry.encodedSize, 90u);
  EXPECT_EQ(storage.downloadEntry.flags, 0);
  EXPECT_EQ(storage.encodingEntry.ckey, KeyFromSeed(4));
  EXPECT_EQ(storage.encodingEntry.contentSize, 1234u);
  EXPECT_EQ(storage.sizeEntry.ekey, KeyFromSeed(7));
  // The single patch key is the encoded key; "patch-index" names another file.
  EXPECT_EQ(storage.patchEntry.ekey, KeyFromSeed(10));
  EXPECT_EQ(storage.patchEntry.ckey, Key16{});
  EXPECT_EQ(storage.patchEntry.flags, EF_EKEY);
  EXPECT_EQ(storage.patchEntry.contentSize, 64055u);
  EXPECT_EQ(storage.productCode, "wow");
  EXPECT_EQ(storage.buildNumber, 25996u);
}

TEST(BuildConfigTest, ProductCodeAndBuildNumberRules) {
  TCascStorage named;
  named.productCode = "s1";
  named.buildNumber = 500;
  ASSERT_EQ(
      ParseBuild(named, {{"build-uid", "wow"}, {"build-name", "v99"}, {"encoding", Keys(1, 2)}}),
      kErrorSuccess);
  EXPECT_EQ(named.productCode, "s1");
  EXPECT_EQ(named.buildNumber, 500u);

  TCascStorage fromPath;
  fromPath.cdnPath = "tpr\\hero/s2";
  ASSERT_EQ(ParseBuild(fromPath, {{"encoding", Keys(1, 2)}}), kErrorSuccess);
  EXPECT_EQ(fromPath.productCode, "s2");
}

TEST(BuildConfigTest, VfsLinesGrowTheVfsRootArray) {
  TCascStorage storage;
  ASSERT_EQ(ParseBuild(storage, {{"encoding", Keys(1, 2)},
                                 {"vfs-3", Keys(3, 4)},
                                 {"vfs-2-size", "10 5"},
                                 {"vfs-0", Keys(5, 6)},
                                 {"VFS-4", Keys(5, 6)},
                                 {"vfs-99999999", Keys(5, 6)},
                                 {"vfs-x", Keys(5, 6)}}),
            kErrorSuccess);
  const auto& roots = storage.vfsRootEntries;
  ASSERT_EQ(roots.size(), 3u);
  EXPECT_EQ(roots[0].storageOffset, 0u);
  EXPECT_EQ(roots[0].contentSize, 0u);
  EXPECT_EQ(roots[0].spanCount, 0);
  EXPECT_EQ(roots[1].contentSize, 10u);
  EXPECT_EQ(roots[2].ckey, KeyFromSeed(3));
  EXPECT_EQ(roots[2].ekey, KeyFromSeed(4));
  EXPECT_EQ(roots[2].contentSize, kUnknownSize);
  EXPECT_EQ(roots[2].spanCount, 1);
}

TEST(BuildConfigTest, RequiresBothKeysOfTheEncodingOrVfsRoot) {
  TCascStorage storage;
  EXPECT_EQ(ParseBuild(storage, {{"root", Key(1)}}), kErrorBadFormat);
  EXPECT_EQ(ParseBuild(storage, {{"encoding", Key(1)}}), kErrorBadFormat);

  TCascStorage fullKeys;
  fullKeys.kind = BUILD_CONFIG;
  EXPECT_EQ(ParseBuild(fullKeys, {{"encoding", Keys(1, 2)}}), kErrorBadFormat);
  EXPECT_EQ(ParseBuild(fullKeys, {{"vfs-root", Keys(1, 2)}}), kErrorSuccess);
}

uint32_t ParseCdn(TCascStorage& storage, const testkit::ConfigValues& values) {
  std::string text = testkit::CdnConfigText(values);
  return ParseCdnConfig(storage, AsBytes(text));
}

TEST(CdnConfigTest, KeyListsFillTheStorageLists) {
  TCascStorage storage;
  ASSERT_EQ(ParseCdn(storage, {{"archives", Keys(1, 2) + " " + Key(3)},
                               {"archives-index-size", "10 20 30"},
                               {"archive-group", Key(4)},
                               {"Patch-Archives", Key(5)},
                               {"patch-archive-group", Key(6)},
                               {"builds", Keys(7, 8)},
                               {"archive-group", Key(9) + " nope"}}),
            kErrorSuccess);
  EXPECT_EQ(storage.archives, (KeyList{KeyFromSeed(1), KeyFromSeed(2), KeyFromSeed(3)}));
  EXPECT_EQ(storage.archiveGroup, KeyList{KeyFromSeed(4)});
  EXPECT_EQ(storage.patchArchives, KeyList{KeyFromSeed(5)});
  EXPECT_EQ(storage.patchArchiveGroup, KeyList{KeyFromSeed(6)});
  EXPECT_EQ(storage.builds, (KeyList{KeyFromSeed(7), KeyFromSeed(8)}));
}

TEST(CdnConfigTest, RequiresArchives) {
  TCascStorage storage;
  EXPECT_EQ(ParseCdn(storage, {{"archive-group", Key(4)}}), kErrorBadFormat);
  EXPECT_EQ(ParseCdn(storage, {{"archives", ""}}), kErrorBadFormat);
  EXPECT_EQ(ParseCdn(storage, {{"archives", Key(1) + "x"}}), kErrorBadFormat);
}

class KeyedConfigTest : public testing::Test {
 protected:
  KeyedConfigTest() {
    storage.rootPath = folder.path().string();
    storage.dataPath = (folder.path() / "Data").string();
    s_parsed.clear();
  }
  uint32_t Load(const Key16& key) { return LoadKeyedConfig(storage, KeyList{key}, Record); }

  static uint32_t Record(TCascStorage&, std::span<const uint8_t> text) {
    s_parsed.assign(text.begin(), text.end());
    return 77;
  }
  static inline std::string s_parsed;

  testkit::TempFolder folder;
  TCascStorage storage;
};

TEST_F(KeyedConfigTest, FindsVerifiesAndParsesTheFileOfAKey) {
  std::string content = testkit::BuildConfigText({{"root", Key(1)}});
  Key16 key = testkit::StoreConfigFile(folder.path(), content);
  EXPECT_EQ(Load(key), 77u);
  EXPECT_EQ(s_parsed, content);

  EXPECT_EQ(KeyedConfigPath("C:\\Game\\Data", KeyFromSeed(1)),
            "C:\\Game\\Data\\config\\" + Key(1).substr(0, 2) + "\\" + Key(1).substr(2, 2) + "\\" +
                Key(1));
}

TEST_F(KeyedConfigTest, DataDirectoryComesBeforeTheRoot) {
  Key16 key = testkit::StoreConfigFile(folder.path(), "archives = x\n");
  testkit::WriteTextFile(testkit::ConfigFilePath(folder.path() / "Data", key), "archives = y\n");
  EXPECT_EQ(Load(key), kErrorFileCorrupt);
}

TEST_F(KeyedConfigTest, MissingFilesAndKeysGiveNotFound) {
  EXPECT_EQ(Load(KeyFromSeed(1)), kErrorFileNotFound);
  EXPECT_EQ(LoadKeyedConfig(storage, KeyList{}, Record), kErrorFileNotFound);
  std::filesystem::create_directories(testkit::ConfigFilePath(folder.path(), KeyFromSeed(2)));
  EXPECT_EQ(Load(KeyFromSeed(2)), kErrorFileNotFound);
  testkit::WriteTextFile(testkit::ConfigFilePath(folder.path(), KeyFromSeed(3)), "");
  EXPECT_EQ(Load(KeyFromSeed(3)), kErrorFileNotFound);
}

TEST_F(KeyedConfigTest, TheAllZeroKeySkipsTheCheck) {
  testkit::WriteTextFile(testkit::ConfigFilePath(folder.path(), Key16{}), "anything\n");
  EXPECT_EQ(Load(Key16{}), 77u);
}

}  // namespace
}  // namespace kestrine

// Real build and configuration files saved from installations and content
// services, kept in tests/data (sources in tests/data/SOURCES.md): inputs
// that no one here wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "storage/build_info.h"
#include "storage/config_files.h"
#include "testkit/build_files.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;

const fs::path& RealData() {
  static const fs::path path = fs::path(KESTRINE_SOURCE_DIR) / "tests" / "data";
  return path;
}

Key16 KeyOf(std::string_view hex) {
  Key16 key{};
  EXPECT_TRUE(ParseHexKey(hex, key)) << hex;
  return key;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Lays the configuration file out as a storage keeps it and loads it.
class RealConfigTest : public testing::Test {
 protected:
  uint32_t Load(const std::string& relative, ConfigParser parser) {
    fs::path source = RealData() / "config" / relative;
    std::string name = source.filename().string();
    testkit::WriteTextFile(testkit::ConfigFilePath(folder.path(), KeyOf(name)), ReadAll(source));
    storage.rootPath = folder.path().string();
    return LoadKeyedConfig(storage, KeyList{KeyOf(name)}, parser);
  }

  testkit::TempFolder folder;
  TCascStorage storage;
};

uint32_t AcceptAny(TCascStorage&, std::span<const uint8_t>) {
  return kErrorSuccess;
}

TEST_F(RealConfigTest, EveryFilePassesItsKeyCheck) {
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(RealData() / "config")) {
    if (!entry.is_regular_file()) continue;
    fs::path relative = fs::relative(entry.path(), RealData() / "config");
    EXPECT_EQ(Load(relative.string(), AcceptAny), kErrorSuccess) << relative;
    ++files;
  }
  EXPECT_EQ(files, 12u);
}

void ExpectEntry(const ContentEntry& entry, std::string_view ckey, std::string_view ekey,
                 uint32_t contentSize, uint32_t encodedSize) {
  EXPECT_EQ(entry.ckey, KeyOf(ckey));
  EXPECT_EQ(entry.ekey, KeyOf(ekey));
  EXPECT_EQ(entry.flags, EF_CKEY | EF_EKEY);
  EXPECT_EQ(entry.contentSize, contentSize);
  EXPECT_EQ(entry.encodedSize, encodedSize);
}

TEST_F(RealConfigTest, Wow735BuildConfiguration) {
  ASSERT_EQ(Load("wow_7.3.5.25996/c23a2f39506457c036d70547b805a3e7", ParseBuildConfig),
            kErrorSuccess);
  EXPECT_EQ(storage.rootEntry.ckey, KeyOf("2532a4ddca7cff85c2cd4d418853014b"));
  EXPECT_EQ(storage.rootEntry.contentSize, kUnknownSize);
  ExpectEntry(storage.installEntry, "bc12840c8456044cf6c96998531dedb4",
              "19b6d18b4a1f5b1adf0743a41579458f", 17419, 16942);
  ExpectEntry(storage.downloadEntry, "dc7440cf497989c2a082f987e3a1f23f",
              "ca3b1229493f1af1f21d8679f5d5ed71", 37348742, 33625724);
  ExpectEntry(storage.encodingEntry, "4841862d357e0f8944d0ab620d5c8da3",
              "fa552f079d20e425232360efae81ea0f", 79669893, 79613157);
  EXPECT_EQ(storage.patchEntry.ekey, KeyOf("3619ad01ac29a86c88b4c556c5917d53"));
  EXPECT_EQ(storage.patchEntry.flags, EF_EKEY);
  EXPECT_EQ(storage.patchEntry.contentSize, 64055u);
  EXPECT_EQ(storage.sizeEntry.flags, 0);
  EXPECT_EQ(storage.buildNumber, 25996u);
  EXPECT_EQ(storage.productCode, "wow");
}

TEST_F(RealConfigTest, Wow801BuildConfigurationWithSizeManifest) {
  ASSERT_EQ(Load("wow_8.0.1.28153/c19c4111371a31321f0161466c32094f", ParseBuildConfig),
            kErrorSuccess);
  ExpectEntry(storage.sizeEntry, "ab6f61fd32d16dd7f76d7ac351e94b39",
              "78fdad800e39e3439912426e2eeba03b", 23317086, 20811049);
  ExpectEntry(storage.encodingEntry, "280d4534fb1cee494707d695228f624d",
              "c37df78072da70a6c7feda019b9f52cd", 93171050, 93139557);
  EXPECT_EQ(storage.buildNumber, 28153u);
}

TEST_F(RealConfigTest, OverwatchPatchIndexDoesNotTakeThePatchEntry) {
  ASSERT_EQ(Load("overwatch_2.15.1.1.136696/0565546ee44b439caa54f209b6904294", ParseBuildConfig),
            kErrorSuccess);
  EXPECT_EQ(storage.patchEntry.ekey, KeyOf("d869ed3dd9a18f058e38d2623abf70d7"));
  EXPECT_EQ(storage.patchEntry.flags, EF_EKEY);
  EXPECT_EQ(storage.patchEntry.contentSize, 4293481u);
  EXPECT_EQ(storage.patchEntry.encodedSize, kUnknownSize);
  ExpectEntry(storage.encodingEntry, "c9bac7d214d6d679a2ed097bd8b98118",
              "7d64d8b9284c60245f8a36970a4a6deb", 78315751, 77494682);
  EXPECT_EQ(storage.buildNumber, 136696u);
  EXPECT_EQ(storage.productCode, "pro");
}

TEST_F(RealConfigTest, OdinBuildConfigurationWithVfsRoots) {
  ASSERT_EQ(Load("odin_1.64.4.13050304/fc1dd0cae8ddc9880191b3dbcf6c36c6", ParseBuildConfig),
            kErrorSuccess);
  ExpectEntry(storage.vfsRootEntry, "348e6d8fd9949c8d5fec029a51003368",
              "8aea073d5d13d34bde7731a0a0b04432", 4557840, 2559777);
  ASSERT_EQ(storage.vfsRootEntries.size(), 1u);
  ExpectEntry(storage.vfsRootEntries[0], "348e6d8fd9949c8d5fec029a51003368",
              "8aea073d5d13d34bde7731a0a0b04432", 4557840, 2559777);
  ExpectEntry(storage.encodingEntry, "799fcba524ce3e89625f71c076dc31ec",
              "b06067d5ffd9f049ef7194c6452b694e", 12539, 12706);
  EXPECT_EQ(storage.patchEntry.flags, 0);
  EXPECT_EQ(storage.buildNumber, 13050304u);
  EXPECT_EQ(storage.productCode, "odin");
}

TEST_F(RealConfigTest, HearthstoneBuildConfiguration) {
  ASSERT_EQ(Load("hearthstone/00485321de1328b3d33f6a43caa90e4f", ParseBuildConfig), kErrorSuccess);
  ExpectEntry(storage.installEntry, "b143a4de2fff7b18e24f4a3577c74a4b",
              "6c188619af82954007cf05bed97e931c", 3283541, 2916443);
  EXPECT_EQ(storage.patchEntry.ekey, KeyOf("0186353573eb9cf45eff2c6c614fdd52"));
  EXPECT_EQ(storage.buildNumber, 209162u);
  EXPECT_EQ(storage.productCode, "hsb");
}

TEST_F(RealConfigTest, MinimalConfigurationsLackTheirRequiredLines) {
  EXPECT_EQ(Load("agent_redist/a4aabdba13b722ffdb76ead788c5203e", ParseBuildConfig),
            kErrorBadFormat);
  EXPECT_EQ(storage.rootEntry.ckey, Key16{});
  EXPECT_EQ(storage.rootEntry.flags, EF_CKEY);
  EXPECT_EQ(storage.productCode, "agent_redist");
  EXPECT_EQ(Load("agent_redist/d13f73333f891b85db8a0d90dd2500d3", ParseCdnConfig), kErrorBadFormat);
}

TEST_F(RealConfigTest, OdinCdnConfiguration) {
  ASSERT_EQ(Load("odin_1.64.4.13050304/e49a5bececa4ace0581d402d5b29917a", ParseCdnConfig),
            kErrorSuccess);
  // The file's archives line holds 226 keys (the folder's notes say 234).
  ASSERT_EQ(storage.archives.size(), 226u);
  EXPECT_EQ(storage.archives.front(), KeyOf("03ee1969ad6b1573c09c107bc61c2c91"));
  EXPECT_EQ(storage.archives.back(), KeyOf("fe2eaa14559a3edb339ff1d37bdfd667"));
  EXPECT_EQ(storage.archiveGroup, KeyList{KeyOf("4393b06db35a84b78ddd4a2eafd7da5e")});
  EXPECT_EQ(storage.patchArchives, KeyList{KeyOf("e28a140334242d13d53ca08357be583f")});
  EXPECT_EQ(storage.patchArchiveGroup, KeyList{KeyOf("94eda937258e3f2c809ed2bc74a4602f")});
  EXPECT_TRUE(storage.builds.empty());
}

struct BuildInfoCase {
  const char* file;
  const char* buildKey;
  const char* cdnKey;
  uint32_t localeMask;
  const char* cdnPath;
  uint32_t buildNumber;
};

TEST(RealBuildInfoTest, ActiveRowsGiveKeysLocaleCdnPathAndBuild) {
  const BuildInfoCase cases[] = {
      {"diablo3_2.6.1.48432", "3dacf69c9fb8e778c0c8a804ebfaa7c9",
       "c19714d35c6479a1c8cef004f270dbab", 0x2, "tpr/d3", 48432},
      {"odin_1.64.4.13050304", "fc1dd0cae8ddc9880191b3dbcf6c36c6",
       "e49a5bececa4ace0581d402d5b29917a", 0x2, "tpr/odin", 13050304},
      {"overwatch_pro_2.15.1.1.136696", "0565546ee44b439caa54f209b6904294",
       "67413a0ce4c8c87d1db3660e1ceb9fd7", 0x2000, "tpr/ovw", 136696},
      {"wow_6.0.3.19342_cn_osx", "9aea7f1d7b4a4a2e4f1a9d2b0b144e9e",
       "ea45754ea48dd89de460de565d5c782c", 0x40, "/tpr/wow", 19342},
      {"wow_6.2.4.21742_keyservice_col", "451679f16b266632976beb8d5c922d9f",
       "eee453d9035886d03a1308de041de88c", 0x2002, "/tpr/wow", 21742},
      {"wow_7.2.0.23911_eu_plus_stale_us", "fc58e8bfcd2496d9dd00ce68067bd121",
       "e82a5ee4ee684631b2747d48c7ec309b", 0x2, "tpr/wow", 23911},
      {"wow_8.0.1.27377_build_bgdl_complete", "5227139c806caca0a153a6fb1f37b364",
       "7c6fd0de33e2563a4e425113afd40121", 0x2, "tpr/wow", 27377},
      {"wow_8.0.1.28153_two_rows", "c19c4111371a31321f0161466c32094f",
       "a8313217b93926f5ae4222d4dd037692", 0x2, "tpr/wow", 28153},
      {"wow_8.3.7.35662_product_col", "01d99c975c422649fc50589978c9f90f",
       "245f00b65d6d6c7cc7c52bab5c9e600c", 0x2, "tpr/wow", 35662},
  };
  for (const BuildInfoCase& c : cases) {
    SCOPED_TRACE(c.file);
    TCascStorage storage;
    fs::path path = RealData() / "build_info" / (std::string(c.file) + ".build.info");
    ASSERT_EQ(LoadBuildInfo(storage, path.string()), kErrorSuccess);
    EXPECT_EQ(storage.buildConfigKey, KeyList{KeyOf(c.buildKey)});
    EXPECT_EQ(storage.cdnConfigKey, KeyList{KeyOf(c.cdnKey)});
    EXPECT_EQ(storage.localeMask, c.localeMask);
    EXPECT_EQ(storage.cdnPath, c.cdnPath);
    EXPECT_EQ(storage.buildNumber, c.buildNumber);
  }
}

std::string ReadPatchService(const char* name) {
  return ReadAll(RealData() / "patchservice" / name);
}

TEST(RealPatchServiceTest, VersionsTablesGiveTheRegionsRow) {
  TCascStorage storage;
  storage.region = "kr";
  ASSERT_EQ(ParseVersionsTable(storage, ReadPatchService("wow_versions_7.3.5.25996.txt")),
            kErrorSuccess);
  EXPECT_EQ(storage.buildConfigKey, KeyList{KeyOf("c23a2f39506457c036d70547b805a3e7")});
  EXPECT_EQ(storage.cdnConfigKey, KeyList{KeyOf("da617fc81d49cc79411e54f99e00c9d0")});
  EXPECT_EQ(storage.localeMask, 0x4u);
  EXPECT_EQ(storage.buildNumber, 25996u);

  TCascStorage beta;
  ASSERT_EQ(ParseVersionsTable(beta, ReadPatchService("wow_beta_versions_7.0.3.21267.txt")),
            kErrorSuccess);
  EXPECT_EQ(beta.region, "us");
  EXPECT_EQ(beta.buildConfigKey, KeyList{KeyOf("62b7c132f7a972aa8e8d84c9cb1d0980")});
  EXPECT_EQ(beta.buildNumber, 21267u);
}

TEST(RealPatchServiceTest, CdnsTablesGiveHostsAndPath) {
  TCascStorage storage;
  storage.region = "cn";
  ASSERT_EQ(ParseCdnsTable(storage, ReadPatchService("wow_beta_cdns_2016.txt")), kErrorSuccess);
  EXPECT_EQ(storage.cdnPath, "tpr/wow");
  EXPECT_EQ(storage.cdnHosts,
            "cdn4.example.net cdn5.example.net cdn6.example.net cdn7.example.net "
            "cdn1.example.net");

  TCascStorage unnamed;
  ASSERT_EQ(ParseCdnsTable(unnamed, ReadPatchService("wow_cdns_2018_edited.txt")), kErrorSuccess);
  EXPECT_EQ(unnamed.cdnHosts, "cdn3.example.net cdn5.example.net cdn4.example.net");
}

}  // namespace
}  // namespace kestrine

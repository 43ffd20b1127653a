#include "storage/build_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/build_files.h"

namespace kestrine {
namespace {

using testkit::KeyFromSeed;
using testkit::ProductRow;

std::string Key(uint32_t seed) {
  return testkit::KeyText(KeyFromSeed(seed));
}

ProductRow Product(uint32_t seed, bool active, std::string product = "") {
  ProductRow row;
  row.active = active;
  row.buildKey = Key(seed);
  row.cdnKey = Key(seed + 100);
  row.product = std::move(product);
  return row;
}

class BuildInfoTest : public testing::Test {
 protected:
  uint32_t Load(const testkit::TableText& table) {
    std::string path = folder / ".build.info";
    testkit::WriteTextFile(path, testkit::FormatTable(table));
    return LoadBuildInfo(storage, path);
  }
  uint32_t Load(const std::vector<ProductRow>& rows) { return Load(testkit::BuildInfoTable(rows)); }

  // Opens with a ProductCallback that answers `answer` with `selected`.
  void UseProductCallback(bool answer, uint64_t selected) {
    static bool s_answer;
    static uint64_t s_selected;
    s_answer = answer, s_selected = selected;
    args.size = sizeof(StorageOpenArgs);
    args.productContext = &offered;
    args.productCallback = [](void* context, const char** codes, uint64_t count, uint64_t* out) {
      auto* offered = static_cast<std::vector<std::string>*>(context);
      offered->assign(codes, codes + count);
      *out = s_selected;
      return s_answer;
    };
    storage.openArgs = &args;
  }

  testkit::TempFolder folder;
  TCascStorage storage;
  StorageOpenArgs args{};
  std::vector<std::string> offered;
};

TEST_F(BuildInfoTest, ActiveRowGivesKeysLocaleServersAndBuild) {
  for (bool crlf : {false, true}) {
    storage.cdnPath.clear();  // kept values are not overwritten
    storage.cdnHosts.clear();
    ProductRow active = Product(2, true);
    active.tags = "Windows x86_64 EU? deDE speech?:Windows x86_64 EU? enUS text?";
    active.version = "3.4.5.12345";
    active.cdnPath = "tpr/x";
    testkit::TableText table = testkit::BuildInfoTable({Product(1, false), active});
    table.crlf = crlf;
    ASSERT_EQ(Load(table), kErrorSuccess) << crlf;
    EXPECT_EQ(storage.buildConfigKey, KeyList{KeyFromSeed(2)});
    EXPECT_EQ(storage.cdnConfigKey, KeyList{KeyFromSeed(102)});
    EXPECT_EQ(storage.localeMask, 0x22u);
    EXPECT_EQ(storage.cdnPath, "tpr/x");
    EXPECT_EQ(storage.cdnHosts, "cdn1.example.net cdn2.example.net");
    EXPECT_EQ(storage.buildNumber, 12345u);
    EXPECT_EQ(storage.productCode, "");
  }
}

TEST_F(BuildInfoTest, KeptServersAndShortVersionsStayAsTheyWere) {
  storage.cdnPath = "tpr/mine";
  storage.buildNumber = 7;
  ProductRow row = Product(1, true);
  row.version = "99";
  ASSERT_EQ(Load({row}), kErrorSuccess);
  EXPECT_EQ(storage.cdnPath, "tpr/mine");
  EXPECT_EQ(storage.buildNumber, 7u);
}

TEST_F(BuildInfoTest, FaultyTablesReachTheirErrorNumbers) {
  EXPECT_EQ(Load({Product(1, false), Product(2, false)}), kErrorFileNotFound);

  ProductRow shortKey = Product(1, true);
  shortKey.buildKey.pop_back();
  EXPECT_EQ(Load({shortKey}), kErrorBadFormat);

  ProductRow shortCdnKey = Product(1, true);
  shortCdnKey.cdnKey += "0";
  EXPECT_EQ(Load({shortCdnKey}), kErrorBadFormat);

  ProductRow noBuildKey = Product(1, true);
  noBuildKey.buildKey.clear();
  EXPECT_EQ(Load({noBuildKey}), kErrorBadFormat);

  testkit::TableText lowerCase = testkit::BuildInfoTable({Product(1, true)});
  lowerCase.columns[2] = "build key!HEX:16";
  EXPECT_EQ(Load(lowerCase), kErrorBadFormat);

  testkit::TableText headerOnly = testkit::BuildInfoTable({});
  EXPECT_EQ(Load(headerOnly), kErrorFileNotFound);

  testkit::WriteTextFile(folder / "empty", "");
  EXPECT_EQ(LoadBuildInfo(storage, folder / "empty"), kErrorBadFormat);
  EXPECT_EQ(LoadBuildInfo(storage, folder / "missing"), kErrorFileNotFound);
}

TEST_F(BuildInfoTest, OptionalCdnKeyMayBeEmpty) {
  storage.cdnConfigKey = {KeyFromSeed(9)};
  ProductRow row = Product(1, true);
  row.cdnKey.clear();
  ASSERT_EQ(Load({row}), kErrorSuccess);
  EXPECT_TRUE(storage.cdnConfigKey.empty());
}

TEST_F(BuildInfoTest, RowsWiderThanTheHeaderAreSkipped) {
  testkit::TableText table = testkit::BuildInfoTable({Product(1, true), Product(2, true)}, false);
  table.rows[0].push_back("extra");
  ASSERT_EQ(Load(table), kErrorSuccess);
  EXPECT_EQ(storage.buildConfigKey, KeyList{KeyFromSeed(2)});
}

TEST_F(BuildInfoTest, NamedProductChoosesItsActiveRowIgnoringCase) {
  storage.productCode = "S1";
  ASSERT_EQ(Load({Product(1, true, "wow"), Product(2, false, "s1"), Product(3, true, "s1")}),
            kErrorSuccess);
  EXPECT_EQ(storage.buildConfigKey, KeyList{KeyFromSeed(3)});

  storage.productCode = "d3";
  EXPECT_EQ(Load({Product(1, true, "wow")}), kErrorFileNotFound);
}

TEST_F(BuildInfoTest, WithoutCallbackTheFirstActiveRowIsUsed) {
  ASSERT_EQ(Load({Product(1, true, "wow"), Product(2, true, "wowt")}), kErrorSuccess);
  EXPECT_EQ(storage.buildConfigKey, KeyList{KeyFromSeed(1)});
  EXPECT_EQ(storage.productCode, "");
}

TEST_F(BuildInfoTest, ProductCallbackChoosesAmongActiveProducts) {
  UseProductCallback(true, 1);
  ASSERT_EQ(Load({Product(1, true, "wow"), Product(2, false, "wowx"), Product(3, true, "wowt")}),
            kErrorSuccess);
  EXPECT_EQ(offered, (std::vector<std::string>{"wow", "wowt"}));
  EXPECT_EQ(storage.productCode, "wowt");
  EXPECT_EQ(storage.buildConfigKey, KeyList{KeyFromSeed(3)});
}

TEST_F(BuildInfoTest, ProductCallbackIsAskedOnlyAboutSeveralProducts) {
  UseProductCallback(true, 0);
  ASSERT_EQ(Load({Product(1, false, "wow"), Product(2, true, "wowt")}), kErrorSuccess);
  EXPECT_TRUE(offered.empty());
  EXPECT_EQ(storage.productCode, "wowt");

  storage.productCode.clear();
  EXPECT_EQ(Load({Product(1, false, "wow")}), kErrorFileNotFound);
}

TEST_F(BuildInfoTest, RefusedOrInvalidProductChoiceCancels) {
  UseProductCallback(false, 0);
  EXPECT_EQ(Load({Product(1, true, "a"), Product(2, true, "b")}), kErrorCancelled);
  UseProductCallback(true, 2);
  EXPECT_EQ(Load({Product(1, true, "a"), Product(2, true, "b")}), kErrorCancelled);
  EXPECT_EQ(storage.productCode, "");
}

TEST_F(BuildInfoTest, BuildDbGivesKeysAndTags) {
  std::string path = folder / ".build.db";
  testkit::WriteTextFile(path, testkit::BuildDbText(Key(1), Key(2), "enUS koKR"));
  ASSERT_EQ(LoadBuildDb(storage, path), kErrorSuccess);
  EXPECT_EQ(storage.buildConfigKey, KeyList{KeyFromSeed(1)});
  EXPECT_EQ(storage.cdnConfigKey, KeyList{KeyFromSeed(2)});
  EXPECT_EQ(storage.localeMask, 0x6u);

  testkit::WriteTextFile(path, testkit::BuildDbText(Key(1), "", "enUS"));
  EXPECT_EQ(LoadBuildDb(storage, path), kErrorBadFormat);
  testkit::WriteTextFile(path, testkit::BuildDbText(Key(1), Key(2).substr(1), "enUS"));
  EXPECT_EQ(LoadBuildDb(storage, path), kErrorBadFormat);
  EXPECT_EQ(LoadBuildDb(storage, folder / "missing"), kErrorBadFormat);
}

TEST(LocaleMaskTest, TagsGiveTheBitsOfTheirLocaleCodes) {
  EXPECT_EQ(TagsToLocaleMask("Windows x86_64 US? enUS speech?:deDE text?"), 0x22u);
  EXPECT_EQ(TagsToLocaleMask("xenUSdeDEptPT"), 0x10022u);
  EXPECT_EQ(TagsToLocaleMask("enus DEDE enU"), 0u);
  EXPECT_EQ(TagsToLocaleMask(""), 0u);
}

TEST(LocaleMaskTest, RegionsGiveTheirDefaultLocale) {
  EXPECT_EQ(LocaleMaskFromRegion("cn"), 0x40u);
  EXPECT_EQ(LocaleMaskFromRegion("EU"), 0x200u);
  EXPECT_EQ(LocaleMaskFromRegion("kr"), 0x4u);
  EXPECT_EQ(LocaleMaskFromRegion("tw"), 0x100u);
  EXPECT_EQ(LocaleMaskFromRegion("us"), 0x2u);
  EXPECT_EQ(LocaleMaskFromRegion("cnx"), 0x2u);
  EXPECT_EQ(LocaleMaskFromRegion(""), 0x2u);
}

// Index of the chosen row of a one-column "Region!STRING:0" table.
int ChosenRow(std::vector<std::string> regions, std::string_view wanted) {
  testkit::TableText text{{"Region!STRING:0"}, {}};
  for (const std::string& region : regions) text.rows.push_back({region});
  std::string data = testkit::FormatTable(text);
  TextTable table;
  if (!table.Load(data, true, true)) return -2;
  const TableRow* row = ChooseRowByKey(table, "Region!STRING:0", wanted);
  return row == nullptr ? -1 : static_cast<int>(row - table.rows().data());
}

TEST(ServiceTableTest, RowChoiceFallsBackFromRegionToUsEuXxAndFirst) {
  EXPECT_EQ(ChosenRow({"eu", "us", "xx", "us", "kr"}, "kr"), 4);
  EXPECT_EQ(ChosenRow({"eu", "us", "xx", "us", "kr"}, "KR"), 3);
  EXPECT_EQ(ChosenRow({"eu", "us", "xx", "us", "kr"}, ""), 3);
  EXPECT_EQ(ChosenRow({"eu", "xx", "eu", "xx"}, "cn"), 2);
  EXPECT_EQ(ChosenRow({"xx", "kr", "xx"}, "cn"), 2);
  EXPECT_EQ(ChosenRow({"kr", "tw"}, "cn"), 0);
  EXPECT_EQ(ChosenRow({}, "cn"), -1);
}

std::string VersionsText(std::string buildKey, std::string cdnKey) {
  return testkit::FormatTable(
      {{"Region!STRING:0", "BuildConfig!HEX:16", "CDNConfig!HEX:16", "BuildId!DEC:4",
        "VersionsName!String:0"},
       {{"us", Key(1), Key(2), "1", "1.0.0.1"}, {"kr", buildKey, cdnKey, "5", "2.0.0.40000"}}});
}

TEST(ServiceTableTest, VersionsRowGivesRegionLocaleKeysAndBuild) {
  TCascStorage storage;
  storage.region = "kr";
  ASSERT_EQ(ParseVersionsTable(storage, VersionsText(Key(3), Key(4))), kErrorSuccess);
  EXPECT_EQ(storage.localeMask, 0x4u);
  EXPECT_EQ(storage.buildConfigKey, KeyList{KeyFromSeed(3)});
  EXPECT_EQ(storage.cdnConfigKey, KeyList{KeyFromSeed(4)});
  EXPECT_EQ(storage.buildNumber, 40000u);

  TCascStorage unnamed;
  unnamed.buildKeyOverride = Key(7);
  ASSERT_EQ(ParseVersionsTable(unnamed, VersionsText(Key(3), Key(4))), kErrorSuccess);
  EXPECT_EQ(unnamed.region, "us");
  EXPECT_EQ(unnamed.localeMask, 0x2u);
  EXPECT_EQ(unnamed.buildConfigKey, KeyList{KeyFromSeed(7)});
}

TEST(ServiceTableTest, VersionsRowNeedsBothKeysAndAValidOverride) {
  TCascStorage storage;
  storage.region = "kr";
  EXPECT_EQ(ParseVersionsTable(storage, VersionsText(Key(3), "")), kErrorBadFormat);
  EXPECT_EQ(ParseVersionsTable(storage, VersionsText(Key(3), "abc")), kErrorBadFormat);
  storage.buildKeyOverride = std::string(32, 'g');
  EXPECT_EQ(ParseVersionsTable(storage, VersionsText(Key(3), Key(4))), kErrorBadFormat);
  EXPECT_EQ(ParseVersionsTable(storage, ""), kErrorBadFormat);
  EXPECT_EQ(ParseVersionsTable(storage, "Region!STRING:0\n"), kErrorFileNotFound);
}

TEST(ServiceTableTest, CdnsRowGivesHostsAndPath) {
  std::string text = testkit::FormatTable({{"Name!STRING:0", "Path!STRING:0", "Hosts!STRING:0"},
                                           {{"eu", "tpr/a", "h1 h2"}, {"kr", "", "h3"}}});
  TCascStorage storage;
  storage.cdnPath = "old";
  ASSERT_EQ(ParseCdnsTable(storage, text), kErrorSuccess);
  EXPECT_EQ(storage.cdnHosts, "h1 h2");
  EXPECT_EQ(storage.cdnPath, "tpr/a");
  storage.region = "kr";
  EXPECT_EQ(ParseCdnsTable(storage, text), kErrorFileNotFound);
}

}  // namespace
}  // namespace kestrine

// Storages whose root is a WoW root, written to disk and opened through the
// public interface: files read back by name hash, by file id and by the names
// a list file gives them, with the storage's locale choosing the blocks.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "kestrine.h"
#include "testkit/build_files.h"
#include "testkit/demo_installation.h"
#include "testkit/installation.h"
#include "testkit/wow_root.h"
#include "tests/storage/opened_storage.h"

namespace kestrine {
namespace {

using test::OpenedStorage;
using testkit::StoredFile;
using testkit::WowLayout;
using testkit::WowRootPlan;

constexpr uint32_t kEnUS = 0x2;
constexpr uint32_t kEnGB = 0x200;

// File id to name for every root file a search with `listFile` reports.
std::map<uint32_t, std::string> IdNames(const OpenedStorage& storage, const std::string& listFile) {
  std::map<uint32_t, std::string> found;
  SearchResult result;
  SearchHandle search =
      SearchFirst(storage.handle(), "*", &result, listFile.empty() ? nullptr : listFile.c_str());
  for (bool more = search != nullptr; more; more = SearchNext(search, &result)) {
    if (result.fileDataId != 0xFFFFFFFF) found[result.fileDataId] = result.fileName;
  }
  if (search != nullptr) SearchClose(search);
  return found;
}

// Four stored files; the enUS and enGB blocks both list id 11.
struct WowGame {
  testkit::InstallationPlan layout;
  std::vector<StoredFile> files;
  WowRootPlan plan;

  explicit WowGame(WowLayout rootLayout) {
    for (uint32_t i = 0; i < 4; ++i) {
      files.push_back(
          testkit::EncodeDemoContent(testkit::DataLikeBytes(2000 + i * 700, i), false, i));
      testkit::StoreListedFile(layout, files[i]);
    }
    plan = testkit::WowPlan(rootLayout, 2);
    plan.blocks.push_back(
        testkit::WowBlock(kEnUS, 0,
                          {testkit::WowFile(10, files[0].ckey, "World/Maps/Azeroth.wdt"),
                           testkit::WowFile(11, files[1].ckey, "Sound/Music/Theme.mp3")}));
    plan.blocks.push_back(testkit::WowBlock(
        kEnGB, 0,
        {testkit::WowFile(11, files[2].ckey, "Sound/Music/Theme.mp3"),
         testkit::WowFile(0x1234, files[3].ckey, "Interface/Unnamed.blp", false)}));
    layout.rootFile = testkit::WriteWowRoot(plan);
  }
};

TEST(WowOpenTest, SignedRootOpensByHashIdAndListFileUnderEachLocale) {
  testkit::TempFolder temp;
  WowGame game(WowLayout::kHeaded);
  const auto installation = testkit::WriteInstallation(temp.path() / "game", game.layout);
  testkit::WriteTextFile(
      temp.path() / "listfile.csv",
      testkit::IdListFile({{0x1234, "Interface/Icons/Named.blp"}, {10, "world/maps/azeroth.wdt"}}));
  const std::string listFile = temp / "listfile.csv";

  for (auto [locale, themeFile] : std::map<uint32_t, size_t>{{kEnUS, 1}, {kEnGB, 2}}) {
    SCOPED_TRACE(locale);
    OpenedStorage storage(installation.root, 0, locale);
    ASSERT_NE(storage.handle(), nullptr) << storage.error();
    EXPECT_EQ(storage.Read("world\\maps\\AZEROTH.wdt"), game.files[0].content);
    EXPECT_EQ(storage.Read("Sound/Music/Theme.mp3"), game.files[themeFile].content);
    EXPECT_EQ(storage.Read("File11"), game.files[themeFile].content);
    EXPECT_EQ(storage.Read("FILE0000000A.dat"), game.files[0].content);
    const bool british = locale == kEnGB;
    EXPECT_EQ(storage.Read("File4660.dat"),
              british ? game.files[3].content : std::vector<uint8_t>{});

    std::map<uint32_t, std::string> names = IdNames(storage, listFile);
    EXPECT_EQ(names[10], "world\\maps\\azeroth.wdt");
    EXPECT_EQ(names[11], "FILE0000000B.dat");
    if (british) {
      EXPECT_EQ(names[0x1234], "Interface\\Icons\\Named.blp");
      EXPECT_EQ(storage.Read("interface/icons/named.blp"), game.files[3].content);
    }
    EXPECT_EQ(names.count(0x1234), british ? 1u : 0u);
    // The manifests are named in the same tree, behind the highest id.
    EXPECT_EQ(storage.Read("ROOT"), *game.layout.rootFile);
  }
}

// A root without a signature that no other loader takes is read as a
// headerless WoW root.
TEST(WowOpenTest, HeaderlessRootIsTheLastResort) {
  testkit::TempFolder temp;
  WowGame game(WowLayout::kHeaderless);
  const auto installation = testkit::WriteInstallation(temp.path() / "game", game.layout);
  testkit::WriteTextFile(
      temp.path() / "names.txt",
      testkit::NameListFile({"WORLD/maps/azeroth.wdt", "Sound/Music/Theme.mp3"}));

  OpenedStorage storage(installation.root, 0, kEnGB);
  ASSERT_NE(storage.handle(), nullptr) << storage.error();
  EXPECT_EQ(storage.Read("sound/music/theme.mp3"), game.files[2].content);
  std::map<uint32_t, std::string> names = IdNames(storage, temp / "names.txt");
  EXPECT_EQ(names[10], "WORLD\\maps\\azeroth.wdt");
  EXPECT_EQ(names[11], "Sound\\Music\\Theme.mp3");
  EXPECT_EQ(names[0x1234], "FILE00001234.dat");
}

// A WoW root with a block count past its end is refused; without an INSTALL
// manifest to fall back on, the open fails.
TEST(WowOpenTest, DamagedRootFailsTheOpen) {
  testkit::TempFolder temp;
  WowGame game(WowLayout::kHeaded);
  game.plan.blocks[1].fileCount = 0xFFFFFFFF;
  game.layout.rootFile = testkit::WriteWowRoot(game.plan);
  const auto installation = testkit::WriteInstallation(temp.path() / "game", game.layout);
  OpenedStorage storage(installation.root, 0, kEnUS);
  EXPECT_EQ(storage.handle(), nullptr);
  EXPECT_NE(storage.error(), 0u);
}

}  // namespace
}  // namespace kestrine

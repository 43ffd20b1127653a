// Storages marked by "data\.build.config" whose TVFS root names its files by
// a flattened form: the "index" file of the ROOT manifest gives their real
// paths, which the open enters beside the flattened names. A foreign
// "index", or one with a repeated key, gives no map at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/config_tvfs.h"
#include "testkit/installation.h"
#include "testkit/name_index.h"
#include "testkit/tvfs.h"
#include "tests/storage/opened_storage.h"

namespace kestrine {
namespace {

using testkit::ConfigFileForm;

std::vector<uint8_t> IndexText(std::vector<std::string> paths) {
  testkit::NameIndex index;
  index.paths = std::move(paths);
  index.oddLines = testkit::OddNameIndexLines();
  return testkit::WriteNameIndex(index);
}

const std::vector<uint8_t> kMarine = testkit::DataLikeBytes(9000, 1);
const std::vector<uint8_t> kUnits = testkit::DataLikeBytes(300, 2);
const std::vector<uint8_t> kDecoy = testkit::DataLikeBytes(70, 3);

// The flattened names, one of them (the decoy) without a line in the index.
void AddFlattenedFiles(testkit::ConfigTvfsGame& game) {
  game.Add("sdunitterranmarine.grp", kMarine);
  game.Add("sdarrunits.dat", kUnits, ConfigFileForm::kBareZlib);
  game.Add("sdunitdecoy.grp", kDecoy, ConfigFileForm::kBlte);
}

// The game written to a folder of its own and opened.
class OpenedConfigStorage : public test::OpenedStorage {
 public:
  explicit OpenedConfigStorage(testkit::ConfigTvfsGame& game)
      : OpenedConfigStorage(std::make_unique<testkit::TempFolder>(), game) {}

 private:
  OpenedConfigStorage(std::unique_ptr<testkit::TempFolder> folder, testkit::ConfigTvfsGame& game)
      : test::OpenedStorage(game.Write(folder->path() / "game").root), folder_(std::move(folder)) {}

  std::unique_ptr<testkit::TempFolder> folder_;
};

class BuildConfigTvfsTest : public ::testing::TestWithParam<ConfigFileForm> {};

TEST_P(BuildConfigTvfsTest, TheIndexGivesTheRealNamesBesideTheFlattenedOnes) {
  testkit::ConfigTvfsGame game(GetParam());
  AddFlattenedFiles(game);
  game.AddRootManifest(IndexText({"SD/Unit/Terran/Marine.grp", "SD\\Arr\\units.dat"}), "index",
                       GetParam());
  OpenedConfigStorage storage(game);
  ASSERT_NE(storage.handle(), nullptr) << GetCascError();

  EXPECT_TRUE(storage.Read("SD\\Unit\\Terran\\Marine.grp") == kMarine);
  EXPECT_TRUE(storage.Read("sd/arr/UNITS.dat") == kUnits);
  EXPECT_TRUE(storage.Read("sdunitterranmarine.grp") == kMarine);
  EXPECT_TRUE(storage.Read("sdunitdecoy.grp") == kDecoy);
  EXPECT_TRUE(storage.Read("SD/Unit/Decoy.grp").empty());

  // Each name once; the names of the first walk before the real ones.
  const std::vector<std::string> names = storage.SearchNames();
  auto position = [&names](const std::string& name) {
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    return std::find(names.begin(), names.end(), name) - names.begin();
  };
  const auto firstReal =
      std::min(position("SD\\Unit\\Terran\\Marine.grp"), position("SD\\Arr\\units.dat"));
  for (const char* flattened :
       {"sdunitterranmarine.grp", "sdarrunits.dat", "sdunitdecoy.grp", "index"}) {
    EXPECT_LT(position(flattened), firstReal) << flattened;
  }
}

INSTANTIATE_TEST_SUITE_P(RootForms, BuildConfigTvfsTest,
                         ::testing::Values(ConfigFileForm::kBlte, ConfigFileForm::kBlteBehindHeader,
                                           ConfigFileForm::kBareZlib));

// The first walk passes nested directories over and enters a file of
// several spans under its flattened name; the main walk mounts the
// directories and enters the file again under its real name, bound to the
// same spans.
TEST(BuildConfigTvfsMapTest, SpannedFilesAndNestedDirectoriesAreNamedOnce) {
  testkit::ConfigTvfsGame game;
  const std::vector<uint8_t> head = testkit::DataLikeBytes(12000, 5);
  const std::vector<uint8_t> tail = testkit::DataLikeBytes(3000, 6);
  game.AddSpanned("sdmusiclong.ogg", {game.AddUnnamed(head), game.AddUnnamed(tail)});
  testkit::TvfsRoot inner;
  inner.ekeySize = 16;
  inner.files = {{"notes/readme.txt", {testkit::SpanOf(game.AddUnnamed(kUnits))}}};
  game.Add("pack", testkit::WriteTvfs(inner));
  game.AddRootManifest(IndexText({"SD/Music/Long.ogg"}));
  OpenedConfigStorage storage(game);
  ASSERT_NE(storage.handle(), nullptr) << GetCascError();

  std::vector<uint8_t> whole = head;
  whole.insert(whole.end(), tail.begin(), tail.end());
  EXPECT_TRUE(storage.Read("SD/Music/Long.ogg") == whole);
  EXPECT_TRUE(storage.Read("sdmusiclong.ogg") == whole);
  EXPECT_TRUE(storage.Read("pack:notes/readme.txt") == kUnits);
  const std::vector<std::string> names = storage.SearchNames();
  for (const char* name : {"sdmusiclong.ogg", "SD\\Music\\Long.ogg", "pack:notes\\readme.txt"}) {
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
  }
}

// An "index" that is not the ROOT manifest's file is no map, even when the
// ROOT manifest holds the same lines under another name.
TEST(BuildConfigTvfsMapTest, AForeignIndexIsIgnored) {
  const std::vector<uint8_t> text = IndexText({"SD/Unit/Terran/Marine.grp"});
  testkit::ConfigTvfsGame game;
  AddFlattenedFiles(game);
  game.Add("index", text);
  game.AddRootManifest(IndexText({"SD/Unit/Terran/Marine.grp", "other/line.txt"}), "root.txt");
  OpenedConfigStorage storage(game);
  ASSERT_NE(storage.handle(), nullptr) << GetCascError();
  EXPECT_TRUE(storage.Read("index") == text);
  EXPECT_TRUE(storage.Read("sdunitterranmarine.grp") == kMarine);
  EXPECT_TRUE(storage.Read("SD/Unit/Terran/Marine.grp").empty());
}

// Two lines of the same key (separators do not count) drop every line.
TEST(BuildConfigTvfsMapTest, ARepeatedKeyDropsTheWholeMap) {
  testkit::ConfigTvfsGame game;
  AddFlattenedFiles(game);
  game.AddRootManifest(
      IndexText({"SD/Arr/Units.dat", "SD/Unit/Terran/Marine.grp", "SDArr/units.DAT"}));
  OpenedConfigStorage storage(game);
  ASSERT_NE(storage.handle(), nullptr) << GetCascError();
  EXPECT_TRUE(storage.Read("sdarrunits.dat") == kUnits);
  EXPECT_TRUE(storage.Read("SD/Arr/Units.dat").empty());
  EXPECT_TRUE(storage.Read("SD/Unit/Terran/Marine.grp").empty());
}

}  // namespace
}  // namespace kestrine

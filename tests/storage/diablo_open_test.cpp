// Storages whose root is a Diablo III root, written to disk and opened
// through the public interface: every name a search reports, with its size
// and CKey, read back by name; many directories; a directory whose file is
// missing from the archives; roots the loader refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/md5.h"
#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/build_files.h"
#include "testkit/diablo_root.h"
#include "testkit/installation.h"
#include "tests/storage/opened_storage.h"

namespace kestrine {
namespace {

using test::OpenedStorage;
using testkit::DiabloDirectoryPlan;
using testkit::TocRecord;

struct Found {
  std::string name;
  uint64_t size;
  Key16 ckey;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& found) {
  return out << found.name << " " << found.size << " " << FormatHexKey(found.ckey);
}

// Every result of a search over "*", in order.
std::vector<Found> SearchAll(StorageHandle storage) {
  std::vector<Found> found;
  SearchResult result;
  SearchHandle search = SearchFirst(storage, "*", &result, nullptr);
  for (bool more = search != nullptr; more; more = SearchNext(search, &result)) {
    Key16 ckey;
    std::copy(std::begin(result.ckey), std::end(result.ckey), ckey.begin());
    found.push_back({result.fileName, result.fileSize, ckey});
  }
  if (search != nullptr) SearchClose(search);
  return found;
}

// A Diablo III game: the root's plan, and the content of each name.
struct DiabloGame {
  testkit::InstallationPlan layout;
  testkit::DiabloRootPlan plan;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> named;  // in search order
  uint32_t seed = 1;

  Key16 Store(std::vector<uint8_t> content) { return testkit::InstallationStore(layout)(content); }
  // A file of `size` bytes named `name` once the root is loaded.
  Key16 Add(const std::string& name, size_t size) {
    std::vector<uint8_t> content = testkit::DataLikeBytes(size, seed++);
    named.emplace_back(name, content);
    return Store(content);
  }
  testkit::Installation Write(const std::filesystem::path& path) {
    testkit::StoreDiabloRoot(layout, plan);
    return testkit::WriteInstallation(path, layout);
  }
};

TEST(DiabloOpenTest, EveryNameReadsBackWithItsSizeAndKey) {
  testkit::TempFolder temp;
  DiabloGame game;
  game.plan.toc = testkit::TocOf(
      {TocRecord(1, 7, "Barbarian"), TocRecord(3, 9, "Odd"), TocRecord(62, 4, "Theme")});
  game.plan.packages = testkit::PackagesOf({"Actor\\Barbarian.ac2"});
  DiabloDirectoryPlan base, locale;
  // In search order: the named entries of both directories (the table of
  // contents and the package list join those of "Base"), then the numbered.
  base.named = {{game.Add("Base\\Readme.txt", 500), "Readme.txt"}};
  game.named.emplace_back("Base\\CoreTOC.dat", testkit::WriteCoreToc(*game.plan.toc));
  game.named.emplace_back("Base\\Data_D3\\PC\\Misc\\Packages.dat",
                          testkit::WritePackageList(*game.plan.packages));
  locale.named = {{game.Add("enUS\\Sub\\Voice.ogg", 70000), "Sub/Voice.ogg"}};
  base.assets = {{game.Add("Base\\Actor\\Barbarian.ac2", 9000), 7},
                 {game.Add("Base\\Asset03\\Odd.a03", 30), 9}};
  base.parts = {{game.Add("Base\\Actor\\Barbarian\\0003.acr", 4000), 7, 3}};
  locale.assets = {{game.Add("enUS\\Music\\Theme.mus", 100000), 4}};
  game.plan.directories = {{"Base", base}, {"enUS", locale}};
  const testkit::Installation installation = game.Write(temp.path() / "d3");

  OpenedStorage storage(installation);
  ASSERT_NE(storage.handle(), nullptr) << storage.error();
  std::vector<Found> expected;
  for (const auto& [name, content] : game.named) {
    expected.push_back({name, content.size(), ComputeMd5(content)});
    EXPECT_EQ(storage.Read(name), content) << name;
  }
  expected.push_back(
      {"ENCODING", installation.encodingFile->content.size(), installation.encodingFile->ckey});
  expected.push_back({"ROOT", installation.rootFile->content.size(), installation.rootFile->ckey});
  EXPECT_EQ(SearchAll(storage.handle()), expected);
  // The directories open by name, but no search reports them.
  EXPECT_TRUE(storage.Names("Base"));
  EXPECT_TRUE(storage.Names("enus"));
}

TEST(DiabloOpenTest, ManyDirectoriesAndOneMissingFromTheArchives) {
  testkit::TempFolder temp;
  DiabloGame game;
  game.plan.toc.emplace();
  for (uint32_t d = 0; d < 36; ++d) {
    char name[16];
    std::snprintf(name, sizeof name, "Dir%02u", d);
    game.plan.toc->records.push_back(TocRecord(40, d + 1, "Sound" + std::to_string(d)));
    DiabloDirectoryPlan directory;
    directory.assets = {
        {game.Add(std::string(name) + "\\Sound\\Sound" + std::to_string(d) + ".snd", 100 + d),
         d + 1}};
    game.plan.directories.push_back({name, directory});
  }
  DiabloDirectoryPlan lost;
  lost.named = {{game.Store(testkit::DataLikeBytes(10, 99)), "Lost.txt"}};
  game.plan.directories.push_back({"Lost", lost});
  testkit::StoreDiabloRoot(game.layout, game.plan);
  // The directory file stays listed by the ENCODING manifest, but is not
  // stored: reading it fails and its folder stays empty.
  const Key16 lostKey = ComputeMd5(testkit::WriteDiabloDirectory(lost));
  auto listed =
      std::find_if(game.layout.encoding.entries.begin(), game.layout.encoding.entries.end(),
                   [&](const auto& entry) { return entry.ckey == lostKey; });
  ASSERT_NE(listed, game.layout.encoding.entries.end());
  std::erase_if(game.layout.files, [&](const auto& file) { return file.ekey == listed->ekeys[0]; });
  const testkit::Installation installation =
      testkit::WriteInstallation(temp.path() / "d3", game.layout);

  OpenedStorage storage(installation);
  ASSERT_NE(storage.handle(), nullptr) << storage.error();
  for (const auto& [name, content] : game.named) EXPECT_EQ(storage.Read(name), content) << name;
  EXPECT_FALSE(storage.Names("Lost\\Lost.txt"));
  const std::vector<Found> found = SearchAll(storage.handle());
  EXPECT_EQ(std::count_if(found.begin(), found.end(),
                          [](const Found& f) { return f.name.starts_with("Lost"); }),
            0);
}

// A root the loader refuses leaves no storage; the INSTALL manifest, which
// would stand in, is absent.
TEST(DiabloOpenTest, RefusedRootsOpenNothing) {
  struct Case {
    const char* what;
    void (*change)(testkit::DiabloRootPlan& plan);
  };
  const Case cases[] = {
      {"valid", [](testkit::DiabloRootPlan&) {}},
      {"no table of contents", [](testkit::DiabloRootPlan& plan) { plan.toc.reset(); }},
      {"short table of contents",
       [](testkit::DiabloRootPlan& plan) {
         plan.toc->truncateBy = testkit::WriteCoreToc(*plan.toc).size() - 843;
       }},
      {"bad directory",
       [](testkit::DiabloRootPlan& plan) { plan.directories[0].file.unterminatedLastName = true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testkit::TempFolder temp;
    DiabloGame game;
    game.plan.toc = testkit::TocOf({TocRecord(1, 7, "Barbarian")});
    DiabloDirectoryPlan other;
    other.named = {{game.Add("Other\\File.txt", 10), "File.txt"}};
    // Two directories: a root file shorter than 33 bytes is no root at all.
    game.plan.directories = {{"Other", other}, {"enUS", {}}};
    c.change(game.plan);
    OpenedStorage storage(game.Write(temp.path() / "d3"));
    if (c.change == cases[0].change) {
      ASSERT_NE(storage.handle(), nullptr) << storage.error();
      EXPECT_EQ(storage.Read("Other\\File.txt"), game.named[0].second);
      continue;
    }
    EXPECT_EQ(storage.handle(), nullptr);
    EXPECT_EQ(storage.error(), kErrorFileNotFound);
  }
}

}  // namespace
}  // namespace kestrine

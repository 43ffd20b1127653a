// The Diablo III loader over roots the testkit writes, against an in-memory
// storage whose files are read from memory: names of every kind, the package
// list, the table of contents, headers, many and repeated directories, asset
// numbers the table does not hold, and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/md5.h"
#include "kestrine.h"
#include "roots/diablo_packages.h"
#include "roots/diablo_root.h"
#include "roots/file_tree_root.h"
#include "storage/storage.h"
#include "testkit/diablo_root.h"
#include "testkit/roots.h"

namespace kestrine {
namespace {

using testkit::CoreTocPlan;
using testkit::DiabloDirectoryPlan;
using testkit::DiabloRootPlan;
using testkit::PackageListPlan;
using testkit::PackagesOf;
using testkit::TocOf;
using testkit::TocRecord;
using Names = std::vector<std::string>;

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

class DiabloRootTest : public ::testing::Test {
 protected:
  DiabloRootTest() : storage_(testkit::MakeMemoryStorage(4096)), files_(*storage_) {}

  Key16 File(const std::string& content) { return files_.Store(Bytes(content)); }
  uint32_t Load(const DiabloRootPlan& plan) { return LoadRaw(WriteRoot(plan)); }
  std::vector<uint8_t> WriteRoot(const DiabloRootPlan& plan) {
    return testkit::WriteDiabloRoot(plan, files_.store());
  }
  uint32_t LoadRaw(const std::vector<uint8_t>& root) {
    storage_->root.reset();
    const uint32_t result = LoadDiabloRootWith(*storage_, root, files_.reader());
    EXPECT_EQ(storage_->root != nullptr, result == kErrorSuccess);
    return result;
  }
  ContentEntry* Entry(const Key16& ckey) { return storage_->contents.FindByCKey(ckey.data()); }
  ContentEntry* Lookup(const std::string& name) {
    return storage_->root->LookupName(storage_.get(), name.c_str());
  }
  // Every name a search with `mask` reports, in order.
  Names Search(const char* mask = "*") {
    Names names;
    SearchResult result;
    SearchHandle search = SearchFirst(HandleOf(storage_.get()), mask, &result, nullptr);
    for (bool found = search != nullptr; found; found = SearchNext(search, &result)) {
      names.push_back(result.fileName);
    }
    if (search != nullptr) SearchClose(search);
    return names;
  }

  testkit::StorageRef storage_;
  testkit::MemoryFiles files_;
};

PackageListPlan Packages(std::vector<std::string> names, uint32_t signature,
                         std::optional<uint32_t> count = std::nullopt, size_t truncateBy = 0) {
  PackageListPlan plan = PackagesOf(std::move(names));
  plan.signature = signature;
  plan.count = count;
  plan.truncateBy = truncateBy;
  return plan;
}

// One record per (group, id, name); "Barbarian" is SNO 7 of group 1 (Actor).
CoreTocPlan HeroToc() {
  return TocOf({TocRecord(1, 7, "Barbarian")});
}

// "Base" with an A entry and a B entry (sub-index 3) of the SNO 7.
DiabloRootPlan HeroRoot(const Key16& hero, const Key16& heroPart) {
  DiabloRootPlan plan;
  plan.toc = HeroToc();
  DiabloDirectoryPlan base;
  base.assets = {{hero, 7}};
  base.parts = {{heroPart, 7, 3}};
  plan.directories = {{"Base", base}};
  return plan;
}

TEST_F(DiabloRootTest, EveryKindOfEntryGetsItsName) {
  const Key16 readme = File("readme"), hero = File("hero"), part = File("part 3"),
              odd = File("odd"), far = File("far"), wide = File("part 12345"),
              voice = File("voice"), music = File("music");
  DiabloRootPlan plan;
  // Group 3 has no built-in row; group 99 lies beyond the table (kept in table 5).
  plan.toc = TocOf({TocRecord(1, 7, "Barbarian"), TocRecord(3, 9, "Odd"), TocRecord(99, 10, "Far"),
                    TocRecord(62, 4, "Theme")});
  plan.toc->records[2].table = 5;
  DiabloDirectoryPlan base;
  base.named = {{readme, "Readme.txt"}};
  base.assets = {{hero, 7}, {odd, 9}, {far, 10}};
  base.parts = {{part, 7, 3}, {wide, 7, 12345}};
  DiabloDirectoryPlan locale;
  locale.named = {{voice, "Sub/Voice.ogg"}};
  locale.assets = {{music, 4}};
  plan.directories = {{"Base", base}, {"enUS", locale}};
  ASSERT_EQ(Load(plan), 0u);

  // Named entries come first, in root order; then the numbered ones of
  // each directory, A before B. Folders, the directory files among them,
  // are never reported.
  EXPECT_EQ(Search(), (Names{"Base\\Readme.txt", "Base\\CoreTOC.dat", "enUS\\Sub\\Voice.ogg",
                             "Base\\Actor\\Barbarian.acr", "Base\\Asset03\\Odd.a03",
                             "Base\\Asset99\\Far.a99", "Base\\Actor\\Barbarian\\0003.acr",
                             "Base\\Actor\\Barbarian\\12345.acr", "enUS\\Music\\Theme.mus"}));
  EXPECT_EQ(Search("base\\actor\\*"),
            (Names{"Base\\Actor\\Barbarian.acr", "Base\\Actor\\Barbarian\\0003.acr",
                   "Base\\Actor\\Barbarian\\12345.acr"}));
  EXPECT_EQ(Lookup("base/actor/BARBARIAN.acr"), Entry(hero));
  EXPECT_EQ(Lookup("Base\\Actor\\Barbarian\\0003.acr"), Entry(part));
  EXPECT_EQ(Lookup("Base\\Asset03\\Odd.a03"), Entry(odd));
  EXPECT_EQ(Lookup("enUS\\Sub\\Voice.ogg"), Entry(voice));
  EXPECT_EQ(Entry(hero)->refCount, 1u);

  // A directory opens by its name; its entry is marked and nameless.
  for (const char* directory : {"Base", "enUS"}) {
    ContentEntry* entry = Lookup(directory);
    ASSERT_NE(entry, nullptr) << directory;
    EXPECT_NE(entry->flags & EF_ROOT_DIRECTORY, 0) << directory;
  }
  EXPECT_EQ(static_cast<TFileTreeRoot&>(*storage_->root).features(), 0x3u);
}

TEST_F(DiabloRootTest, PackageListGivesTheExtensions) {
  const Key16 hero = File("hero"), part = File("part");
  struct Case {
    const char* what;
    std::optional<PackageListPlan> packages;
    Names names;  // of the A and the B entry
  };
  const Names builtIn = {"Base\\Actor\\Barbarian.acr", "Base\\Actor\\Barbarian\\0003.acr"};
  const Names listed = {"Base\\Actor\\barbarian.ac2", "Base\\Actor\\Barbarian\\0003.ac3"};
  const std::vector<std::string> names = {"Sound\\Door.snd", "Actor\\barbarian.ac2",
                                          "ACTOR\\BARBARIAN.xyz", "Actor\\Barbarian\\0003.ac3"};
  std::vector<Case> cases = {
      {"none", std::nullopt, builtIn},
      {"first of a key wins, any case", PackagesOf(names), listed},
      // The folders below keep the case of the name that made them.
      {"no extension",
       PackagesOf({"actor\\barbarian"}),
       {"Base\\actor\\barbarian", "Base\\actor\\barbarian\\0003.acr"}},
      {"the last dot counts", PackagesOf({"Actor\\Barbarian.old.ac2"}), builtIn},
      {"a dot before the separator", PackagesOf({"Actor\\Barbarian.v2\\0003"}), builtIn},
      {"signature", Packages(names, 0xAABB0003), builtIn},
      {"count 0", Packages(names, kDiabloPackagesSignature, 0), builtIn},
      {"count 2 of 4", Packages(names, kDiabloPackagesSignature, 2), {listed[0], builtIn[1]}},
      {"huge count", Packages(names, kDiabloPackagesSignature, 0xFFFFFFFF), listed},
      {"last name cut",
       Packages(names, kDiabloPackagesSignature, std::nullopt, 1),
       {listed[0], builtIn[1]}},
      {"header cut", Packages(names, kDiabloPackagesSignature, std::nullopt, 1000), builtIn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiabloRootPlan plan = HeroRoot(hero, part);
    plan.packages = c.packages;
    ASSERT_EQ(Load(plan), 0u);
    EXPECT_EQ(Search("base\\actor\\*"), c.names);
  }
}

TEST_F(DiabloRootTest, TableOfContentsFaultsGiveTheirCodes) {
  const Key16 hero = File("hero"), part = File("part");
  struct Case {
    const char* what;
    std::optional<CoreTocPlan> toc;
    uint32_t result;
    bool named = false;  // the hero's files are named
  };
  CoreTocPlan toc = HeroToc();
  auto with = [&](auto change) {
    CoreTocPlan changed = toc;
    change(changed);
    return changed;
  };
  std::vector<Case> cases = {
      {"valid", toc, 0, true},
      {"missing", std::nullopt, kErrorFileNotFound},
      {"empty", with([](CoreTocPlan& t) { t.truncateBy = 100000; }), 0},
      {"header cut", with([](CoreTocPlan& t) { t.records.clear(), t.truncateBy = 1; }),
       kErrorBadFormat},
      {"records past the end", with([](CoreTocPlan& t) { t.counts[1] = 3; }), kErrorBadFormat},
      {"huge count", with([](CoreTocPlan& t) { t.counts[1] = 0xFFFFFFFF; }), kErrorBadFormat},
      {"offset past the end", with([](CoreTocPlan& t) { t.offsets[1] = 0xFFFFFFF0; }),
       kErrorBadFormat},
      {"empty table far off", with([](CoreTocPlan& t) { t.offsets[2] = 0xFFFFFFFF; }), 0, true},
      {"name outside", with([](CoreTocPlan& t) { t.records[0].nameOffset = 1000; }), 0},
      {"name cut", with([](CoreTocPlan& t) { t.truncateBy = 1; }), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiabloRootPlan plan = HeroRoot(hero, part);
    plan.toc = c.toc;
    ASSERT_EQ(Load(plan), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(Lookup("Base\\Actor\\Barbarian.acr") != nullptr, c.named);
    EXPECT_EQ(Lookup("Base\\Actor\\Barbarian\\0003.acr") != nullptr, c.named);
  }

  // The error of reading the table of contents ends the load.
  for (uint32_t error : {kErrorFileCorrupt, kErrorNotEnoughMemory, kErrorUnknownFileKey}) {
    files_.FailReading(ComputeMd5(testkit::WriteCoreToc(toc)), error);
    EXPECT_EQ(Load(HeroRoot(hero, part)), error);
  }
}

TEST_F(DiabloRootTest, RootAndDirectoryHeadersAreChecked) {
  const Key16 hero = File("hero"), part = File("part"), file = File("file");
  struct Case {
    const char* what;
    DiabloDirectoryPlan other;  // a further directory "Other"
    uint32_t result;
  };
  DiabloDirectoryPlan valid;
  valid.assets = {{hero, 7}};
  valid.parts = {{part, 7, 1}};
  valid.named = {{file, "File.txt"}};
  auto with = [&](auto change) {
    DiabloDirectoryPlan changed = valid;
    change(changed);
    return changed;
  };
  std::vector<Case> cases = {
      {"valid", valid, 0},
      {"named only", with([](DiabloDirectoryPlan& d) { d.signature = kDiabloRootSignature; }), 0},
      {"signature", with([](DiabloDirectoryPlan& d) { d.signature = 0xEAF1FE88; }),
       kErrorBadFormat},
      {"shorter than 8", with([](DiabloDirectoryPlan& d) {
         d.truncateBy = testkit::WriteDiabloDirectory(d).size() - 6;
       }),
       kErrorBadFormat},
      {"empty", with([](DiabloDirectoryPlan& d) { d.truncateBy = 1000; }), 0},
      {"huge A count", with([](DiabloDirectoryPlan& d) { d.assetCount = 0xFFFFFFFF; }),
       kErrorBadFormat},
      {"B count one past", with([](DiabloDirectoryPlan& d) { d.partCount = 2, d.named.clear(); }),
       kErrorBadFormat},
      {"no named count", with([](DiabloDirectoryPlan& d) { d.named.clear(), d.truncateBy = 4; }),
       kErrorBadFormat},
      {"key cut", with([](DiabloDirectoryPlan& d) {
         d.named = {{d.named[0].ckey, ""}}, d.truncateBy = 2;
       }),
       kErrorBadFormat},
      {"name unterminated", with([](DiabloDirectoryPlan& d) { d.unterminatedLastName = true; }),
       kErrorBadFormat},
      {"named count 0", with([](DiabloDirectoryPlan& d) { d.namedCount = 0; }), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiabloRootPlan plan = HeroRoot(File("a"), File("b"));
    plan.directories.push_back({"Other", c.other});
    ASSERT_EQ(Load(plan), c.result);
    if (c.result != 0) continue;
    const bool read = c.other.truncateBy == 0;
    const bool numbered = read && c.other.signature == kDiabloDirectorySignature;
    EXPECT_EQ(Lookup("Other\\File.txt") != nullptr, read && c.other.namedCount != 0u);
    EXPECT_EQ(Lookup("Other\\Actor\\Barbarian.acr"), numbered ? Entry(hero) : nullptr);
  }

  // The root: its own header, and its named entries read to the end.
  const std::vector<uint8_t> root = WriteRoot(HeroRoot(hero, part));
  auto changed = [&](auto change) {
    std::vector<uint8_t> bytes = root;
    change(bytes);
    return bytes;
  };
  EXPECT_EQ(LoadRaw(changed([](auto& b) { b.resize(3); })), kErrorBadFormat);
  EXPECT_EQ(LoadRaw(changed([](auto& b) { b[0] ^= 1; })), kErrorBadFormat);
  EXPECT_EQ(LoadRaw(changed([](auto& b) { b.resize(6); })), kErrorBadFormat);
  EXPECT_EQ(LoadRaw(changed([](auto& b) { b.pop_back(); })), kErrorBadFormat);
  EXPECT_EQ(LoadRaw(changed([](auto& b) { b[4] = b[5] = b[6] = b[7] = 0; })), kErrorFileNotFound);
  EXPECT_EQ(LoadRaw(changed([](auto& b) { b[4] = b[5] = b[6] = b[7] = 0xFF; })), 0u);
  // A root in the layout of the other directories is read the same way.
  DiabloRootPlan extended = HeroRoot(hero, part);
  extended.root.signature = kDiabloDirectorySignature;
  extended.root.assets = {{hero, 7}};
  ASSERT_EQ(Load(extended), 0u);
  EXPECT_EQ(Search("?*"), (Names{"Base\\CoreTOC.dat", "Base\\Actor\\Barbarian.acr",
                                 "Base\\Actor\\Barbarian\\0003.acr"}));
}

// Nothing bounds the directories of a root.
TEST_F(DiabloRootTest, EveryDirectoryOfALargeRootIsRead) {
  constexpr uint32_t kDirectories = 40;
  DiabloRootPlan plan;
  plan.toc.emplace();
  Names expected;
  std::vector<Key16> keys;
  for (uint32_t d = 0; d < kDirectories; ++d) {
    char name[16];
    std::snprintf(name, sizeof name, "Dir%02u", d);
    plan.toc->records.push_back(TocRecord(25, d + 1, "Monster" + std::to_string(d)));
    DiabloDirectoryPlan directory;
    directory.named = {{File("named " + std::to_string(d)), "Named.txt"}};
    directory.assets = {{File("asset " + std::to_string(d)), d + 1}};
    plan.directories.push_back({name, directory});
    expected.push_back(std::string(name) + "\\Named.txt");
    keys.push_back(directory.named[0].ckey);
  }
  ASSERT_EQ(Load(plan), 0u);
  Names found = Search();
  ASSERT_EQ(found.size(), 2 * kDirectories + 1);  // and Base\CoreTOC.dat
  for (uint32_t d = 0; d < kDirectories; ++d) {
    SCOPED_TRACE(d);
    EXPECT_EQ(found[d], expected[d]);
    EXPECT_EQ(Lookup(expected[d]), Entry(keys[d]));
    const std::string asset = plan.directories[d].name + "\\Monster\\Monster" + std::to_string(d);
    EXPECT_EQ(found[kDirectories + 1 + d], asset + ".mon");
    EXPECT_EQ(Lookup(asset + ".mon"), Entry(plan.directories[d].file.assets[0].ckey));
  }
}

// A directory name longer than any path buffer: its files are named below
// it, or not at all (names agree in their first 260 bytes only).
TEST_F(DiabloRootTest, LongDirectoryNameIsKeptWhole) {
  const Key16 hero = File("hero");
  DiabloRootPlan plan = HeroRoot(File("other"), File("part"));
  DiabloDirectoryPlan longer;
  longer.assets = {{hero, 7}};
  const std::string name = "Dir/" + std::string(250, 'd') + "/" + std::string(700, 'e');
  plan.directories.push_back({name, longer});
  ASSERT_EQ(Load(plan), 0u);
  EXPECT_EQ(Entry(hero)->refCount, 0u);
  // The unnamed entries that a search over "*" reports follow no other mask.
  for (const std::string& found : Search("?*")) EXPECT_TRUE(found.starts_with("Base\\")) << found;
}

// Asset numbers the table of contents does not hold leave their files
// nameless; a search reports them by CKey.
TEST_F(DiabloRootTest, AssetsOutsideTheTableStayUnnamed) {
  const Key16 hero = File("hero");
  const std::vector<Key16> outside = {File("above"), File("far above"), File("gap"), File("zero")};
  DiabloRootPlan plan;
  plan.toc = TocOf({TocRecord(1, 7, "Barbarian"), TocRecord(1, 3, "Other")});
  DiabloDirectoryPlan base;
  base.assets = {{outside[0], 8}, {outside[1], 0xFFFFFFFF}, {outside[2], 5}, {hero, 7}};
  base.parts = {{outside[3], 0, 1}};
  plan.directories = {{"Base", base}};
  ASSERT_EQ(Load(plan), 0u);
  Names expected = {"Base\\CoreTOC.dat", "Base\\Actor\\Barbarian.acr"};
  for (const Key16& key : outside) expected.push_back(FormatHexKey(key));
  Names found = Search();
  std::sort(found.begin() + 2, found.end());
  std::sort(expected.begin() + 2, expected.end());
  EXPECT_EQ(found, expected);

  // A table of contents without records names none of them; nor does one
  // whose highest SNO id is 0.
  plan.toc = CoreTocPlan{};
  ASSERT_EQ(Load(plan), 0u);
  EXPECT_EQ(Search("Base\\*"), (Names{"Base\\CoreTOC.dat"}));
  plan.toc = TocOf({TocRecord(1, 0, "Zero")});
  ASSERT_EQ(Load(plan), 0u);
  EXPECT_EQ(Search("Base\\*"), (Names{"Base\\CoreTOC.dat"}));
}

// A directory named twice lists the files of both its files under the
// folder of the first name; the second file stays out of every search.
TEST_F(DiabloRootTest, DirectoryNamedTwice) {
  const Key16 one = File("one"), two = File("two"), hero = File("hero"), part = File("part");
  DiabloRootPlan plan = HeroRoot(hero, File("unused"));
  DiabloDirectoryPlan again;
  again.named = {{one, "One.txt"}};
  again.parts = {{part, 7, 2}};
  DiabloDirectoryPlan copy;
  copy.named = {{two, "Two.txt"}};
  plan.directories.push_back({"BASE", again});
  plan.directories.push_back({"Copy", copy});
  plan.directories.push_back({"Copy2", copy});  // the same file under another name
  ASSERT_EQ(Load(plan), 0u);
  EXPECT_EQ(Search(),
            (Names{"Base\\CoreTOC.dat", "Base\\One.txt", "Copy\\Two.txt", "Copy2\\Two.txt",
                   "Base\\Actor\\Barbarian.acr", "Base\\Actor\\Barbarian\\0003.acr",
                   "Base\\Actor\\Barbarian\\0002.acr"}));
  ContentEntry* second = Entry(ComputeMd5(testkit::WriteDiabloDirectory(again)));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->refCount, 0u);
  EXPECT_NE(second->flags & EF_ROOT_DIRECTORY, 0);
  EXPECT_NE(Lookup("Base"), second);
}

TEST_F(DiabloRootTest, UnknownAndUnreadableFilesArePassedOver) {
  const Key16 hero = File("hero"), part = File("part"), unreadable = File("unreadable");
  DiabloRootPlan plan = HeroRoot(hero, part);
  plan.root.named = {{testkit::MakeKey(1), "Unknown"}, {unreadable, "Unreadable"}};
  files_.FailReading(unreadable, kErrorFileCorrupt);
  plan.directories[0].file.named.push_back({testkit::MakeKey(2), "Unknown.txt"});
  plan.directories[0].file.assets.push_back({testkit::MakeKey(3), 7});
  DiabloDirectoryPlan empty;
  plan.directories.push_back({"Empty", empty});
  ASSERT_EQ(Load(plan), 0u);
  EXPECT_EQ(Lookup("Unknown"), nullptr);
  EXPECT_EQ(Lookup("Base\\Unknown.txt"), nullptr);
  EXPECT_EQ(Lookup("Unreadable"), Entry(unreadable));
  EXPECT_EQ(Search(), (Names{"Base\\CoreTOC.dat", "Base\\Actor\\Barbarian.acr",
                             "Base\\Actor\\Barbarian\\0003.acr"}));

  // Running out of memory while reading a directory or the package list
  // ends the load instead.
  files_.FailReading(unreadable, kErrorNotEnoughMemory);
  EXPECT_EQ(Load(plan), kErrorNotEnoughMemory);
  files_.FailReading(unreadable, kErrorFileCorrupt);
  plan.packages = PackagesOf({"Actor\\Barbarian.ac2"});
  files_.FailReading(ComputeMd5(testkit::WritePackageList(*plan.packages)), kErrorNotEnoughMemory);
  EXPECT_EQ(Load(plan), kErrorNotEnoughMemory);
}

// Every file cut at every length, and counts far beyond the data: the load
// ends in one of its codes, and installs its handler exactly on 0.
TEST_F(DiabloRootTest, DamagedFilesEndInTheirCodes) {
  DiabloRootPlan plan = HeroRoot(File("hero"), File("part"));
  plan.packages = PackagesOf({"Actor\\Barbarian.ac2"});
  plan.directories[0].file.named = {{File("named"), "Named.txt"}};
  using Cut = size_t& (*)(DiabloRootPlan&);
  const std::pair<const char*, Cut> files[] = {
      {"directory", [](DiabloRootPlan& p) -> size_t& { return p.directories[0].file.truncateBy; }},
      {"toc", [](DiabloRootPlan& p) -> size_t& { return p.toc->truncateBy; }},
      {"packages", [](DiabloRootPlan& p) -> size_t& { return p.packages->truncateBy; }},
  };
  for (const auto& [what, cutOf] : files) {
    for (size_t cut = 1; cut <= testkit::WriteCoreToc(*plan.toc).size(); ++cut) {
      DiabloRootPlan damaged = plan;
      cutOf(damaged) = cut;
      const uint32_t result = Load(damaged);
      EXPECT_TRUE(result == 0 || result == kErrorFileNotFound || result == kErrorBadFormat)
          << what << " cut by " << cut;
    }
  }
  const std::vector<uint8_t> root = WriteRoot(plan);
  for (size_t size = 0; size < root.size(); ++size) {
    const uint32_t result = LoadRaw({root.begin(), root.begin() + size});
    EXPECT_TRUE(result == kErrorFileNotFound || result == kErrorBadFormat) << size;
  }
  for (uint32_t count : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x10000000u}) {
    DiabloRootPlan huge = plan;
    huge.directories[0].file.partCount = count;
    EXPECT_EQ(Load(huge), kErrorBadFormat);
    huge = plan;
    for (uint32_t table = 0; table < 70; ++table) huge.toc->counts[table] = count;
    EXPECT_EQ(Load(huge), kErrorBadFormat);
    huge = plan;
    huge.packages->count = count;
    EXPECT_EQ(Load(huge), 0u);
  }
}

}  // namespace
}  // namespace kestrine

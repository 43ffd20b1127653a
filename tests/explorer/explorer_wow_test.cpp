// kestrine-casc on storages with a WoW root, in every layout and block
// version: which blocks each locale reads, the names list files of either
// form give, the generated "FILE%08X.dat" names, and cat by every form of
// name. Every expectation comes from the plan the testkit wrote.
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "kestrine.h"
#include "roots/file_tree.h"
#include "testkit/demo_installation.h"
#include "testkit/index_files.h"
#include "testkit/installation.h"
#include "testkit/wow_root.h"
#include "tests/explorer/explorer_fixture.h"

namespace kestrine::test {
namespace {

using testkit::StoredFile;
using testkit::WowLayout;
using testkit::WowRootBlock;
using testkit::WowRootFile;

constexpr uint32_t kEnUS = 0x2;
constexpr uint32_t kFrFR = 0x10;
constexpr uint32_t kDeDE = 0x20;
constexpr uint32_t kEnGB = 0x200;
constexpr uint32_t kPtBR = 0x4000;
constexpr uint32_t kPtPT = 0x10000;
constexpr uint32_t kNeverRead = 0x80;
constexpr uint32_t kNeverReadEither = 0x100;
constexpr uint32_t kSecondPass = 0x80000000;
constexpr uint32_t kNoNameHashes = 0x10000000;

std::string Backslashed(std::string name) {
  for (char& c : name) c = c == '/' ? '\\' : c;
  return name;
}

std::string CatError(const std::string& name, uint32_t error) {
  return "kestrine-casc: cannot read " + name + ", error " + std::to_string(error) + "\n";
}

struct RootShape {
  const char* what;
  WowLayout layout;
  uint32_t version;
  std::optional<uint32_t> headerSize = {};  // the blocks behind a padded header
};

void PrintTo(const RootShape& shape, std::ostream* out) {
  *out << shape.what;
}

// File id -> index of the stored file that id opens.
using IdFiles = std::map<uint32_t, size_t>;

// What a --locale value makes the root read. Under enGB the enUS blocks
// follow the enGB ones, under ptPT the ptBR ones; the first block to enter
// an id keeps it, and the second-pass block comes after both readings of the
// first pass. The name hash is another matter: every block read that gives
// an id a name hash gives it to the node, so the last one stays.
struct LocaleCase {
  std::vector<std::string> options;  // the --locale values that mean it
  IdFiles ids;
  IdFiles hashFrom = {};  // id -> the stored file whose name hash the node has
};

const std::vector<LocaleCase>& LocaleCases() {
  static const std::vector<LocaleCase> cases = {
      // "0x0" leaves the locale to the build file's tags, enUS.
      {{"enUS", "0x2", "", "0x0"},
       {{0, 5}, {10, 0}, {11, 1}, {12, 2}, {90, 16}, {91, 17}, {0x1234, 6}}},
      {{"enGB", "0x200", "engb"},
       {{0, 5}, {10, 0}, {11, 3}, {12, 2}, {20, 4}, {80, 15}, {90, 16}, {91, 17}, {0x1234, 6}},
       {{11, 1}, {12, 14}}},
      {{"0x210"}, {{0, 5}, {11, 3}, {12, 14}, {20, 4}, {60, 12}, {80, 15}, {0x1234, 6}}},
      {{"ptPT"}, {{0, 5}, {12, 14}, {40, 7}, {41, 9}, {42, 10}, {80, 15}, {0x1234, 6}}},
      {{"ptBR"}, {{0, 5}, {40, 7}, {41, 8}, {0x1234, 6}}},
      {{"deDE"}, {{0, 5}, {50, 11}, {0x1234, 6}}},
  };
  return cases;
}

// A list file of names, matched by their hashes.
const std::vector<std::string> kNameList = {
    "World/Maps/Azeroth.wdt",    "sound/MUSIC/theme.mp3", "Interface/Icons/Axe.blp",
    "Interface/Icons/Crown.blp", "Textures/Sky.blp",      "DBFilesClient/Map.db2",
    "Cinematics/Intro.avi",      "Not/In/The/Root.txt",
};

// A list file of "id;name" lines: a name that is not the one hashed for its
// id names nothing.
const std::vector<std::pair<uint32_t, std::string>> kIdList = {
    {10, "World/Maps/Azeroth.wdt"},   {11, "Sound/Music/Wrong.mp3"},
    {12, "Interface/Icons/Axe.blp"},  {42, "Sound/Voice/Tchau.ogg"},
    {90, "Textures/Sky.blp"},         {91, "Textures/Clouds.blp"},
    {0x1234, "DBFilesClient/Id.db2"}, {999, "Not/In/The/Root.txt"},
};

enum class ListKind { kNone, kNames, kIds };

class ExplorerWowTest : public ExplorerTest, public ::testing::WithParamInterface<RootShape> {
 protected:
  void SetUp() override {
    for (uint32_t i = 0; i < 19; ++i) {
      files_.push_back(
          testkit::EncodeDemoContent(testkit::DataLikeBytes(300 + 97 * i, 40 + i), false, 40 + i));
      testkit::StoreListedFile(layout_, files_.back());
    }
    plan_ = testkit::WowPlan(GetParam().layout, GetParam().version);
    plan_.headerSize = GetParam().headerSize;
    plan_.blocks = {
        Block(kEnUS, 0,
              {File(10, 0, "World/Maps/Azeroth.wdt"), File(11, 1, "Sound/Music/Theme_US.mp3"),
               File(12, 2, "Interface/Icons/Axe.blp", false),
               testkit::WowFile(13, testkit::MakeKey(999), "Not/Stored.bin")}),
        Block(kEnGB, 0,
              {File(11, 3, "Sound/Music/Theme.mp3"), File(20, 4, "Interface/Icons/Crown.blp")}),
        Block(0, 0x8, {File(0, 5, "DBFilesClient/Map.db2"), File(0x1234, 6)}),
        Block(kPtBR, 0, {File(40, 7, "Sound/Voice/Ola.ogg"), File(41, 8, "Sound/Voice/Adeus.ogg")}),
        Block(kPtPT, 0, {File(41, 9, "Sound/Voice/Adeus.ogg"), File(42, 10)}),
        Block(kDeDE, 0, {File(50, 11, "Sound/Voice/Hallo.ogg")}),
        Block(kFrFR, 0, {File(60, 12, "Sound/Voice/Bonjour.ogg")}),
        Block(kEnUS | kEnGB, kNeverRead, {File(70, 13, "Never.bin")}),
        Block(kEnGB, kNeverReadEither | kSecondPass, {File(71, 18, "Never/Either.bin")}),
        Block(kEnGB | kPtPT, kSecondPass,
              {File(12, 14, "Interface/Icons/Axe.blp"), File(80, 15, "Cinematics/Intro.avi")}),
        Block(kEnUS, kNoNameHashes, {File(90, 16, "Textures/Sky.blp"), File(91, 17)}),
    };
    layout_.rootFile = testkit::WriteWowRoot(plan_);
    installation_ = testkit::WriteInstallation(Path("game"), layout_);
    storage_ = installation_.root.string();
    testkit::WriteTextFile(Path("names.txt"), testkit::NameListFile(kNameList, "\r\n"));
    testkit::WriteTextFile(Path("ids.csv"), testkit::IdListFile(kIdList));
  }

  WowRootFile File(uint32_t id, size_t file, std::string name = "", bool hashed = true) const {
    return testkit::WowFile(id, files_[file].ckey, std::move(name), hashed);
  }
  static WowRootBlock Block(uint32_t locale, uint32_t content, std::vector<WowRootFile> files) {
    return testkit::WowBlock(locale, content, std::move(files));
  }

  bool OldEntryLayout() const { return GetParam().layout == WowLayout::kHeaderless; }

  // The name hash the node of `id` has under `locale`; 0 for none.
  uint64_t HashOf(const LocaleCase& locale, uint32_t id) const {
    const auto from = locale.hashFrom.find(id);
    return HashCarried(from != locale.hashFrom.end() ? from->second : locale.ids.at(id));
  }
  // The name hash the root carries for the stored file `file`; 0 for none.
  uint64_t HashCarried(size_t file) const {
    for (const WowRootBlock& block : plan_.blocks) {
      for (const WowRootFile& entry : block.files) {
        if (entry.ckey != files_[file].ckey) continue;
        const bool hashesLeftOut = !OldEntryLayout() && (block.contentFlags & kNoNameHashes);
        return hashesLeftOut ? 0 : entry.NameHashWritten();
      }
    }
    return 0;
  }

  // The names a list file gives the root's files: the old entry layout takes
  // names by hash only, the new one "id;name" lines only.
  std::map<uint32_t, std::string> NamesGiven(const LocaleCase& locale, ListKind list) const {
    std::map<uint32_t, std::string> names;
    if (list == ListKind::kNames && OldEntryLayout()) {
      for (const auto& [id, file] : locale.ids) {
        for (const std::string& name : kNameList) {
          if (HashOf(locale, id) != 0 && NameHash(name) == HashOf(locale, id)) names[id] = name;
        }
      }
    }
    if (list == ListKind::kIds && !OldEntryLayout()) {
      for (const auto& [id, name] : kIdList) {
        if (!locale.ids.contains(id)) continue;
        const uint64_t hash = HashOf(locale, id);
        if (hash == 0 || hash == NameHash(name)) names[id] = name;
      }
    }
    return names;
  }

  uint64_t SizeOf(size_t file) const { return files_[file].content.size(); }

  // Root files by id, then the manifests, named behind the highest id with
  // one id skipped before each, then the stored files the root left out.
  std::vector<Listed> ExpectedList(const LocaleCase& locale, ListKind list) const {
    const IdFiles& ids = locale.ids;
    const std::map<uint32_t, std::string> names = NamesGiven(locale, list);
    std::vector<Listed> lines;
    std::vector<bool> used(files_.size());
    for (const auto& [id, file] : ids) {
      const auto name = names.find(id);
      if (name != names.end()) {
        lines.push_back({Backslashed(name->second), SizeOf(file), kNameFull, id});
      } else {
        lines.push_back({FileIdName(id), SizeOf(file), kNameFileId, id});
      }
      used[file] = true;
    }
    const uint32_t limit = ids.rbegin()->first + 1;
    lines.push_back({"ENCODING", installation_.encodingFile->content.size(), kNameFull, limit + 1});
    lines.push_back({"ROOT", installation_.rootFile->content.size(), kNameFull, limit + 3});
    for (size_t file = 0; file < files_.size(); ++file) {
      if (!used[file]) lines.push_back({KeyName(files_[file].ckey), SizeOf(file), kNameCKey});
    }
    return lines;
  }

  ExplorerRun List(const std::string& locale, ListKind list, const std::string& mask = "*") {
    std::vector<std::string> args = {"list", storage_, mask};
    if (!locale.empty()) args.insert(args.end(), {"--locale", locale});
    if (list == ListKind::kNames) args.insert(args.end(), {"--list-file", Path("names.txt")});
    if (list == ListKind::kIds) args.insert(args.end(), {"--list-file", Path("ids.csv")});
    return Run(args);
  }

  testkit::InstallationPlan layout_;
  std::vector<StoredFile> files_;
  testkit::WowRootPlan plan_;
  testkit::Installation installation_;
  std::string storage_;
};

TEST_P(ExplorerWowTest, ListUnderEveryLocaleWithAndWithoutListFiles) {
  for (const LocaleCase& locale : LocaleCases()) {
    for (ListKind list : {ListKind::kNone, ListKind::kNames, ListKind::kIds}) {
      const std::string expected = ListText(ExpectedList(locale, list));
      for (const std::string& option : locale.options) {
        SCOPED_TRACE("--locale " + option + ", list file " + std::to_string(int(list)));
        const ExplorerRun run = List(option, list);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, expected);
      }
    }
  }
}

// Masks match the names a list file gave; a file without one matches by
// its empty path, never by the name generated for it.
TEST_P(ExplorerWowTest, MasksSeeOnlyTheNamesListFilesGave) {
  const ListKind list = OldEntryLayout() ? ListKind::kNames : ListKind::kIds;
  const LocaleCase& enGB = LocaleCases()[1];
  const std::vector<Listed> all = ExpectedList(enGB, list);
  auto linesNamed = [&](const std::vector<std::string>& names) {
    std::vector<Listed> lines;
    for (const Listed& line : all) {
      for (const std::string& name : names) {
        if (line.name == Backslashed(name)) lines.push_back(line);
      }
    }
    EXPECT_FALSE(lines.empty());
    return lines;
  };
  // Either form of list file names the id 12 and the world map.
  EXPECT_EQ(List("enGB", list, "interface\\ICONS\\*").out,
            ListText(linesNamed({"Interface/Icons/Axe.blp", "Interface/Icons/Crown.blp"})));
  EXPECT_EQ(List("enGB", list, "textures/*.blp").out,
            ListText(linesNamed({"Textures/Sky.blp", "Textures/Clouds.blp"})));
  EXPECT_EQ(List("enGB", list, "World\\*\\?zeroth.wdt").out,
            ListText(linesNamed({"World/Maps/Azeroth.wdt"})));
  for (const char* mask : {"FILE*", "FILE0000000B.dat", "*.dat", "World"}) {
    const ExplorerRun run = List("enGB", list, mask);
    EXPECT_EQ(run.exitCode, 0) << mask;
    EXPECT_EQ(run.out, "") << mask;
    EXPECT_EQ(run.err, "") << mask;
  }
  // The empty mask matches every file of the root, but no unnamed content.
  std::vector<Listed> rooted = all;
  rooted.resize(enGB.ids.size() + 2);
  EXPECT_EQ(List("enGB", list, "").out, ListText(rooted));
}

// Lines of ids name files only when the text begins with one; an empty
// list file or none at all leaves every file to its id.
TEST_P(ExplorerWowTest, ListFilesThatNameNothing) {
  const std::string idLines = testkit::IdListFile(kIdList);
  const std::vector<std::pair<std::string, std::string>> listFiles = {
      {"header.csv", "id;name\n" + idLines},
      {"long-id.csv", "12345678901;Too/Long.txt\n" + idLines},
      {"empty.txt", ""},
  };
  const std::string expected = ListText(ExpectedList(LocaleCases()[0], ListKind::kNone));
  for (const auto& [name, text] : listFiles) {
    SCOPED_TRACE(name);
    testkit::WriteTextFile(Path(name), text);
    const ExplorerRun run = Run({"list", storage_, "--list-file", Path(name)});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expected);
  }
  EXPECT_EQ(Run({"list", storage_, "--list-file", Path("missing.txt")}).out, expected);
}

TEST_P(ExplorerWowTest, CatByIdNameHashAndKey) {
  struct Case {
    std::string name;
    size_t file;
    std::string locale = "enUS";
  };
  std::vector<Case> cases = {
      {"File10.dat", 0},
      {"File10", 0},
      {"FILE0000000A.dat", 0},
      {"FILE0000000a", 0},
      {"File11.dat", 1},
      {"File11.dat", 3, "enGB"},
      {"File.dat", 5},  // no digits: the id 0
      {"FILE00001234.dat", 6},
      {"File4660.dat", 6},
      {"File12.dat", 2, "0x200"},
      {"File12.dat", 14, "0x210"},
      {"File41.dat", 9, "ptPT"},
      {"File41.dat", 8, "ptBR"},
      {"world/maps/AZEROTH.WDT", 0},
      {"Sound\\Music\\Theme_US.mp3", 1},
      {"Sound\\Music\\Theme.mp3", 3, "0x210"},
      {"Sound\\Music\\Theme_US.mp3", 3, "enGB"},  // the hash of a block that lost the id
      {"Interface/Icons/Axe.blp", 14, "ptPT"},
      {"Interface/Icons/Axe.blp", 2, "enGB"},
      {KeyName(files_[0].ckey), 0},
      {testkit::KeyText(files_[0].ekey), 0},
      {KeyName(files_[13].ckey), 13},  // in no block that is read
      {KeyName(files_[4].ekey), 4},    // in a block of another locale
  };
  // Only the old entry layout carries hashes in a block flagged as without.
  if (OldEntryLayout()) cases.push_back({"Textures/Sky.blp", 16});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " under " + c.locale);
    const ExplorerRun run = Run({"cat", storage_, c.name, "--locale", c.locale});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, Text(files_[c.file].content));
  }
}

// cat opens names through the root alone: a name that only a list file
// gives is not found, whether or not the list file is on the command line.
TEST_P(ExplorerWowTest, CatFailuresPrintOneLine) {
  std::vector<std::pair<std::string, std::string>> failures = {
      {"File13.dat", "enUS"},        // its CKey is stored nowhere
      {"File99.dat", "enUS"},        // no such id
      {"FILE00000063.dat", "enUS"},  // the same, in hex
      {"FILEFFFFFFFF.dat", "enUS"},  // the id that means none
      {"File70.dat", "enGB"},        // blocks that are never read
      {"File71.dat", "enGB"},
      {"File20.dat", "enUS"},  // a block of another locale
      {"File80.dat", "enUS"},
      {"Interface/Icons/Crown.blp", "enUS"},
      {"Interface/Icons/Axe.blp", "enUS"},  // not hashed in the enUS block
      {"Sound/Music/Wrong.mp3", "enUS"},
      {"Sound/Music/Theme.mp3", "enGB"},  // replaced by the enUS block's hash
      {"Textures/Clouds.blp", "enUS"},
      {"file10.dat", "enUS"},       // "File" as written
      {"FILE000000A.dat", "enUS"},  // seven hex digits
      {std::string(32, 'e'), "enUS"},
  };
  if (!OldEntryLayout()) failures.push_back({"Textures/Sky.blp", "enUS"});
  for (const auto& [name, locale] : failures) {
    for (const std::string& listFile : {std::string(), Path("ids.csv"), Path("names.txt")}) {
      SCOPED_TRACE(name + " under " + locale + " with list file " + listFile);
      std::vector<std::string> args = {"cat", storage_, name, "--locale", locale};
      if (!listFile.empty()) args.insert(args.end(), {"--list-file", listFile});
      const ExplorerRun run = Run(args);
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, CatError(name, kErrorFileNotFound));
    }
  }
}

// The files the root names count those it lists by id alone.
TEST_P(ExplorerWowTest, InfoCountsTheFilesOfTheLocale) {
  const LocaleCase& ptPT = LocaleCases()[3];
  const ExplorerRun run = Run({"info", storage_, "--locale", ptPT.options[0]});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const size_t entries = files_.size() + 2;  // and the root and the ENCODING manifest
  uint64_t total =
      installation_.rootFile->content.size() + installation_.encodingFile->content.size();
  for (size_t file = 0; file < files_.size(); ++file) total += SizeOf(file);
  EXPECT_EQ(run.out,
            "build file kind: .build.info\n"
            "product: test\n"
            "build number: 45678\n"
            "region: -\n"
            "locale mask: 0x10000\n"
            "root format: WoW\n"
            "content entries: " +
                std::to_string(entries) + "\nnamed files: " + std::to_string(ptPT.ids.size() + 2) +
                "\nlocal encoded files: " + std::to_string(entries) +
                "\ntotal content size: " + std::to_string(total) + "\nonline: no\n");
}

INSTANTIATE_TEST_SUITE_P(WowRoots, ExplorerWowTest,
                         ::testing::Values(RootShape{"HeadedV1", WowLayout::kHeaded, 1},
                                           RootShape{"HeadedV2", WowLayout::kHeaded, 2},
                                           RootShape{"PaddedHeader", WowLayout::kHeaded, 2, 64},
                                           RootShape{"ShortHeader", WowLayout::kShortHeader, 0},
                                           RootShape{"Headerless", WowLayout::kHeaderless, 0}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace kestrine::test

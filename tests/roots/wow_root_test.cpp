// The WoW root loader and its list files over an in-memory storage whose
// content entries have the CKeys MakeKey(1..16). Every expectation comes from
// the plan the root was written from.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "kestrine.h"
#include "roots/load_root.h"
#include "roots/root_loaders.h"
#include "roots/search.h"
#include "roots/wow_root.h"
#include "testkit/build_files.h"
#include "testkit/index_files.h"
#include "testkit/roots.h"
#include "testkit/wow_root.h"

namespace kestrine {
namespace {

using testkit::MakeKey;
using testkit::WowLayout;
using testkit::WowRootBlock;
using testkit::WowRootFile;
using testkit::WowRootPlan;

constexpr uint32_t kEnUS = 0x2;
constexpr uint32_t kDeDE = 0x20;
constexpr uint32_t kEnGB = 0x200;
constexpr uint32_t kPtBR = 0x4000;
constexpr uint32_t kPtPT = 0x10000;
constexpr uint32_t kSecondPass = 0x80000000;
constexpr uint32_t kNoHashes = 0x10000000;

WowRootBlock Block(uint32_t locale, uint32_t content, std::vector<WowRootFile> files) {
  return testkit::WowBlock(locale, content, std::move(files));
}

WowRootFile File(uint32_t id, uint32_t seed, std::string name = "", bool hashed = true) {
  return testkit::WowFile(id, MakeKey(seed), std::move(name), hashed);
}

// What a search reports of one file.
struct Found {
  std::string name;
  uint32_t nameType = 0;
  uint32_t fileId = 0;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& found) {
  return out << found.name << "/" << found.nameType << "/" << found.fileId;
}

std::string FileIdName(uint32_t id) {
  char name[32];
  std::snprintf(name, sizeof name, "FILE%08X.dat", id);
  return name;
}

class WowRootTest : public ::testing::Test {
 protected:
  WowRootTest() : storage_(testkit::MakeMemoryStorage()) {
    for (uint32_t seed = 1; seed <= 16; ++seed) testkit::AddContentEntry(*storage_, seed);
  }

  uint32_t Load(const WowRootPlan& plan, uint32_t localeMask = kEnUS) {
    return LoadBytes(testkit::WriteWowRoot(plan), localeMask);
  }
  uint32_t LoadBytes(const std::vector<uint8_t>& data, uint32_t localeMask = kEnUS) {
    storage_->root.reset();
    for (ContentEntry& entry : storage_->contents.entries()) entry.refCount = 0;
    return LoadWowRoot(*storage_, data, localeMask);
  }
  TRootHandler_WoW& Root() { return static_cast<TRootHandler_WoW&>(*storage_->root); }
  const ContentEntry* Entry(uint32_t seed) {
    return storage_->contents.FindByCKey(MakeKey(seed).data());
  }
  const ContentEntry* ById(uint32_t id) { return storage_->root->LookupFileId(nullptr, id); }
  const ContentEntry* ByName(const std::string& name) {
    return storage_->root->LookupName(nullptr, name.c_str());
  }
  FileDescription Describe(uint32_t seed) {
    FileDescription description;
    EXPECT_TRUE(storage_->root->DescribeEntry(Entry(seed), description));
    return description;
  }

  // Every root file a search with `mask` reports (unnamed entries left out),
  // with the list file `listFile` when it is not empty.
  std::vector<Found> Search(const std::string& listFile = "", const char* mask = "*") {
    std::string path;
    if (!listFile.empty()) {
      path = temp_ / "listfile.txt";
      testkit::WriteTextFile(path, listFile);
    }
    std::vector<Found> found;
    SearchResult result;
    SearchHandle search =
        SearchFirst(HandleOf(storage_.get()), mask, &result, path.empty() ? nullptr : path.c_str());
    for (bool more = search != nullptr; more; more = SearchNext(search, &result)) {
      if (result.fileDataId != 0xFFFFFFFF) {
        found.push_back({result.fileName, result.nameType, result.fileDataId});
      }
    }
    if (search != nullptr) SearchClose(search);
    return found;
  }

  testkit::TempFolder temp_;
  testkit::StorageRef storage_;
};

// Two blocks in each layout: ids, CKeys, name hashes and the block flags
// come back as written.
TEST_F(WowRootTest, EveryLayoutAndBlockVersionEntersItsFiles) {
  struct Case {
    const char* what;
    WowLayout layout;
    uint32_t version;
    WowEntryLayout entries;
    uint32_t features;
  };
  const Case cases[] = {
      {"headed v1", WowLayout::kHeaded, 1, WowEntryLayout::kNew, kWowFeaturesHeaded},
      {"headed v2", WowLayout::kHeaded, 2, WowEntryLayout::kNew, kWowFeaturesHeaded},
      {"short header", WowLayout::kShortHeader, 0, WowEntryLayout::kNew, kWowFeaturesHeaded},
      {"headerless", WowLayout::kHeaderless, 0, WowEntryLayout::kOld, kWowFeaturesHeaderless},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WowRootPlan plan = testkit::WowPlan(c.layout, c.version);
    plan.blocks.push_back(
        Block(kEnUS, 0x8, {File(3, 1, "a/one.txt"), File(4, 2), File(10, 3, "b/3")}));
    plan.blocks.push_back(Block(0, 0x20000 | 0x4, {File(0x9FFFFF, 4, "Last.dat")}));
    ASSERT_EQ(Load(plan), kErrorSuccess);
    for (const WowRootBlock& block : plan.blocks) {
      for (const WowRootFile& file : block.files) {
        SCOPED_TRACE(file.fileId);
        const ContentEntry* entry = storage_->contents.FindByCKey(file.ckey.data());
        EXPECT_EQ(ById(file.fileId), entry);
        if (!file.name.empty()) {
          EXPECT_EQ(ByName(file.name), entry);
        }
        FileDescription description;
        ASSERT_TRUE(storage_->root->DescribeEntry(entry, description));
        EXPECT_EQ(description.fileDataId, file.fileId);
        EXPECT_EQ(description.localeFlags, block.localeFlags);
        EXPECT_EQ(description.contentFlags, block.contentFlags);
        EXPECT_EQ(description.nameHash, file.NameHashWritten());
        EXPECT_EQ(entry->refCount, 1u);
      }
    }
    EXPECT_EQ(ById(5), nullptr);
    EXPECT_EQ(Root().entryLayout(), c.entries);
    EXPECT_EQ(Root().features(), c.features);
    EXPECT_EQ(Root().unnamedFileCount(),
              c.layout == WowLayout::kHeaderless ? 0 : testkit::UnnamedFilesOf(plan));
    EXPECT_EQ(Root().filesSeen(), 4u);
    EXPECT_EQ(Root().FileCount(), 4u);  // entered by id, not by name
    EXPECT_EQ(Root().IndexLimit(), 0xA00000u);
  }
}

// Version 2 ORs the content flags from two words and a byte shifted by 17;
// a new-layout block flagged 0x10000000 carries no name hashes.
TEST_F(WowRootTest, VersionTwoContentFlagsAndBlocksWithoutNameHashes) {
  const uint32_t flags = kNoHashes | 0x8 | (0xA5u << 17);
  WowRootPlan plan = testkit::WowPlan(WowLayout::kHeaded, 2);
  plan.blocks.push_back(Block(kEnUS, flags, {File(7, 1, "x/named.txt"), File(8, 2, "y")}));
  plan.blocks.push_back(Block(kEnUS, 0, {File(9, 3, "z/hashed.txt")}));
  ASSERT_EQ(Load(plan), kErrorSuccess);
  EXPECT_EQ(Describe(1).contentFlags, flags);
  EXPECT_EQ(Describe(1).nameHash, 0u);
  EXPECT_EQ(ById(8), Entry(2));
  EXPECT_EQ(ByName("x/named.txt"), nullptr);
  EXPECT_EQ(ByName("z/hashed.txt"), Entry(3));
}

TEST_F(WowRootTest, FileIdsRestartInEveryBlockAndWrapLikeTheDeltas) {
  WowRootPlan plan;
  plan.blocks.push_back(
      Block(kEnUS, 0, {File(100, 1), File(101, 2), File(0xFFFFFFFE, 3), File(5, 4)}));
  plan.blocks.push_back(Block(kEnUS, 0, {File(2, 5)}));
  ASSERT_EQ(Load(plan), kErrorSuccess);
  for (auto [id, seed] :
       std::map<uint32_t, uint32_t>{{100, 1}, {101, 2}, {0xFFFFFFFE, 3}, {5, 4}, {2, 5}}) {
    EXPECT_EQ(ById(id), Entry(seed)) << id;
  }
}

// The id 0xFFFFFFFF and files of unknown CKeys are passed over; the ids
// behind them still count from theirs.
TEST_F(WowRootTest, UnknownKeysAndTheNoIdAreSkipped) {
  WowRootPlan plan;
  plan.blocks.push_back(Block(kEnUS, 0, {File(0xFFFFFFFF, 1), File(3, 99, "unknown"), File(4, 2)}));
  ASSERT_EQ(Load(plan), kErrorSuccess);
  EXPECT_EQ(ById(3), nullptr);
  EXPECT_EQ(ById(4), Entry(2));
  EXPECT_EQ(ByName("unknown"), nullptr);
  EXPECT_EQ(Entry(1)->refCount, 0u);
  EXPECT_EQ(Root().filesSeen(), 3u);
}

// The first block to enter an id keeps it, and only its entry is counted;
// the name hash of a later block replaces the node's own.
TEST_F(WowRootTest, FirstBlockWinsTheIdAndTheLastItsNameHash) {
  WowRootPlan plan;
  plan.blocks.push_back(Block(kEnUS, 0, {File(6, 1, "first"), File(7, 3, "seventh")}));
  plan.blocks.push_back(Block(kEnUS, 0x4, {File(6, 2, "second"), File(7, 4)}));
  ASSERT_EQ(Load(plan), kErrorSuccess);
  EXPECT_EQ(ById(6), Entry(1));
  EXPECT_EQ(Entry(2)->refCount, 0u);
  EXPECT_EQ(Describe(1).contentFlags, 0u);
  EXPECT_EQ(Describe(1).nameHash, NameHash("second"));
  EXPECT_EQ(ByName("second"), Entry(1));
  EXPECT_EQ(ByName("first"), nullptr);
  // A block without a hash for the id leaves the node's.
  EXPECT_EQ(ByName("seventh"), Entry(3));
}

// Blocks flagged 0x80 or 0x100 are never used; blocks with bit 31 only in
// the second pass, so an earlier-listed second-pass block loses its id.
TEST_F(WowRootTest, ContentFlagsFilterBlocksAndOrderThePasses) {
  WowRootPlan plan = testkit::WowPlan(WowLayout::kHeaded, 2);
  plan.blocks.push_back(Block(kEnUS, kSecondPass, {File(1, 1), File(2, 2)}));
  plan.blocks.push_back(Block(kEnUS, 0, {File(2, 3)}));
  plan.blocks.push_back(Block(kEnUS, 0x80, {File(3, 4)}));
  plan.blocks.push_back(Block(kEnUS, 0x100 | kSecondPass, {File(4, 5)}));
  ASSERT_EQ(Load(plan), kErrorSuccess);
  EXPECT_EQ(ById(1), Entry(1));
  EXPECT_EQ(ById(2), Entry(3));
  EXPECT_EQ(ById(3), nullptr);
  EXPECT_EQ(ById(4), nullptr);
  EXPECT_EQ(Describe(1).contentFlags, kSecondPass);
}

// Under enGB the enUS blocks are read after the enGB ones, and under ptPT
// the ptBR ones; each pass reads the fallback before the next pass starts.
// Any other mask reads only the blocks sharing a bit with it or with none.
TEST_F(WowRootTest, LocaleMaskChoosesBlocksAndFallbacks) {
  WowRootPlan plan;
  plan.blocks.push_back(Block(kEnUS, 0, {File(1, 1), File(2, 2)}));
  plan.blocks.push_back(Block(kEnGB, 0, {File(2, 3), File(3, 4)}));
  plan.blocks.push_back(Block(kPtBR, 0, {File(4, 5), File(5, 6)}));
  plan.blocks.push_back(Block(kPtPT, 0, {File(5, 7)}));
  plan.blocks.push_back(Block(kDeDE, 0, {File(6, 8)}));
  plan.blocks.push_back(Block(0, 0, {File(7, 9)}));
  plan.blocks.push_back(Block(kEnGB | kPtPT, kSecondPass, {File(8, 10)}));
  plan.blocks.push_back(Block(kEnUS | kPtBR, 0, {File(8, 11)}));
  const std::map<uint32_t, std::map<uint32_t, uint32_t>> expected = {
      {kEnUS, {{1, 1}, {2, 2}, {7, 9}, {8, 11}}},
      {kEnGB, {{1, 1}, {2, 3}, {3, 4}, {7, 9}, {8, 11}}},
      {kPtPT, {{4, 5}, {5, 7}, {7, 9}, {8, 11}}},
      {kPtBR, {{4, 5}, {5, 6}, {7, 9}, {8, 11}}},
      {kDeDE, {{6, 8}, {7, 9}}},
      {kEnGB | 0x10, {{2, 3}, {3, 4}, {7, 9}, {8, 10}}},
  };
  for (const auto& [mask, files] : expected) {
    SCOPED_TRACE(mask);
    ASSERT_EQ(Load(plan, mask), kErrorSuccess);
    for (uint32_t id = 1; id <= 8; ++id) {
      const auto it = files.find(id);
      EXPECT_EQ(ById(id), it == files.end() ? nullptr : Entry(it->second)) << id;
    }
  }
}

TEST_F(WowRootTest, LayoutRecognition) {
  WowRootPlan twoBlocks = testkit::WowPlan(WowLayout::kHeaderless);
  twoBlocks.blocks = {Block(kEnUS, 0, {File(1, 1)}), Block(kEnUS, 0, {File(2, 2)})};
  WowRootPlan oneBlock = twoBlocks;
  oneBlock.blocks.pop_back();  // exactly 12 + 28 bytes: not longer than that
  WowRootPlan wrapping = twoBlocks;
  wrapping.blocks[0].fileCount = 0x9249249;  // 12 + 28 * count is 8 in 32 bits
  WowRootPlan moreNamedThanAll = testkit::WowPlan(WowLayout::kShortHeader);
  moreNamedThanAll.namedCount = 2;
  moreNamedThanAll.blocks = twoBlocks.blocks;
  moreNamedThanAll.totalCount = 1;
  WowRootPlan headerOnly = testkit::WowPlan(WowLayout::kShortHeader);
  WowRootPlan pastTheData = testkit::WowPlan(WowLayout::kHeaded);
  pastTheData.headerSize = 1000;
  pastTheData.padHeader = false;
  pastTheData.blocks = twoBlocks.blocks;
  WowRootPlan paddedHeader = testkit::WowPlan(WowLayout::kHeaded, 2);
  paddedHeader.headerSize = 40;
  paddedHeader.blocks = twoBlocks.blocks;
  const std::vector<std::pair<const char*, std::pair<WowRootPlan, uint32_t>>> cases = {
      {"headerless, two blocks", {twoBlocks, kErrorSuccess}},
      {"headerless, one block", {oneBlock, kErrorBadFormat}},
      {"headerless, wrapping size test", {wrapping, kErrorBadFormat}},
      {"more named files than files", {moreNamedThanAll, kErrorBadFormat}},
      {"12 bytes", {headerOnly, kErrorBadFormat}},
      {"header size past the data", {pastTheData, kErrorBadFormat}},
      {"padded header", {paddedHeader, kErrorSuccess}},
  };
  for (const auto& [what, c] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(Load(c.first), c.second);
    EXPECT_EQ(storage_->root != nullptr, c.second == kErrorSuccess);
    if (c.second == kErrorSuccess) {
      EXPECT_EQ(ById(2), Entry(2));
    }
  }
}

// A header size below 5 puts the blocks at 4, inside the header: behind an
// empty header (total and named 0) 20 zero bytes read as three empty blocks
// from there, but not from 20 or 5.
TEST_F(WowRootTest, HeaderSizeBelowFiveMeansFour) {
  for (auto [headerSize, result] :
       std::map<uint32_t, uint32_t>{{0, 0}, {5, kErrorBadFormat}, {20, kErrorBadFormat}}) {
    SCOPED_TRACE(headerSize);
    WowRootPlan plan = testkit::WowPlan(WowLayout::kHeaded);
    plan.headerSize = headerSize;
    std::vector<uint8_t> data = testkit::WriteWowRoot(plan);
    data.resize(40);
    EXPECT_EQ(LoadBytes(data), result);
  }
}

// Any block cut short, or a count larger than the data, is 11 in every
// layout and block version, whether or not the locale selects the block.
TEST_F(WowRootTest, DamagedBlocksAreBadFormat) {
  for (WowRootPlan plan :
       {testkit::WowPlan(WowLayout::kHeaded, 1), testkit::WowPlan(WowLayout::kHeaded, 2),
        testkit::WowPlan(WowLayout::kShortHeader), testkit::WowPlan(WowLayout::kHeaderless)}) {
    plan.blocks = {Block(kEnUS, 0, {File(1, 1, "a"), File(2, 2, "b")}),
                   Block(kDeDE, 0, {File(3, 3, "c"), File(4, 4, "d")})};
    ASSERT_EQ(Load(plan), kErrorSuccess);
    for (size_t cut : {size_t{1}, size_t{8}, size_t{24}, size_t{80}}) {
      SCOPED_TRACE(cut);
      plan.truncateBy = cut;
      EXPECT_EQ(Load(plan), kErrorBadFormat);
      EXPECT_EQ(storage_->root, nullptr);
    }
    plan.truncateBy = 0;
    for (uint32_t count : {3u, 0x10000000u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(count);
      plan.blocks[1].fileCount = count;
      EXPECT_EQ(Load(plan), kErrorBadFormat);
      plan.blocks[1].fileCount.reset();
      plan.blocks[0].fileCount = count;
      EXPECT_EQ(Load(plan), kErrorBadFormat);
      plan.blocks[0].fileCount.reset();
    }
  }
}

TEST_F(WowRootTest, TheOpenDispatchesSignedAndHeaderlessRoots) {
  WowRootPlan plan = testkit::WowPlan(WowLayout::kHeaded, 2);
  plan.blocks = {Block(kEnUS, 0, {File(1, 1, "a/b.txt")}), Block(kEnUS, 0, {File(2, 2)})};
  for (WowLayout layout : {WowLayout::kHeaded, WowLayout::kHeaderless}) {
    plan.layout = layout;
    storage_->root.reset();
    ASSERT_EQ(DispatchRoot(*storage_, testkit::WriteWowRoot(plan), kEnUS), kErrorSuccess);
    EXPECT_NE(dynamic_cast<TRootHandler_WoW*>(storage_->root.get()), nullptr);
    EXPECT_EQ(ByName("A\\B.TXT"), Entry(1));
  }
}

// Without a list file a search reports every file by its id; a name list
// names the files of the old layout by hash, but none of the new layout.
TEST_F(WowRootTest, NameListFilesNameOnlyTheOldLayout) {
  WowRootPlan plan = testkit::WowPlan(WowLayout::kHeaderless);
  plan.blocks = {
      Block(kEnUS, 0, {File(7, 1, "Interface/Icons/Axe.blp"), File(9, 2, "Sound/a.ogg")}),
      Block(kEnUS, 0, {File(0x20, 3, "not/listed"), File(0x21, 4, "x.txt", false)})};
  ASSERT_EQ(Load(plan), kErrorSuccess);
  const std::string listFile =
      testkit::NameListFile({"interface/icons/axe.blp", "  sound\\A.OGG~P1", "x.txt", "y"}, "\r\n");
  EXPECT_EQ(Search(listFile), (std::vector<Found>{{"interface\\icons\\axe.blp", 0, 7},
                                                  {"sound\\A.OGG", 0, 9},
                                                  {FileIdName(0x20), 1, 0x20},
                                                  {FileIdName(0x21), 1, 0x21}}));
  // The names stay: a later search without the list file sees them.
  EXPECT_EQ(Search("", "sound\\*"), (std::vector<Found>{{"sound\\A.OGG", 0, 9}}));

  plan.layout = WowLayout::kHeaded;
  ASSERT_EQ(Load(plan), kErrorSuccess);
  EXPECT_EQ(Search(listFile, "*").front(), (Found{FileIdName(7), 1, 7}));
  EXPECT_EQ(ByName("interface/icons/axe.blp"), Entry(1));
}

// "id;name" lines name nodes without a hash, or with the name's hash; ids
// over 0x9FFFFF, lines without ";" and lines of 260 bytes or more are passed
// over; a line of 20 digits ends the list.
TEST_F(WowRootTest, IdListFilesNameNodesByIdWithTheHashCheck) {
  WowRootPlan plan = testkit::WowPlan(WowLayout::kHeaded, 2);
  plan.blocks = {Block(kEnUS, 0, {File(1, 1, "Maps/a.adt"), File(2, 2, "Maps/b.adt")}),
                 Block(kEnUS, kNoHashes, {File(3, 3), File(4, 4), File(5, 5), File(6, 6)}),
                 Block(kEnUS, kNoHashes, {File(0xA00000, 7), File(8, 8), File(9, 9)})};
  ASSERT_EQ(Load(plan), kErrorSuccess);
  const std::string longName = "long/" + std::string(255, 'n');
  std::string listFile = testkit::IdListFile({
      {1, "maps/A.ADT"},       // the hash matches
      {2, "maps/wrong.adt"},   // another name's hash
      {3, "Music/Theme.mp3"},  // no hash: named
      {4, longName},           // 260 bytes or more
      {0xA00000, "too/big"},   // over 0x9FFFFF
      {5,
       "five\x85"
       "6;six"},  // 0x85 ends a line too
  });
  listFile += "8 eight\n99999999999;overflow\n8;Eight~P\n";
  listFile += "12345678901234567890;stop\n9;never\n";
  EXPECT_EQ(Search(listFile), (std::vector<Found>{{"maps\\A.ADT", 0, 1},
                                                  {FileIdName(2), 1, 2},
                                                  {"Music\\Theme.mp3", 0, 3},
                                                  {FileIdName(4), 1, 4},
                                                  {"five", 0, 5},
                                                  {"six", 0, 6},
                                                  {"Eight", 0, 8},
                                                  {FileIdName(9), 1, 9},
                                                  {FileIdName(0xA00000), 1, 0xA00000}}));
  // A name given by id becomes the node's hash: it now opens by name.
  EXPECT_EQ(ByName("music/theme.mp3"), Entry(3));
}

// 259 bytes is the longest line taken; a list ending among its digits ends
// there; a second list file in a later search names what the first did not.
TEST_F(WowRootTest, IdListFileLimitsAndLaterSearches) {
  WowRootPlan plan;
  plan.blocks = {Block(kEnUS, kNoHashes, {File(1, 1), File(2, 2), File(3, 3)})};
  ASSERT_EQ(Load(plan), kErrorSuccess);
  const std::string longest(259 - 2, 'L');
  EXPECT_EQ(Search(testkit::IdListFile({{1, longest}}) + "2"),
            (std::vector<Found>{{longest, 0, 1}, {FileIdName(2), 1, 2}, {FileIdName(3), 1, 3}}));
  EXPECT_EQ(Search(testkit::IdListFile({{1, "other"}, {3, "Third/Folder/FileName.txt"}})),
            (std::vector<Found>{
                {longest, 0, 1}, {FileIdName(2), 1, 2}, {"Third\\Folder\\FileName.txt", 0, 3}}));
}

// A root of a few bytes holding ids 1 and 0xFFFFFFF0 is searched in
// ascending ids at the cost of its id pages, not of the ids between.
TEST_F(WowRootTest, SearchOfSparseIdsSkipsTheEmptyPages) {
  WowRootPlan plan;
  plan.blocks = {Block(kEnUS, kNoHashes, {File(1, 1), File(0xFFFFFFF0, 2)})};
  ASSERT_EQ(Load(plan), kErrorSuccess);
  EXPECT_EQ(
      Search(testkit::IdListFile({{1, "Interface/Low.txt"}, {2, "Interface/Two.txt"}})),
      (std::vector<Found>{{"Interface\\Low.txt", 0, 1}, {FileIdName(0xFFFFFFF0), 1, 0xFFFFFFF0}}));

  TCascSearch search;
  search.mask = "*";
  SearchResult result{};
  std::vector<uint32_t> ids;
  while (Root().SearchNext(search, result) != nullptr) ids.push_back(result.fileDataId);
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 0xFFFFFFF0}));
  EXPECT_LE(search.steps, 256 * Root().tree().idPageCount());
  EXPECT_LT(search.steps, 2048u);
}

// The old layout reads the whole list by hash first, so "id;name" lines
// name nothing there.
TEST_F(WowRootTest, OldLayoutTakesNoIdLines) {
  WowRootPlan plan = testkit::WowPlan(WowLayout::kHeaderless);
  plan.blocks = {Block(kEnUS, 0, {File(1, 1, "Dir/A.txt")}),
                 Block(kEnUS, 0, {File(2, 2, "Dir/B.txt", false)})};
  ASSERT_EQ(Load(plan), kErrorSuccess);
  EXPECT_EQ(Search(testkit::IdListFile({{1, "Dir/A.txt"}, {2, "Dir/B.txt"}, {3, "Padding.txt"}})),
            (std::vector<Found>{{FileIdName(1), 1, 1}, {FileIdName(2), 1, 2}}));
}

}  // namespace
}  // namespace kestrine

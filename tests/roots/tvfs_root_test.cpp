// The TVFS loader over roots the testkit writes, against an in-memory
// storage of a few content entries: the header rules, the path-table walk,
// spans and their entries, and every code the loader returns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "roots/file_tree_root.h"
#include "roots/root_loaders.h"
#include "roots/tvfs_root.h"
#include "storage/span_records.h"
#include "testkit/index_files.h"
#include "testkit/roots.h"
#include "testkit/tvfs.h"

namespace kestrine {
namespace {

using testkit::MakeKey;
using testkit::TvfsFile;
using testkit::TvfsParts;
using testkit::TvfsRoot;

constexpr uint32_t kUnlisted = 500;  // seeds of EKeys the storage does not list

Key16 EKeyOf(uint32_t seed) {
  return MakeKey(seed + 0x10000);
}

TvfsFile File(std::string name, std::vector<uint32_t> seeds, uint32_t spanSize = 10) {
  TvfsFile file{std::move(name), {}};
  for (uint32_t seed : seeds) file.spans.push_back({EKeyOf(seed), spanSize, spanSize + 30});
  return file;
}

class TvfsRootTest : public ::testing::Test {
 protected:
  TvfsRootTest() : storage_(testkit::MakeMemoryStorage()) {
    for (uint32_t seed = 1; seed <= 8; ++seed) testkit::AddContentEntry(*storage_, seed);
  }

  uint32_t Load(const std::vector<uint8_t>& data) {
    storage_->root.reset();
    return LoadTvfsRoot(*storage_, data, 0);
  }
  uint32_t Load(const TvfsRoot& root) { return Load(testkit::WriteTvfs(root)); }
  ContentEntry* Lookup(const std::string& name) {
    return storage_->root->LookupName(storage_.get(), name.c_str());
  }
  ContentEntry* Entry(uint32_t seed) { return storage_->contents.FindByCKey(MakeKey(seed).data()); }
  const FileTree& Tree() { return static_cast<TFileTreeRoot&>(*storage_->root).tree(); }

  testkit::StorageRef storage_;
};

// A root with one file, as parts to break.
TvfsParts OneFile() {
  TvfsRoot root;
  root.files = {File("a.txt", {1})};
  return testkit::LayOutTvfs(root);
}

TEST_F(TvfsRootTest, HeaderRulesRejectWithBadFormat) {
  struct Case {
    const char* what;
    TvfsParts parts;
    uint32_t result;
  };
  std::vector<Case> cases(9, {"", OneFile(), kErrorBadFormat});
  cases[0] = {"valid", OneFile(), 0};
  cases[1].what = "signature";
  cases[1].parts.header.signature = "TVFT";
  cases[2].what = "version 2";
  cases[2].parts.header.version = 2;
  cases[3].what = "EKey size 12";
  cases[3].parts.header.ekeySize = 12;
  cases[4].what = "patch-key size differs";
  cases[4].parts.header.patchKeySize = 16;
  cases[5].what = "header size 7";
  cases[5].parts.header.headerSize = 7;
  cases[6].what = "path table past the data";
  cases[6].parts.header.pathSize = 1000;
  cases[7].what = "CFT past the data";
  cases[7].parts.header.cftOffset = 0xFFFFFFF0;
  cases[8].what = "header size past the data";
  cases[8].parts = {};
  cases[8].parts.header.headerSize = 200;
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> data = testkit::AssembleTvfs(c.parts);
    if (c.parts.header.headerSize == 200) data.resize(100);
    EXPECT_EQ(Load(data), c.result);
    EXPECT_EQ(storage_->root != nullptr, c.result == 0);
  }
  EXPECT_EQ(Load(std::vector<uint8_t>{'T', 'V', 'F', 'S', 1, 8, 9}), kErrorBadFormat);
}

// Only the bytes up to the header size are read: with 8 the tables are all
// empty, with 36 the folder depth is missing and nothing else.
TEST_F(TvfsRootTest, FieldsBeyondTheHeaderSizeCountAsZero) {
  TvfsParts parts = OneFile();
  parts.header.headerSize = 8;
  ASSERT_EQ(Load(testkit::AssembleTvfs(parts)), 0u);
  EXPECT_EQ(Tree().fileCount(), 0u);
  parts.header.headerSize = 36;
  ASSERT_EQ(Load(testkit::AssembleTvfs(parts)), 0u);
  EXPECT_EQ(Lookup("a.txt"), Entry(1));
}

TEST_F(TvfsRootTest, CftOffsetsAreAsWideAsTheCftSizeNeeds) {
  EXPECT_EQ(CftOffsetWidth(0xFF), 1u);
  EXPECT_EQ(CftOffsetWidth(0x100), 2u);
  EXPECT_EQ(CftOffsetWidth(0xFFFF), 2u);
  EXPECT_EQ(CftOffsetWidth(0x10000), 3u);
  EXPECT_EQ(CftOffsetWidth(0xFFFFFF), 3u);
  EXPECT_EQ(CftOffsetWidth(0x1000000), 4u);
  // The entries sit at the end of the padded CFT, so their offsets need
  // the full width.
  for (uint32_t cftSize : {0xFFu, 0x100u, 0xFFFFu, 0x10000u, 0x1000000u}) {
    SCOPED_TRACE(cftSize);
    for (uint8_t ekeySize : {9, 16}) {
      TvfsRoot root;
      root.ekeySize = ekeySize;
      root.cftSize = cftSize;
      root.files = {File("x/one", {1}), File("x/two", {2, 3}), File("three", {4})};
      ASSERT_EQ(Load(root), 0u);
      EXPECT_EQ(Lookup("x/one"), Entry(1));
      ASSERT_NE(Lookup("x\\two"), nullptr);
      EXPECT_EQ(Lookup("x\\two")->ekey, EKeyOf(2));
      EXPECT_EQ(Lookup("THREE"), Entry(4));
    }
  }
}

// Names written as a prefix tree: shared prefixes become folders, a branch
// right before a separator, a name that ends where another goes on, a
// separator before a fragment, and names of more than 200 bytes. However
// separators inside an edge are written, the names come back the same.
TEST_F(TvfsRootTest, PathTableSpellsEveryName) {
  const std::string longName = "long/" + std::string(120, 'n') + "/" + std::string(90, 'm');
  const std::vector<std::string> names = {"unit/terran/marine.grp",
                                          "unit/terran/medic.grp",
                                          "unit/zerg/drone.grp",
                                          "unit/zerg",
                                          "ab/x",
                                          "ab.txt",
                                          "d/x",
                                          "d/y",
                                          longName,
                                          "solo.bin"};
  for (auto inner : {testkit::InnerSeparator::kImplied, testkit::InnerSeparator::kAfter,
                     testkit::InnerSeparator::kInsideFragment}) {
    for (bool rootFolder : {true, false}) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(inner) << " " << rootFolder);
      TvfsRoot root;
      root.innerSeparator = inner;
      root.rootFolder = rootFolder;
      for (uint32_t i = 0; i < names.size(); ++i) root.files.push_back(File(names[i], {1 + i % 8}));
      ASSERT_EQ(Load(root), 0u);
      for (uint32_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(Lookup(names[i]), Entry(1 + i % 8)) << names[i];
      }
      // unit/zerg is a file and a folder at once in the tree's eyes; the
      // tree counts it once.
      EXPECT_EQ(Tree().fileCount(), names.size());
    }
  }
}

// A hand-written table: a fragment without value adds up with the next
// entry's; after an entry with a value the path is cut back to the level's
// start; "/" and "\" inside a fragment are kept as "\".
TEST_F(TvfsRootTest, PathIsCutBackAfterEachValue) {
  TvfsParts parts = OneFile();
  parts.vfsTable.clear();
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    parts.vfsTable.push_back(1);
    for (uint8_t b : std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 10, 0}) parts.vfsTable.push_back(b);
    parts.vfsTable.back() = static_cast<uint8_t>((seed - 1) * 13);
  }
  parts.cft.clear();
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    const Key16 ekey = EKeyOf(seed);
    parts.cft.insert(parts.cft.end(), ekey.begin(), ekey.begin() + 9);
    parts.cft.insert(parts.cft.end(), {0, 0, 0, 40});
  }
  auto entry = testkit::PathEntryBytes;
  std::vector<uint8_t> folder;
  for (auto bytes : {entry(false, "b", false, 20), entry(false, "c", false, 30)}) {
    folder.insert(folder.end(), bytes.begin(), bytes.end());
  }
  std::vector<std::vector<uint8_t>> table = {
      entry(false, "a", false, std::nullopt),
      entry(false, "b", false, 0),
      entry(false, "c", false, 10),
      entry(false, "f", true, testkit::FolderValue(folder.size())),
      folder,
      entry(true, "x/y\\z", false, 40)};
  parts.pathTable.clear();
  for (const auto& bytes : table)
    parts.pathTable.insert(parts.pathTable.end(), bytes.begin(), bytes.end());
  ASSERT_EQ(Load(testkit::AssembleTvfs(parts)), 0u);
  EXPECT_EQ(Lookup("a/b"), Entry(1));
  EXPECT_EQ(Lookup("c"), Entry(2));
  EXPECT_EQ(Lookup("f/b"), Entry(3));
  EXPECT_EQ(Lookup("f/c"), Entry(4));
  EXPECT_EQ(Lookup("/x/y/z"), Entry(5));
  EXPECT_EQ(Tree().fileCount(), 5u);
}

// Every way a table can break, and the code it gives.
TEST_F(TvfsRootTest, DamagedTablesGiveTheirCodes) {
  struct Case {
    const char* what;
    void (*damage)(TvfsParts&);
    uint32_t result;
  };
  const Case cases[] = {
      {"fragment past the table",
       [](TvfsParts& p) {
         p.pathTable.resize(p.pathTable.size() - 7);
         p.pathTable[4] -= 7;
       },
       kErrorBadFormat},
      {"value cut short",
       [](TvfsParts& p) {
         p.pathTable.resize(p.pathTable.size() - 2);
         p.pathTable[4] -= 2;
       },
       kErrorBadFormat},
      {"root value without the top bit", [](TvfsParts& p) { p.pathTable[1] = 0; }, kErrorBadFormat},
      {"root folder past the table", [](TvfsParts& p) { p.pathTable[4] += 1; }, kErrorBadFormat},
      {"root folder of length 3", [](TvfsParts& p) { p.pathTable[4] = 3; }, kErrorBadFormat},
      {"VFS offset at the table's end",
       [](TvfsParts& p) { p.pathTable.back() = static_cast<uint8_t>(p.vfsTable.size()); },
       kErrorBadFormat},
      {"span count 0xE1", [](TvfsParts& p) { p.vfsTable[0] = 0xE1; }, kErrorBadFormat},
      {"spans past the VFS table", [](TvfsParts& p) { p.vfsTable[0] = 2; }, kErrorFileCorrupt},
      {"CFT entry past the CFT", [](TvfsParts& p) { p.vfsTable.back() = 1; }, kErrorFileCorrupt},
      {"span count 0 passes the file over", [](TvfsParts& p) { p.vfsTable[0] = 0; }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TvfsParts parts = OneFile();
    c.damage(parts);
    EXPECT_EQ(Load(testkit::AssembleTvfs(parts)), c.result);
    EXPECT_EQ(storage_->root != nullptr, c.result == 0);
    if (c.result == 0) {
      EXPECT_EQ(Lookup("a.txt"), nullptr);
    }
  }
  // A folder whose content reaches past the folder around it.
  TvfsParts parts = OneFile();
  auto inner = testkit::PathEntryBytes(false, "in", false, testkit::FolderValue(20));
  parts.pathTable.insert(parts.pathTable.end(), inner.begin(), inner.end());
  parts.pathTable[4] += static_cast<uint8_t>(inner.size());
  EXPECT_EQ(Load(testkit::AssembleTvfs(parts)), kErrorBadFormat);
}

// A table of fewer than 6 bytes is walked from its first byte: a lone value
// there is a file, not the root folder.
TEST_F(TvfsRootTest, ShortTableIsWalkedWithoutTheRootRule) {
  TvfsParts parts = OneFile();
  parts.pathTable = {0xFF, 0, 0, 0, 0};
  EXPECT_EQ(Load(testkit::AssembleTvfs(parts)), 0u);
  parts.pathTable.push_back(0);
  EXPECT_EQ(Load(testkit::AssembleTvfs(parts)), kErrorBadFormat);
}

// An EKey the storage does not list gets a new entry: EKey known (only its
// first 9 bytes for 9-byte EKeys), the span's content size, no location.
TEST_F(TvfsRootTest, UnlistedEKeysGetNewEntries) {
  for (uint8_t ekeySize : {9, 16}) {
    SCOPED_TRACE(int{ekeySize});
    TvfsRoot root;
    root.ekeySize = ekeySize;
    root.files = {File("new.bin", {kUnlisted + ekeySize}, 77)};
    const size_t before = storage_->contents.size();
    ASSERT_EQ(Load(root), 0u);
    ContentEntry* entry = Lookup("new.bin");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(storage_->contents.size(), before + 1);
    EXPECT_EQ(storage_->contents.FindByEKey(EKeyOf(kUnlisted + ekeySize).data()), entry);
    EXPECT_EQ(entry->flags, EF_EKEY | (ekeySize == 9 ? EF_EKEY_PARTIAL : 0));
    EXPECT_EQ(entry->contentSize, 77u);
    EXPECT_EQ(entry->storageOffset, kUnknownOffset);
    EXPECT_EQ(entry->refCount, 1u);
  }
  // A listed entry of unknown size takes the span's.
  ContentEntry* unsized = testkit::AddContentEntry(*storage_, 20, EF_CKEY | EF_EKEY, kUnknownSize);
  TvfsRoot root;
  root.files = {File("unsized", {20}, 55)};
  ASSERT_EQ(Load(root), 0u);
  EXPECT_EQ(Lookup("unsized"), unsized);
  EXPECT_EQ(unsized->contentSize, 55u);
}

TEST_F(TvfsRootTest, FullEntryTableGivesNotEnoughMemory) {
  storage_ = testkit::MakeMemoryStorage(0);
  while (storage_->contents.size() < storage_->contents.capacity()) {
    testkit::AddContentEntry(*storage_, static_cast<uint32_t>(storage_->contents.size()) + 1);
  }
  TvfsRoot root;
  root.files = {File("new.bin", {kUnlisted})};
  EXPECT_EQ(Load(root), kErrorNotEnoughMemory);
  EXPECT_EQ(storage_->root, nullptr);
}

// A file of several spans is bound to the first of its span records, copies
// of the storage's entries; the storage's first entry counts the name, the
// later ones are marked as continuations.
TEST_F(TvfsRootTest, MultiSpanFileIsBoundToItsSpanRecords) {
  TvfsRoot root;
  root.files = {File("big.bin", {2, 3, 4}, 1000), File("small.bin", {5})};
  ASSERT_EQ(Load(root), 0u);
  ContentEntry* first = Lookup("big.bin");
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, Entry(2));
  EXPECT_EQ(first->spanCount, 3u);
  EXPECT_EQ(SpanEntryCount(*storage_, *first), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(first[i].ckey, MakeKey(2 + i));
  EXPECT_EQ(first->refCount, 0u);
  EXPECT_EQ(Entry(2)->refCount, 1u);
  EXPECT_EQ(Entry(2)->spanCount, 1u);
  EXPECT_EQ(Entry(2)->flags & EF_SPAN_CONTINUATION, 0u);
  EXPECT_NE(Entry(3)->flags & EF_SPAN_CONTINUATION, 0u);
  EXPECT_NE(Entry(4)->flags & EF_SPAN_CONTINUATION, 0u);
  EXPECT_EQ(Lookup("small.bin"), Entry(5));
}

// One span whose EKey the storage does not list passes the whole file over
// and leaves the storage's entries as they were.
TEST_F(TvfsRootTest, MultiSpanFileWithAnUnlistedSpanIsPassedOver) {
  TvfsRoot root;
  root.files = {File("big.bin", {2, kUnlisted, 4}), File("after.bin", {6})};
  const size_t before = storage_->contents.size();
  ASSERT_EQ(Load(root), 0u);
  EXPECT_EQ(Lookup("big.bin"), nullptr);
  EXPECT_EQ(Lookup("after.bin"), Entry(6));
  EXPECT_EQ(storage_->contents.size(), before);
  EXPECT_EQ(Entry(2)->refCount, 0u);
  EXPECT_EQ(Entry(4)->flags & EF_SPAN_CONTINUATION, 0u);
}

// Storages keyed by full EKeys find a file by its EKey alone: bytes 9 to 15
// give its archive and offset, the CFT its encoded size. A new entry keeps
// the span record's flags (location known, EKey known), so that the file
// can be read; files of several spans with unlisted EKeys are named too.
TEST_F(TvfsRootTest, FullEKeyStoragesLocateFilesByTheirEKeys) {
  storage_->kind = BUILD_CONFIG;
  Key16 located = MakeKey(kUnlisted);
  const uint8_t location[7] = {0, 3, 0, 0, 0, 0x10, 0x20};  // archive 3, offset 0x1020
  std::copy(std::begin(location), std::end(location), located.begin() + 9);
  TvfsRoot root;
  root.ekeySize = 16;
  root.files = {{"one.bin", {{located, 40, 70}}},
                {"two.bin", {{MakeKey(kUnlisted + 1), 10, 20}, {MakeKey(kUnlisted + 2), 10, 20}}}};
  ASSERT_EQ(Load(root), 0u);
  ContentEntry* entry = Lookup("one.bin");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->flags, EF_LOCAL | EF_EKEY);
  EXPECT_EQ(entry->storageOffset, (uint64_t{3} << 40) | 0x1020);
  EXPECT_EQ(entry->encodedSize, 70u);
  EXPECT_EQ(entry->contentSize, 40u);
  ContentEntry* spanned = Lookup("two.bin");
  ASSERT_NE(spanned, nullptr);
  EXPECT_EQ(spanned->spanCount, 2u);
  EXPECT_EQ(spanned[1].ekey, MakeKey(kUnlisted + 2));
  EXPECT_EQ(spanned[1].flags & (EF_LOCAL | EF_EKEY), EF_LOCAL | EF_EKEY);
}

TEST(SpanRecordTableTest, GrowsInBlocksWithoutMovingRecords) {
  SpanRecordTable table;
  ContentEntry* first = table.Append(SpanRecordTable::kBlockRecords - 1);
  ASSERT_NE(first, nullptr);
  first->contentSize = 7;
  ContentEntry* pair = table.Append(2);  // does not fit behind: a new block
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(table.blockCount(), 2u);
  EXPECT_EQ(first->contentSize, 7u);
  EXPECT_TRUE(table.Holds(first, SpanRecordTable::kBlockRecords - 1));
  EXPECT_FALSE(table.Holds(first, SpanRecordTable::kBlockRecords));
  EXPECT_TRUE(table.Holds(pair, 2));
  table.DropLast(2);
  EXPECT_FALSE(table.Holds(pair, 1));
  EXPECT_EQ(table.Append(0), nullptr);
  EXPECT_EQ(table.Append(SpanRecordTable::kBlockRecords + 1), nullptr);
}

TEST_F(TvfsRootTest, VfsRootEntryIsNamed) {
  storage_->vfsRootEntry = *Entry(7);
  TvfsRoot root;
  root.files = {File("a.txt", {1})};
  ASSERT_EQ(Load(root), 0u);
  EXPECT_EQ(Lookup("vfs-root"), Entry(7));
}

// A name of key form (52, 53 or 57 bytes, the first ":" at 12 or 16) stops
// the walk with 1011; the names met before it stay and the handler is
// installed.
TEST_F(TvfsRootTest, KeyFormNameAsksForTheRootAgain) {
  const std::string keyForms[] = {testkit::KeyFormName(0x1234),
                                  "0123456789abcdef:" + std::string(35, 'k'),
                                  "0123456789abcdef:" + std::string(40, 'k')};
  const std::string otherNames[] = {"0123456789abc:" + std::string(39, 'k'),
                                    std::string(41, 'q') + ":" + std::string(15, 'r'),
                                    "0123456789ab:" + std::string(41, 'k')};
  EXPECT_EQ(keyForms[0].size(), 53u);
  for (const std::string& name : keyForms) {
    SCOPED_TRACE(name);
    TvfsRoot root;
    root.files = {File("+early.txt", {1}), File(name, {3}), File("zz.txt", {4})};
    EXPECT_EQ(Load(root), kErrorReparseRoot);
    ASSERT_NE(storage_->root, nullptr);
    EXPECT_EQ(Lookup("+early.txt"), Entry(1));
    EXPECT_EQ(Lookup("zz.txt"), nullptr);
  }
  TvfsRoot root;
  for (const std::string& name : otherNames) root.files.push_back(File(name, {2}));
  ASSERT_EQ(Load(root), 0u);
  for (const std::string& name : otherNames) EXPECT_EQ(Lookup(name), Entry(2)) << name;
}

}  // namespace
}  // namespace kestrine

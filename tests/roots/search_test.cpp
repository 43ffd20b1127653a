#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/hex_key.h"
#include "kestrine.h"
#include "roots/file_tree_root.h"
#include "roots/search.h"
#include "testkit/index_files.h"
#include "testkit/roots.h"

namespace kestrine {
namespace {

using testkit::AddContentEntry;
using testkit::MakeKey;

struct Found {
  std::string name;
  uint32_t nameType;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& found) {
  return out << found.name << "/" << found.nameType;
}

// Every result of a search, in order.
std::vector<Found> SearchAll(TCascStorage& storage, const char* mask) {
  std::vector<Found> found;
  SearchResult result;
  SearchHandle search = SearchFirst(HandleOf(&storage), mask, &result, nullptr);
  if (search == nullptr) return found;
  do {
    found.push_back({result.fileName, result.nameType});
  } while (SearchNext(search, &result));
  EXPECT_TRUE(SearchClose(search));
  return found;
}

class SearchTest : public ::testing::Test {
 protected:
  SearchTest() : storage_(testkit::MakeMemoryStorage()) {
    auto root = std::make_unique<TFileTreeRoot>(rootFlags_);
    root_ = root.get();
    storage_->root = std::move(root);
  }

  // A named entry with CKey seed `seed`.
  ContentEntry* Name(const char* name, uint32_t seed) {
    ContentEntry* entry = AddContentEntry(*storage_, seed);
    EXPECT_EQ(root_->InsertName(name, entry), 0u);
    return entry;
  }

  uint32_t rootFlags_ = 0;
  testkit::StorageRef storage_;
  TFileTreeRoot* root_ = nullptr;
};

TEST_F(SearchTest, MasksSelectNamesAndNeverFolders) {
  Name("a/b/c", 1);
  Name("dir/readme.txt", 2);
  Name("readme.txt.bak", 3);
  Name("ab.txt", 4);
  const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
      {"A\\B\\*", {"a\\b\\c"}},
      {"a/b/?", {"a\\b\\c"}},
      {"a\\b", {}},
      {"*.txt", {"dir\\readme.txt", "ab.txt"}},
      {"*?.txt", {"dir\\readme.txt", "ab.txt"}},
      {"readme*", {"readme.txt.bak"}},
  };
  for (const auto& [mask, names] : cases) {
    SCOPED_TRACE(mask);
    std::vector<Found> expected;
    for (const std::string& name : names) expected.push_back({name, kNameFull});
    EXPECT_EQ(SearchAll(*storage_, mask), expected);
  }
  EXPECT_EQ(SearchAll(*storage_, "*").size(), 4u);
}

// With "*", the entries no name refers to come after the names, named by
// their CKey or, without one, their EKey; entries of no manifest or marked
// 0x100 / 0x200 stay out. Other masks never report them.
TEST_F(SearchTest, UnnamedEntriesFollowTheNamesOnlyForTheFullMask) {
  ContentEntry* byCKey = AddContentEntry(*storage_, 10);
  Name("named.bin", 11);
  ContentEntry* byEKey = AddContentEntry(*storage_, 12, EF_EKEY | EF_IN_DOWNLOAD);
  AddContentEntry(*storage_, 13, EF_CKEY | EF_EKEY);  // listed by no manifest
  AddContentEntry(*storage_, 14, EF_CKEY | EF_IN_ENCODING | 0x100);
  AddContentEntry(*storage_, 15, EF_CKEY | EF_IN_ENCODING | 0x200);

  const std::vector<Found> expected = {
      {"named.bin", kNameFull},
      {FormatHexKey(byCKey->ckey), kNameCKey},
      {FormatHexKey(byEKey->ekey), kNameEKey},
  };
  EXPECT_EQ(SearchAll(*storage_, "*"), expected);
  EXPECT_EQ(SearchAll(*storage_, nullptr), expected);
  EXPECT_EQ(SearchAll(*storage_, "*.bin"), std::vector<Found>({{"named.bin", kNameFull}}));
}

TEST_F(SearchTest, ResultCarriesTheEntryFields) {
  Name("sub/dir/Unit.grp", 20)->flags |= EF_LOCAL;
  storage_->contents.entries()[0].tagBitMask = 0x5;
  SearchResult result;
  SearchHandle search = SearchFirst(HandleOf(storage_.get()), "*", &result, nullptr);
  ASSERT_NE(search, nullptr);
  EXPECT_STREQ(result.fileName, "sub\\dir\\Unit.grp");
  EXPECT_STREQ(PlainName(result), "Unit.grp");
  EXPECT_EQ(Key16(std::to_array(result.ckey)), MakeKey(20));
  EXPECT_EQ(Key16(std::to_array(result.ekey)), MakeKey(20 + 0x10000));
  EXPECT_EQ(result.tagBitMask, 0x5u);
  EXPECT_EQ(result.fileSize, 100u);
  EXPECT_EQ(result.spanCount, 1u);
  EXPECT_EQ(result.resultFlags, 1u);
  EXPECT_EQ(result.fileDataId, 0xFFFFFFFFu);
  EXPECT_EQ(result.nameType, kNameFull);
  EXPECT_FALSE(SearchNext(search, &result));
  EXPECT_FALSE(SearchNext(search, &result));  // finished stays finished
  EXPECT_TRUE(SearchClose(search));
}

// The size of a file of several spans: the content sizes added up, else the
// encoded sizes when a content size is unknown, else unknown.
TEST_F(SearchTest, FileSizeAddsUpTheSpans) {
  struct Case {
    std::vector<std::pair<uint32_t, uint32_t>> spans;  // content, encoded
    uint64_t size;
  };
  const std::vector<Case> cases = {
      {{{10, 15}, {20, 25}, {30, 35}}, 60},
      {{{10, 15}, {kUnknownSize, 25}, {30, 35}}, 75},
      {{{10, 15}, {kUnknownSize, 25}, {30, kUnknownSize}}, ~uint64_t{0}},
  };
  uint32_t seed = 100;
  for (const Case& c : cases) {
    ContentEntry* first = nullptr;
    for (auto [content, encoded] : c.spans) {
      ContentEntry* span = AddContentEntry(*storage_, seed++, EF_CKEY, content, encoded);
      if (first == nullptr) first = span;
    }
    first->spanCount = static_cast<uint8_t>(c.spans.size());
    EXPECT_EQ(SpanFileSize(*storage_, *first), c.size);
  }
  ContentEntry* last = AddContentEntry(*storage_, seed++, EF_CKEY);
  last->spanCount = 2;  // runs past the table
  EXPECT_EQ(SpanFileSize(*storage_, *last), ~uint64_t{0});
  last->spanCount = 0;
  EXPECT_EQ(SpanFileSize(*storage_, *last), 0u);
}

TEST_F(SearchTest, ContainersAreReportedWithTheirOwnEntry) {
  Name("x:y", 30);
  Name("x:", 31);
  Name("later", 32);
  // The container made for x:y has an entry only once x: is named; the
  // search goes on past it either way.
  EXPECT_EQ(SearchAll(*storage_, "*"),
            std::vector<Found>({{"x:y", kNameFull}, {"x:", kNameFull}, {"later", kNameFull}}));
}

class SearchWithIdsTest : public SearchTest {
 protected:
  SearchWithIdsTest() {
    auto root = std::make_unique<TFileTreeRoot>(FTREE_FILE_IDS);
    root_ = root.get();
    storage_->root = std::move(root);
  }
};

// Nodes entered by id without a name are named after their id; ids without
// a node are skipped.
TEST_F(SearchWithIdsTest, NamelessNodesAreNamedAfterTheirId) {
  root_->tree().InsertFileId(AddContentEntry(*storage_, 40), 0x2A, kNoValue, kNoValue);
  root_->tree().InsertFileId(AddContentEntry(*storage_, 41), 0x1000, kNoValue, kNoValue);
  EXPECT_EQ(SearchAll(*storage_, "*"), std::vector<Found>({{"FILE0000002A.dat", kNameFileId},
                                                           {"FILE00001000.dat", kNameFileId}}));
}

TEST_F(SearchTest, HandlesAreCheckedAndHoldTheStorage) {
  SearchResult result;
  uint32_t foreign[4] = {1, 2, 3, 4};
  for (SearchHandle bad : {SearchHandle{nullptr}, reinterpret_cast<SearchHandle>(~uintptr_t{0}),
                           reinterpret_cast<SearchHandle>(foreign)}) {
    SetCascError(0);
    EXPECT_FALSE(SearchNext(bad, &result));
    EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
    SetCascError(0);
    EXPECT_FALSE(SearchClose(bad));
    EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
  }
  EXPECT_EQ(SearchFirst(reinterpret_cast<StorageHandle>(foreign), "*", &result, nullptr), nullptr);
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);

  // Nothing to report: the handle is released again with its reference.
  EXPECT_EQ(SearchFirst(HandleOf(storage_.get()), "*", &result, nullptr), nullptr);
  EXPECT_EQ(GetCascError(), kErrorFileNotFound);
  EXPECT_EQ(storage_->refCount.load(), 1u);

  Name("kept", 50);
  SearchHandle search = SearchFirst(HandleOf(storage_.get()), "*", &result, "/no/such/list/file");
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(reinterpret_cast<TCascSearch*>(search)->listFile, nullptr);
  EXPECT_EQ(storage_->refCount.load(), 2u);
  storage_.reset();  // the caller lets go; the search keeps the storage
  EXPECT_FALSE(SearchNext(search, &result));
  EXPECT_TRUE(SearchClose(search));  // the storage goes with it
}

}  // namespace
}  // namespace kestrine

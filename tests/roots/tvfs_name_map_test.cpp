// The "index" name map: which lines make items, how names are compared, and
// when a storage's "index" file may be used at all.
#include "roots/tvfs_name_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "common/md5.h"
#include "testkit/name_index.h"

namespace kestrine {
namespace {

using testkit::NameIndex;
using testkit::WriteNameIndex;

uint32_t Build(TvfsNameMap& map, const NameIndex& index) {
  return map.Build(WriteNameIndex(index));
}

TEST(TvfsNameMapTest, HashStartsFromItsSeedAndUpperCasesEveryByte) {
  EXPECT_EQ(NameMapHash(""), 0x7EEE7EEEu);
  EXPECT_EQ(NameMapHash("a"), 0xA321A311u);
  EXPECT_EQ(NameMapHash("Ab"), 0xC715C1D0u);
  EXPECT_EQ(NameMapHash("aB"), NameMapHash("AB"));
  EXPECT_EQ(NameMapHash("unitsmarine.grp"), 0x41445185u);
}

TEST(TvfsNameMapTest, OddLinesArePassedOverWhateverTheLineBreaks) {
  for (const char* lineBreak : {"\n", "\r\n", "\r", "\n\n"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(lineBreak)));
    NameIndex index;
    index.oddLines = testkit::OddNameIndexLines();
    index.paths = {"unit/terran/marine.grp", "sound\\misc\\button.wav", "rez/a|b|c"};
    index.lineBreak = lineBreak;
    index.finalBreak = false;
    TvfsNameMap map;
    ASSERT_EQ(Build(map, index), kErrorSuccess);
    EXPECT_EQ(map.size(), 3u);
    EXPECT_EQ(map.bucketCount(), 256u);
    // Found by the flattened form in any case, with any separators; the
    // value is the path as the file writes it, cut at the first "|".
    EXPECT_EQ(map.Find("UNITTERRANMARINE.GRP"), "unit/terran/marine.grp");
    EXPECT_EQ(map.Find("unit\\terran/marine.grp"), "unit/terran/marine.grp");
    EXPECT_EQ(map.Find("sound/misc/button.wav"), "sound\\misc\\button.wav");
    EXPECT_EQ(map.Find("reza"), "rez/a");
    EXPECT_FALSE(map.Find("no bar on this line"));
    EXPECT_FALSE(map.Find("startswithabar"));
    EXPECT_EQ(map.Translate("elsewhere/x"), "elsewhere/x");
  }
}

TEST(TvfsNameMapTest, KeysCompareWhole) {
  NameIndex index;
  index.paths = {"data/abc", "data/ab"};  // a key that begins another is no duplicate
  TvfsNameMap map;
  ASSERT_EQ(Build(map, index), kErrorSuccess);
  EXPECT_EQ(map.Find("dataabc"), "data/abc");
  EXPECT_EQ(map.Find("dataab"), "data/ab");
  EXPECT_FALSE(map.Find("dataa"));
  EXPECT_FALSE(map.Find("dataabcd"));
  EXPECT_FALSE(map.Find(""));
}

TEST(TvfsNameMapTest, ARepeatedKeyDropsTheWholeMap) {
  // Equal once the separators are gone and the case is ignored.
  for (const char* second : {"unit/marine.grp", "UNIT\\MARINE.GRP", "un/it/marine.grp"}) {
    NameIndex index;
    index.paths = {"unit/marine.grp", "unit/ghost.grp", second};
    TvfsNameMap map;
    EXPECT_EQ(Build(map, index), kErrorBadFormat) << second;
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map.bucketCount(), 0u);
    EXPECT_FALSE(map.Find("unitghost.grp"));
  }
}

TEST(TvfsNameMapTest, BucketsCoverFourThirdsOfTheItems) {
  for (auto [count, buckets] :
       {std::pair<size_t, size_t>{0, 256}, {192, 256}, {193, 512}, {1000, 2048}}) {
    NameIndex index;
    for (size_t i = 0; i < count; ++i) index.paths.push_back("file" + std::to_string(i));
    index.oddLines = testkit::OddNameIndexLines();  // not counted
    TvfsNameMap map;
    ASSERT_EQ(Build(map, index), kErrorSuccess);
    EXPECT_EQ(map.size(), count);
    EXPECT_EQ(map.bucketCount(), buckets) << count;
    for (size_t i = 0; i < count; i += 97) {
      EXPECT_EQ(map.Find("FILE" + std::to_string(i)), "file" + std::to_string(i));
    }
  }
}

TEST(TvfsNameMapTest, TheIndexCountsOnlyWithTheRootManifestsCKey) {
  NameIndex index;
  index.paths = {"a/b"};
  const std::vector<uint8_t> content = WriteNameIndex(index);
  TCascStorage storage;
  EXPECT_FALSE(IsStorageNameIndex(storage, content)) << "no ROOT CKey";
  storage.rootEntry.ckey = ComputeMd5(content);
  EXPECT_FALSE(IsStorageNameIndex(storage, content)) << "CKey without its flag";
  storage.rootEntry.flags = EF_CKEY;
  EXPECT_TRUE(IsStorageNameIndex(storage, content));
  EXPECT_FALSE(IsStorageNameIndex(storage, {})) << "empty content";
  std::vector<uint8_t> other = content;
  other.back() ^= 1;
  EXPECT_FALSE(IsStorageNameIndex(storage, other));
  // The VFS root's CKey is that of the TVFS root, never of "index".
  storage.rootEntry = {};
  storage.vfsRootEntry.ckey = ComputeMd5(content);
  storage.vfsRootEntry.flags = EF_CKEY;
  EXPECT_FALSE(IsStorageNameIndex(storage, content));
}

}  // namespace
}  // namespace kestrine

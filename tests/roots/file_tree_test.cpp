#include "roots/file_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "roots/file_tree_root.h"

namespace kestrine {
namespace {

std::string PathOf(const FileTree& tree, uint32_t node, size_t size = 260) {
  std::vector<char> buffer(size);
  tree.BuildPath(node, buffer.data(), buffer.size());
  return buffer.data();
}

uint32_t IndexOf(const FileTree& tree, const FileTreeNode* node) {
  for (uint32_t i = 0; i < tree.nodeCount(); ++i) {
    if (&tree.Node(i) == node) return i;
  }
  return kNoNode;
}

TEST(FileTreeTest, NodeLayoutAndMapSizingFollowTheConstructionFlags) {
  EXPECT_EQ(FileTree::NodeSizeFor(0), 32u);
  EXPECT_EQ(FileTree::NodeSizeFor(FTREE_FILE_IDS), 32u);
  EXPECT_EQ(FileTree::NodeSizeFor(FTREE_FILE_IDS | FTREE_LOCALE_FLAGS), 40u);
  EXPECT_EQ(FileTree::NodeSizeFor(7), 40u);
  EXPECT_EQ(FileTree::BucketCountFor(0), 256u);
  EXPECT_EQ(FileTree::BucketCountFor(192), 256u);
  EXPECT_EQ(FileTree::BucketCountFor(193), 512u);
  EXPECT_EQ(FileTree::BucketCountFor(16384), 32768u);

  FileTree tree(FTREE_LOCALE_FLAGS | FTREE_CONTENT_FLAGS);
  EXPECT_EQ(tree.nodeCount(), 1u);
  EXPECT_EQ(tree.nodeCapacity(), 16384u);
  EXPECT_EQ(tree.bucketCount(), 32768u);
  EXPECT_FALSE(tree.keepsFileIds());
  const FileTreeNode& root = tree.Node(0);
  EXPECT_EQ(root.parent, kNoNode);
  EXPECT_EQ(root.nameOffset, kNoNode);
  EXPECT_EQ(root.flags, FTN_FOLDER);
  // Optional fields read as absent, whether kept or not.
  EXPECT_EQ(tree.FileId(0), kNoValue);
  EXPECT_EQ(tree.LocaleFlags(0), kNoValue);
  EXPECT_EQ(tree.ContentFlags(0), kNoValue);
}

TEST(FileTreeTest, NamesCompareAfterNormalisingTheirFirst260Bytes) {
  EXPECT_EQ(NameHash("UNIT/Terran/Marine.grp"), NameHash("unit\\terran\\marine.grp"));
  EXPECT_NE(NameHash("unit/a"), NameHash("unit/b"));
  EXPECT_NE(NameHash("\xC9t\xE9"), NameHash("\xE9t\xE9"));  // no folding above 0x7F
  const std::string base(259, 'x');
  EXPECT_EQ(NameHash(base + "a" + "tail1"), NameHash(base + "A" + "tail2"));
  EXPECT_NE(NameHash(base + "a"), NameHash(base + "b"));
  EXPECT_NE(NameHash(""), 0u);
}

// The same name in another case and with other separators is one file: the
// second insertion returns the first node and counts no second reference.
TEST(FileTreeTest, SecondInsertionOfANameReturnsTheFirstNode) {
  FileTree tree(0);
  ContentEntry first, second;
  FileTreeNode* node = tree.InsertFile(&first, "UNIT/Terran/Marine.grp", kNoFileId);
  ASSERT_NE(node, nullptr);
  const size_t nodes = tree.nodeCount();
  EXPECT_EQ(tree.InsertFile(&second, "unit\\terran\\marine.grp", kNoFileId), node);
  EXPECT_EQ(first.refCount, 1u);
  EXPECT_EQ(second.refCount, 0u);
  EXPECT_EQ(tree.nodeCount(), nodes);
  EXPECT_EQ(tree.fileCount(), 1u);
  EXPECT_EQ(PathOf(tree, IndexOf(tree, node)), "UNIT\\Terran\\Marine.grp");
}

TEST(FileTreeTest, FoldersAreCreatedOncePerPrefixAndPathsKeepTheirCase) {
  FileTree tree(0);
  ContentEntry a, b;
  const uint32_t c = IndexOf(tree, tree.InsertFile(&a, "a/B/c.txt", kNoFileId));
  const uint32_t d = IndexOf(tree, tree.InsertFile(&b, "A\\b/d.txt", kNoFileId));
  EXPECT_EQ(tree.folderCount(), 2u);
  EXPECT_EQ(tree.nodeCount(), 5u);  // root, two folders, two files
  EXPECT_EQ(tree.Node(c).parent, tree.Node(d).parent);
  EXPECT_EQ(PathOf(tree, c), "a\\B\\c.txt");
  EXPECT_EQ(PathOf(tree, d), "a\\B\\d.txt");
  const uint32_t folder = tree.FindName("a/b");
  ASSERT_NE(folder, kNoNode);
  EXPECT_EQ(tree.Node(folder).flags, FTN_FOLDER);
  EXPECT_EQ(tree.Node(folder).entry, nullptr);
  EXPECT_EQ(PathOf(tree, folder), "a\\B\\");
  EXPECT_EQ(PathOf(tree, 0), "");
}

// Names in the folder of the previous name take a shortcut; the tree must
// come out as if each name had walked its folders: the same names entered
// with a name of another folder between each give the same paths.
TEST(FileTreeTest, NamesInThePreviousFolderGiveTheSamePaths) {
  const std::vector<std::string> names = {
      "Dir/a.txt", "DIR/b.txt", "dir/a.txt/inner", "Dir/Sub/c.txt", "dir/sub/D.txt", "Dir/e.txt",
      "Dir/x:y",   "Dir/x:/z",  "Dirt/f.txt",      "Dir//g.txt",    "Dir/",          "Dir/h.txt"};
  FileTree direct(0), walked(0);
  std::vector<ContentEntry> entries(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_NE(direct.InsertFile(&entries[i], names[i], kNoFileId), nullptr) << names[i];
    ASSERT_NE(walked.InsertFile(nullptr, "Other/Folder" + std::to_string(i) + "/n", kNoFileId),
              nullptr);
    ASSERT_NE(walked.InsertFile(&entries[i], names[i], kNoFileId), nullptr) << names[i];
  }
  for (const std::string& name : names) {
    const uint32_t inDirect = direct.FindName(name);
    const uint32_t inWalked = walked.FindName(name);
    ASSERT_NE(inDirect, kNoNode) << name;
    ASSERT_NE(inWalked, kNoNode) << name;
    EXPECT_EQ(PathOf(direct, inDirect), PathOf(walked, inWalked)) << name;
    EXPECT_EQ(direct.Node(inDirect).entry, walked.Node(inWalked).entry) << name;
  }
  EXPECT_EQ(direct.folderCount() + 13, walked.folderCount());  // "Other" and its 12 folders
}

// A name ending in ":" is a container; names below it hang from it, in
// whichever order the two arrive, and it keeps its own entry.
TEST(FileTreeTest, ContainersHoldTheirEntryInEitherInsertionOrder) {
  for (bool containerFirst : {true, false}) {
    SCOPED_TRACE(containerFirst);
    FileTree tree(0);
    ContentEntry outer, inner;
    if (containerFirst) tree.InsertFile(&outer, "x:", kNoFileId);
    const uint32_t y = IndexOf(tree, tree.InsertFile(&inner, "x:y", kNoFileId));
    if (!containerFirst) tree.InsertFile(&outer, "x:", kNoFileId);
    const uint32_t x = tree.FindName("x:");
    ASSERT_NE(x, kNoNode);
    EXPECT_EQ(tree.Node(x).flags, FTN_FOLDER | FTN_CONTAINER);
    EXPECT_EQ(tree.Node(x).entry, &outer);
    EXPECT_EQ(outer.refCount, 1u);
    EXPECT_EQ(tree.Node(y).parent, x);
    EXPECT_EQ(PathOf(tree, x), "x:");
    EXPECT_EQ(PathOf(tree, y), "x:y");
  }
}

// Every name comes back from its node as it was inserted (up to case), also
// where a name is both a file and a folder, or a separator follows ":".
TEST(FileTreeTest, PathsOfAwkwardNamesComeBackAsInserted) {
  const std::vector<std::vector<std::string>> cases = {
      {"a", "a/b"}, {"a/b", "a"},      {"a/", "a", "a/b"}, {"x:/y", "x:"},  {"x://y"},
      {"", "/"},    {":", "::", ":a"}, {"a:b:", "a:b:c"},  {"d//e", "d/e"}, {"\\lead"},
  };
  for (const auto& names : cases) {
    FileTree tree(0);
    std::vector<ContentEntry> entries(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      ASSERT_NE(tree.InsertFile(&entries[i], names[i], kNoFileId), nullptr);
    }
    for (size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(names[i]);
      const uint32_t node = tree.FindName(names[i]);
      ASSERT_NE(node, kNoNode);
      EXPECT_EQ(tree.Node(node).entry, &entries[i]);
      EXPECT_EQ(NameHash(PathOf(tree, node)), NameHash(names[i]));
    }
  }
}

// Growing the node array moves every node: the hash map is rebuilt from the
// new capacity and every name is still found, with its path intact.
TEST(FileTreeTest, GrowthKeepsEveryNameFindable) {
  FileTree tree(0);
  std::vector<ContentEntry> entries(20000);
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string name = "dir" + std::to_string(i % 7) + "/file" + std::to_string(i) + ".bin";
    ASSERT_NE(tree.InsertFile(&entries[i], name, kNoFileId), nullptr);
  }
  EXPECT_EQ(tree.nodeCapacity(), 32768u);
  EXPECT_EQ(tree.bucketCount(), 65536u);
  EXPECT_GT(tree.nameBytesUsed(), FileTree::kInitialNameBytes);
  EXPECT_LE(tree.hashItems() * 3, tree.bucketCount() * 2);
  for (size_t i = 0; i < entries.size(); i += 997) {
    const std::string name = "DIR" + std::to_string(i % 7) + "\\FILE" + std::to_string(i) + ".BIN";
    const uint32_t node = tree.FindName(name);
    ASSERT_NE(node, kNoNode) << name;
    EXPECT_EQ(tree.Node(node).entry, &entries[i]);
    EXPECT_EQ(PathOf(tree, node),
              "dir" + std::to_string(i % 7) + "\\file" + std::to_string(i) + ".bin");
  }
}

// A path that does not fit is cut after the last fragment that does; a
// 259-byte name fits the 260-byte buffer of a search result.
TEST(FileTreeTest, BuildPathCutsAtAFragmentBoundary) {
  FileTree tree(0);
  ContentEntry entry;
  const uint32_t node = IndexOf(tree, tree.InsertFile(&entry, "ab/cd/ef", kNoFileId));
  EXPECT_EQ(PathOf(tree, node, 9), "ab\\cd\\ef");
  EXPECT_EQ(PathOf(tree, node, 8), "ab\\cd\\");
  EXPECT_EQ(PathOf(tree, node, 6), "ab\\cd");
  EXPECT_EQ(PathOf(tree, node, 5), "ab\\");
  EXPECT_EQ(PathOf(tree, node, 3), "ab");
  EXPECT_EQ(PathOf(tree, node, 1), "");

  const std::string longName = std::string(100, 'p') + "/" + std::string(158, 'q');
  const uint32_t longNode = IndexOf(tree, tree.InsertFile(&entry, longName, kNoFileId));
  EXPECT_EQ(PathOf(tree, longNode).size(), 259u);
}

TEST(FileTreeTest, FileIdsMapSparselyAndBoundTheEnumeration) {
  TFileTreeRoot root(FTREE_FILE_IDS | FTREE_LOCALE_FLAGS | FTREE_CONTENT_FLAGS);
  FileTree& tree = root.tree();
  EXPECT_EQ(tree.idPageCount(), 1u);
  ContentEntry a, b, c;
  FileTreeNode* five = tree.InsertFileId(&a, 5, 0x2, 0x8);
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(tree.InsertFileId(&b, 5, 0x4, 0x0), five);  // the first keeps the id
  ASSERT_NE(tree.InsertFileId(&c, 0x01020304, 0x2, 0x0), nullptr);
  EXPECT_EQ(tree.idPageCount(), 7u);
  EXPECT_EQ(tree.InsertFileId(&c, kNoFileId, 0, 0), nullptr);
  EXPECT_EQ(a.refCount, 1u);
  EXPECT_EQ(b.refCount, 0u);

  EXPECT_EQ(root.IndexLimit(), 0x01020305u);
  EXPECT_EQ(root.LookupFileId(nullptr, 5), &a);
  EXPECT_EQ(root.LookupFileId(nullptr, 6), nullptr);
  EXPECT_EQ(root.LookupFileId(nullptr, kNoFileId), nullptr);
  char name[16] = "junk";
  EXPECT_EQ(root.NameAtIndex(6, name, sizeof name), nullptr);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(root.NameAtIndex(5, name, sizeof name), &a);
  EXPECT_STREQ(name, "");  // a node entered by id has no name yet
  EXPECT_EQ(tree.LocaleFlags(tree.FindFileId(5)), 0x2u);
  EXPECT_EQ(tree.ContentFlags(tree.FindFileId(5)), 0x8u);

  // A name without an id is numbered just past the highest id.
  ASSERT_EQ(root.InsertName("named/file", &b), 0u);
  EXPECT_EQ(root.LookupFileId(nullptr, 0x01020306), &b);
  EXPECT_EQ(root.IndexLimit(), 0x01020307u);

  // A name attached later finds the node by name, too.
  ASSERT_TRUE(tree.AttachName(tree.FindFileId(5), "late/Name.txt"));
  EXPECT_EQ(root.LookupName(nullptr, "LATE/name.TXT"), &a);
  EXPECT_EQ(root.NameAtIndex(5, name, sizeof name), &a);
  EXPECT_STREQ(name, "late\\Name.txt");

  // A folder later named as a file takes the file's entry and id.
  ASSERT_NE(tree.InsertFile(&c, "dir/inner", 100), nullptr);
  ASSERT_NE(tree.InsertFile(&b, "DIR", 101), nullptr);
  EXPECT_EQ(root.LookupFileId(nullptr, 101), &b);
  EXPECT_EQ(root.NameAtIndex(101, name, sizeof name), &b);
  EXPECT_STREQ(name, "dir");

  // A tree without ids finds nothing by id.
  TFileTreeRoot plain(0);
  ASSERT_EQ(plain.InsertName("x", &a), 0u);
  EXPECT_EQ(plain.LookupFileId(nullptr, 1), nullptr);
  EXPECT_EQ(plain.tree().FileId(1), kNoValue);
}

// The enumeration walks the ids that exist in ascending order, stepping over
// missing pages at every level; a non-id tree answers every index itself.
TEST(FileTreeTest, NextIndexSkipsEmptyIdPagesInOrder) {
  FileIdMap ids;
  EXPECT_EQ(ids.NextId(0), 0u);  // empty: the limit
  const std::vector<uint32_t> entered = {0,       1,          255,        256,
                                         0x10000, 0x00FFFFFF, 0x7F000001, 0xFFFFFFFE};
  for (uint32_t id : entered) ids.Set(id, id % 1000 + 1);
  std::vector<uint64_t> walked;
  uint64_t steps = 0;
  for (uint64_t id = ids.NextId(0, &steps); id < ids.idLimit(); id = ids.NextId(id + 1, &steps)) {
    walked.push_back(id);
  }
  EXPECT_EQ(walked, std::vector<uint64_t>(entered.begin(), entered.end()));
  // At most one step per slot of each page that exists, plus one per id.
  EXPECT_LT(steps, 256u * ids.pageCount() + entered.size());
  EXPECT_EQ(ids.NextId(0xFFFFFFFF), ids.idLimit());
  EXPECT_EQ(ids.NextId(uint64_t{1} << 40), ids.idLimit());

  TFileTreeRoot plain(0);
  ContentEntry a;
  ASSERT_EQ(plain.InsertName("x", &a), 0u);
  EXPECT_EQ(plain.NextIndex(1), 1u);
  EXPECT_EQ(plain.NextIndex(7), plain.IndexLimit());
}

TEST(FileTreeTest, DescribeEntryAndAdoptNames) {
  TFileTreeRoot first(0);
  ContentEntry a, b, unnamed;
  ASSERT_EQ(first.InsertName("one/a.txt", &a), 0u);
  ASSERT_EQ(first.InsertName("two/b.txt", &b), 0u);
  ASSERT_EQ(first.InsertName("x:", &b), 0u);

  FileDescription description;
  EXPECT_TRUE(first.DescribeEntry(&a, description));
  EXPECT_EQ(description.nameHash, NameHash("one/a.txt"));
  EXPECT_EQ(description.fileDataId, kNoValue);
  EXPECT_FALSE(first.DescribeEntry(&unnamed, description));
  EXPECT_FALSE(first.DescribeEntry(nullptr, description));

  TFileTreeRoot second(0);
  ContentEntry kept;
  ASSERT_EQ(second.InsertName("ONE/A.TXT", &kept), 0u);
  EXPECT_EQ(second.AdoptNames(first), 3u);  // folders are not offered
  EXPECT_EQ(second.LookupName(nullptr, "one/a.txt"), &kept);
  EXPECT_EQ(second.LookupName(nullptr, "two\\b.txt"), &b);
  EXPECT_EQ(second.LookupName(nullptr, "x:"), &b);
}

}  // namespace
}  // namespace kestrine

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "roots/file_tree_root.h"
#include "roots/root_loaders.h"
#include "testkit/index_files.h"
#include "testkit/roots.h"

namespace kestrine {
namespace {

using testkit::InstallManifest;
using testkit::MakeKey;

class InstallRootTest : public ::testing::Test {
 protected:
  InstallRootTest() : storage_(testkit::MakeMemoryStorage()) {
    for (uint32_t seed = 1; seed <= 8; ++seed) testkit::AddContentEntry(*storage_, seed);
  }

  uint32_t Load(const InstallManifest& manifest) {
    storage_->root.reset();
    return LoadInstallRoot(*storage_, testkit::WriteInstallManifest(manifest), 0);
  }
  ContentEntry* Lookup(const char* name) {
    return storage_->root->LookupName(storage_.get(), name);
  }
  ContentEntry* Entry(uint32_t seed) { return storage_->contents.FindByCKey(MakeKey(seed).data()); }
  const FileTree& Tree() { return static_cast<TFileTreeRoot&>(*storage_->root).tree(); }

  testkit::StorageRef storage_;
};

TEST_F(InstallRootTest, HeaderIsChecked) {
  struct Case {
    const char* what;
    InstallManifest manifest;
    uint32_t result;
  };
  InstallManifest base;
  base.entries = {{"a.exe", MakeKey(1), 10}};
  std::vector<Case> cases = {{"valid", base, 0},
                             {"signature", base, kErrorBadFormat},
                             {"version", base, kErrorBadFormat},
                             {"hash size 17", base, kErrorBadFormat},
                             {"hash size 9", base, 0},
                             {"header cut", base, kErrorBadFormat}};
  cases[1].manifest.signature = "IM";
  cases[2].manifest.version = 2;
  cases[3].manifest.hashSize = 17;
  cases[4].manifest.hashSize = 9;
  cases[5].manifest.entries.clear();
  cases[5].manifest.truncateBy = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Load(c.manifest), c.result);
    EXPECT_EQ(storage_->root != nullptr, c.result == 0);
    // Whatever the hash size says, CKeys are 16 bytes.
    if (c.result == 0) {
      EXPECT_EQ(Lookup("a.exe"), Entry(1));
    }
  }
}

// Tags are skipped by their sizes (bitmaps of ceil(entries / 8) bytes);
// entries are read while whole ones remain.
TEST_F(InstallRootTest, EntriesFollowTheTags) {
  InstallManifest manifest;
  for (uint32_t i = 0; i < 9; ++i) {
    manifest.entries.push_back({"dir/file" + std::to_string(i), MakeKey(i % 8 + 1), 10});
  }
  manifest.tags = {{"Windows", 1, {0, 8}}, {"enUS", 4, {1}}, {"", 2, {}}};
  ASSERT_EQ(Load(manifest), 0u);
  EXPECT_EQ(Lookup("dir\\file0"), Entry(1));
  EXPECT_EQ(Lookup("DIR/FILE7"), Entry(8));
  EXPECT_EQ(Lookup("dir/file8"), Entry(1));
  EXPECT_EQ(Tree().fileCount(), 9u);

  manifest.truncateBy = 5;  // the last entry loses part of its CKey and size
  ASSERT_EQ(Load(manifest), 0u);
  EXPECT_EQ(Lookup("dir/file7"), Entry(8));
  EXPECT_EQ(Lookup("dir/file8"), nullptr);

  // A count that promises more than there is reads what there is; tags that
  // run to the end leave an empty handler.
  manifest.truncateBy = 0;
  manifest.entryCount = 1000;
  ASSERT_EQ(Load(manifest), 0u);
  EXPECT_EQ(Tree().fileCount(), 0u);
  manifest.entryCount = 12;
  ASSERT_EQ(Load(manifest), 0u);
  EXPECT_EQ(Tree().fileCount(), 9u);
}

TEST_F(InstallRootTest, RepeatedNamesKeepTheFirstKnownEntry) {
  InstallManifest manifest;
  manifest.entries = {{"game.exe", MakeKey(50), 1},  // unknown CKey: passed over
                      {"Game.exe", MakeKey(2), 1},
                      {"GAME.EXE", MakeKey(3), 1}};
  manifest.tags = {{"Windows", 1, {1}}, {"OSX", 1, {2}}};
  ASSERT_EQ(Load(manifest), 0u);
  EXPECT_EQ(Lookup("game.exe"), Entry(2));
  EXPECT_EQ(Entry(3)->refCount, 0u);
  EXPECT_EQ(Tree().fileCount(), 1u);

  EXPECT_EQ(Load(InstallManifest{}), 0u);  // no entries: an empty handler
  EXPECT_EQ(Tree().fileCount(), 0u);
}

}  // namespace
}  // namespace kestrine

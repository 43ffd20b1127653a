#include "roots/load_root.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/errors.h"
#include "roots/root_handler.h"
#include "testkit/index_files.h"
#include "testkit/roots.h"

namespace kestrine {
namespace {

using testkit::MakeKey;
using testkit::RootLine;

constexpr uint32_t kRootSeed = 100;
constexpr uint32_t kInstallSeed = 101;
constexpr uint32_t kEncodingSeed = 102;
constexpr uint32_t kPatchSeed = 103;

void NameInConfig(ContentEntry& record, uint32_t seed) {
  record.ckey = MakeKey(seed);
  record.flags |= EF_CKEY;
}

// A storage whose build configuration names a ROOT, an INSTALL and an
// ENCODING manifest, read through a reader that serves bytes per CKey seed.
class LoadRootTest : public ::testing::Test {
 protected:
  LoadRootTest() : storage_(testkit::MakeMemoryStorage()) {
    for (uint32_t seed : {1u, 2u, kRootSeed, kInstallSeed, kEncodingSeed}) {
      testkit::AddContentEntry(*storage_, seed);
    }
    storage_->kind = BUILD_INFO;
    NameInConfig(storage_->rootEntry, kRootSeed);
    NameInConfig(storage_->installEntry, kInstallSeed);
    NameInConfig(storage_->encodingEntry, kEncodingSeed);
    NameInConfig(storage_->patchEntry, kPatchSeed);  // not stored

    testkit::PlainTextRoot root;
    root.lines = {RootLine("arr/units.dat", MakeKey(1))};
    files_[kRootSeed] = testkit::WritePlainTextRoot(root);
    testkit::InstallManifest install;
    install.entries = {{"Installer.exe", MakeKey(2), 5}};
    files_[kInstallSeed] = testkit::WriteInstallManifest(install);
  }

  uint32_t Run() {
    return LoadRootStep(
        *storage_,
        [this](TCascStorage&, ContentEntry* entry, std::vector<uint8_t>& out) -> uint32_t {
          if (entry == nullptr) return kErrorFileNotFound;
          for (const auto& [seed, bytes] : files_) {
            if (entry->ckey == MakeKey(seed)) {
              reads_.push_back(seed);
              out = bytes;
              return damaged_.contains(seed) ? kErrorFileCorrupt : kErrorSuccess;
            }
          }
          return kErrorFileNotFound;
        });
  }
  ContentEntry* Lookup(const char* name) {
    return storage_->root->LookupName(storage_.get(), name);
  }
  ContentEntry* Entry(uint32_t seed) { return storage_->contents.FindByCKey(MakeKey(seed).data()); }

  testkit::StorageRef storage_;
  std::map<uint32_t, std::vector<uint8_t>> files_;
  std::set<uint32_t> damaged_;  // read as corrupt (1392)
  std::vector<uint32_t> reads_;
};

TEST_F(LoadRootTest, PlainTextRootIsLoadedAndTheManifestsNamed) {
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(reads_, std::vector<uint32_t>{kRootSeed});
  EXPECT_EQ(Lookup("arr\\units.dat"), Entry(1));
  EXPECT_EQ(Lookup("Installer.exe"), nullptr);
  for (auto [name, seed] :
       {std::pair{"ROOT", kRootSeed}, {"INSTALL", kInstallSeed}, {"ENCODING", kEncodingSeed}}) {
    EXPECT_EQ(Lookup(name), Entry(seed)) << name;
    EXPECT_TRUE(Entry(seed)->flags & EF_MANIFEST) << name;
  }
  EXPECT_EQ(Lookup("PATCH"), nullptr);  // its CKey is stored nowhere
  EXPECT_EQ(Lookup("DOWNLOAD"), nullptr);
}

// A root that no loader accepts, too short to be one, or that cannot be
// read, gives way to the INSTALL manifest.
TEST_F(LoadRootTest, InstallManifestStandsInForARootNoLoaderTakes) {
  const std::vector<std::vector<uint8_t>> roots = {
      std::vector<uint8_t>(40, 'x'),
      {'T', 'V', 'F', 'S', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
       0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      std::vector<uint8_t>(files_[kRootSeed].begin(), files_[kRootSeed].begin() + 32),
  };
  for (const auto& root : roots) {
    storage_->root.reset();
    files_[kRootSeed] = root;
    ASSERT_EQ(Run(), 0u);
    EXPECT_EQ(Lookup("installer.exe"), Entry(2));
    EXPECT_EQ(Lookup("INSTALL"), Entry(kInstallSeed));
  }
  storage_->root.reset();
  files_.erase(kRootSeed);
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(Lookup("installer.exe"), Entry(2));

  // Without an install manifest the reader's error stands.
  storage_->root.reset();
  files_.erase(kInstallSeed);
  EXPECT_EQ(Run(), kErrorFileNotFound);
  EXPECT_EQ(storage_->root, nullptr);
  NameInConfig(storage_->installEntry, 77);  // names no stored file
  EXPECT_EQ(Run(), kErrorFileNotFound);
}

// A root whose bytes read as damaged (content key or frame check) fails the
// step: the INSTALL manifest would name other files, and a storage listing
// fewer files than it holds must not pass for a sound one.
TEST_F(LoadRootTest, DamagedRootFailsInsteadOfFallingBack) {
  damaged_.insert(kRootSeed);
  EXPECT_EQ(Run(), kErrorFileCorrupt);
  EXPECT_EQ(reads_, std::vector<uint32_t>{kRootSeed});
  EXPECT_EQ(storage_->root, nullptr);

  // A damaged INSTALL manifest standing in for a missing root fails likewise.
  damaged_ = {kInstallSeed};
  files_.erase(kRootSeed);
  EXPECT_EQ(Run(), kErrorFileCorrupt);
  EXPECT_EQ(storage_->root, nullptr);
}

// An empty install manifest is a bad one, never a success without a root.
TEST_F(LoadRootTest, EmptyInstallManifestIsABadFormat) {
  files_.erase(kRootSeed);
  files_[kInstallSeed].clear();
  EXPECT_EQ(Run(), kErrorBadFormat);
  EXPECT_EQ(storage_->root, nullptr);
}

TEST_F(LoadRootTest, StoragesOfTheBuildConfigKindHaveNoInstallFallback) {
  storage_->kind = BUILD_CONFIG;
  files_[kRootSeed] = std::vector<uint8_t>(40, 'x');
  EXPECT_EQ(Run(), kErrorBadFormat);
  EXPECT_EQ(reads_, std::vector<uint32_t>{kRootSeed});

  files_[kRootSeed] = testkit::WritePlainTextRoot({{RootLine("a", MakeKey(1))}});
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(storage_->entriesAtEnd, storage_->contents.size());
}

// A cancel at the root stage ends the step; it does not fall back.
TEST_F(LoadRootTest, CancelledRootStepDoesNotFallBack) {
  StorageOpenArgs args{};
  args.size = sizeof args;
  std::vector<std::string> stages;
  args.progressContext = &stages;
  args.progressCallback = [](void* context, uint32_t, const char* name, uint32_t, uint32_t) {
    static_cast<std::vector<std::string>*>(context)->push_back(name ? name : "");
    return true;
  };
  storage_->openArgs = &args;
  EXPECT_EQ(Run(), kErrorCancelled);
  storage_->openArgs = nullptr;
  EXPECT_EQ(stages, std::vector<std::string>{"ROOT"});
  EXPECT_TRUE(reads_.empty());
}

// An online storage reads the patch manifest remotely: it is entered as a
// new entry and named.
TEST_F(LoadRootTest, OnlineStorageNamesThePatchManifest) {
  storage_->features |= STF_ONLINE;
  ASSERT_EQ(Run(), 0u);
  ContentEntry* patch = Lookup("PATCH");
  ASSERT_NE(patch, nullptr);
  EXPECT_EQ(patch->ckey, MakeKey(kPatchSeed));
  EXPECT_EQ(patch->flags & (EF_MANIFEST | EF_REMOTE_ARCHIVE), EF_MANIFEST | EF_REMOTE_ARCHIVE);
}

}  // namespace
}  // namespace kestrine

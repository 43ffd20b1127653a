// Installations marked by "data\.build.config": no index files, the build
// configuration names every file and its EKey locates it in the archives
// "%02u-%08x.data". Here a plain-text root stands in for the TVFS root to
// name the files, so that they are opened and read as the import does.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "common/md5.h"
#include "kestrine.h"
#include "roots/root_handler.h"
#include "roots/tvfs_name_map.h"
#include "storage/storage.h"
#include "testkit/blte.h"
#include "testkit/installation.h"
#include "testkit/name_index.h"
#include "testkit/roots.h"

namespace kestrine {
namespace {

using testkit::ConfigFileForm;
using testkit::ConfigFileLayout;

struct NamedConfigFile {
  const char* name;  // in the stand-in root
  ConfigFileLayout layout;
};

std::vector<uint8_t> NameIndexContent() {
  testkit::NameIndex index;
  index.oddLines = testkit::OddNameIndexLines();
  index.paths = {"Unit/Terran/Marine.grp", "sound\\misc\\button.wav"};
  index.lineBreak = "\r\n";
  return testkit::WriteNameIndex(index);
}

std::vector<NamedConfigFile> StoredFiles() {
  return {
      // The "index" name map is the ROOT manifest of such a storage.
      {"index", {"root", NameIndexContent(), ConfigFileForm::kBlteBehindHeader, 0}},
      {"unitterranmarine.grp",
       {"vfs-1", testkit::DataLikeBytes(20000, 1), ConfigFileForm::kBlteBehindHeader, 0}},
      {"soundmiscbutton.wav", {"vfs-2", testkit::DataLikeBytes(7000, 2), ConfigFileForm::kBlte, 1}},
      {"music.wav", {"vfs-3", testkit::DataLikeBytes(30000, 3), ConfigFileForm::kBareZlib, 0x102}},
      {"rez.bin", {"vfs-4", testkit::DataLikeBytes(500, 4), ConfigFileForm::kBlte, 0}},
  };
}

// The root itself stored in each form.
class BuildConfigStorageTest : public ::testing::TestWithParam<ConfigFileForm> {
 protected:
  void SetUp() override {
    testkit::InstallationPlan layout;
    layout.kind = BUILD_CONFIG;
    layout.rootForm = GetParam();
    testkit::PlainTextRoot root;
    for (const NamedConfigFile& file : StoredFiles()) {
      layout.configFiles.push_back(file.layout);
      root.lines.push_back(testkit::RootLine(file.name, ComputeMd5(file.layout.content)));
    }
    layout.rootFile = testkit::WritePlainTextRoot(root);
    installation_ = testkit::WriteInstallation(folder_.path() / "game", layout);
    StorageOpenArgs args{};
    args.size = sizeof(args);
    handle_ = OpenStorage(installation_.root.string().c_str(), &args);
    ASSERT_NE(handle_, nullptr) << GetCascError();
    storage_ = StorageFromHandle(handle_);
  }
  void TearDown() override {
    if (handle_ != nullptr) CloseStorage(handle_);
  }

  std::vector<uint8_t> ReadByName(const char* name) {
    FileHandle file = nullptr;
    EXPECT_TRUE(OpenFileByName(handle_, name, &file)) << name << ": " << GetCascError();
    if (file == nullptr) return {};
    uint64_t size = 0;
    EXPECT_EQ(GetFileContentSize(file, &size), kErrorSuccess);
    std::vector<uint8_t> content(size + 1);
    uint32_t count = 0;
    EXPECT_TRUE(ReadOpenFile(file, content.data(), static_cast<uint32_t>(content.size()), &count))
        << name << ": " << GetCascError();
    content.resize(count);
    CloseFile(file);
    return content;
  }

  testkit::TempFolder folder_;
  testkit::Installation installation_;
  StorageHandle handle_ = nullptr;
  TCascStorage* storage_ = nullptr;
};

TEST_P(BuildConfigStorageTest, EveryStoredFormReadsBackByName) {
  const auto written = installation_.configFiles;
  ASSERT_EQ(written.size(), StoredFiles().size());
  EXPECT_TRUE(std::filesystem::exists(installation_.dataDirectory / "01-00000002.data"));
  for (const NamedConfigFile& file : StoredFiles()) {
    SCOPED_TRACE(file.name);
    EXPECT_TRUE(ReadByName(file.name) == file.layout.content);
  }
  // Located by all sixteen EKey bytes; the bare zlib stream is marked so.
  for (const testkit::ConfigFile& file : written) {
    const ContentEntry* entry = storage_->contents.FindByEKey(file.ekey.data());
    ASSERT_NE(entry, nullptr) << file.key;
    EXPECT_EQ(entry->storageOffset, testkit::ConfigStorageOffset(file.archive, file.offset));
    EXPECT_EQ((entry->flags & EF_BARE_ZLIB) != 0, file.form == ConfigFileForm::kBareZlib);
  }
  const ContentEntry* root = storage_->contents.FindByCKey(storage_->vfsRootEntry.ckey.data());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ((root->flags & EF_BARE_ZLIB) != 0, GetParam() == ConfigFileForm::kBareZlib);
}

// After the root step: the manifests get their names (the ROOT manifest is
// the "index" file here) and the count of entries is kept.
TEST_P(BuildConfigStorageTest, TheOpenNamesTheManifestsBehindTheRoot) {
  ContentEntry* index = storage_->root->LookupName(storage_, "index");
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(storage_->root->LookupName(storage_, "ROOT"), index);
  EXPECT_NE(index->flags & EF_MANIFEST, 0);
  EXPECT_EQ(storage_->entriesAtEnd, storage_->contents.size());
  EXPECT_TRUE(ReadByName("ROOT") == NameIndexContent());
}

TEST_P(BuildConfigStorageTest, TheIndexOfTheRootManifestBuildsTheNameMap) {
  ContentEntry* index = storage_->root->LookupName(storage_, "index");
  ASSERT_NE(index, nullptr);
  TvfsNameMap map;
  ASSERT_TRUE(LoadStorageNameMap(*storage_, index, map));
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(map.Translate("unitterranmarine.grp"), "Unit/Terran/Marine.grp");
  EXPECT_EQ(map.Translate("SOUND/MISC/BUTTON.WAV"), "sound\\misc\\button.wav");
  EXPECT_EQ(map.Translate("rez.bin"), "rez.bin");

  // Another file as "index", or a ROOT manifest without CKey: no map.
  EXPECT_FALSE(LoadStorageNameMap(*storage_, storage_->root->LookupName(storage_, "rez.bin"), map));
  EXPECT_TRUE(map.empty());
  EXPECT_FALSE(LoadStorageNameMap(*storage_, nullptr, map));
  storage_->rootEntry.flags &= ~EF_CKEY;
  EXPECT_FALSE(LoadStorageNameMap(*storage_, index, map));
  EXPECT_TRUE(map.empty());
}

INSTANTIATE_TEST_SUITE_P(RootForms, BuildConfigStorageTest,
                         ::testing::Values(ConfigFileForm::kBlte, ConfigFileForm::kBlteBehindHeader,
                                           ConfigFileForm::kBareZlib));

// Such a storage has no INSTALL fallback: a root no loader takes fails the
// open, although the configuration names an INSTALL manifest.
TEST(BuildConfigOpenTest, ARootInNoKnownFormatFailsTheOpen) {
  testkit::TempFolder folder;
  testkit::InstallationPlan layout;
  layout.kind = BUILD_CONFIG;
  testkit::InstallManifest install;
  install.entries.push_back({"unit/a.grp", ComputeMd5(testkit::DataLikeBytes(100, 1)), 100});
  layout.configFiles = {{"install", testkit::WriteInstallManifest(install)},
                        {"vfs-1", testkit::DataLikeBytes(100, 1)}};
  layout.rootFile = std::vector<uint8_t>(64, 0xEE);
  const testkit::Installation installation = testkit::WriteInstallation(folder.path(), layout);
  StorageOpenArgs args{};
  args.size = sizeof(args);
  StorageHandle handle = OpenStorage(installation.root.string().c_str(), &args);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(GetCascError(), kErrorBadFormat);
  if (handle != nullptr) CloseStorage(handle);
}

}  // namespace
}  // namespace kestrine

// Opening whole installations written by testkit: the build file search, the
// folders, the build information and configuration, and the local index.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/hex_key.h"
#include "kestrine.h"
#include "storage/index_files.h"
#include "storage/load_storage.h"
#include "storage/storage.h"
#include "testkit/installation.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using testkit::EncodedFile;
using testkit::Installation;
using testkit::InstallationPlan;
using testkit::KeyFromSeed;
using testkit::KeyText;
using testkit::ProductRow;
using testkit::TempFolder;

// The internal form of an OS path, as the storage keeps it.
std::string Internal(const fs::path& path) {
  std::string text = path.string();
  for (char& c : text) c = c == '/' ? '\\' : c;
  return text;
}

std::vector<EncodedFile> SomeFiles(uint32_t count) {
  std::vector<EncodedFile> files;
  for (uint32_t i = 0; i < count; ++i) {
    files.push_back(
        {KeyFromSeed(1000 + i), std::vector<uint8_t>(100 + i, static_cast<uint8_t>(i))});
  }
  return files;
}

// An open storage, closed at the end of the test.
class OpenedStorage {
 public:
  explicit OpenedStorage(const std::string& parameters, StorageOpenArgs args = DefaultArgs()) {
    handle_ = OpenStorage(parameters.c_str(), &args);
    error_ = GetCascError();
  }
  ~OpenedStorage() {
    if (handle_) CloseStorage(handle_);
  }
  static StorageOpenArgs DefaultArgs() {
    StorageOpenArgs args{};
    args.size = sizeof(args);
    return args;
  }
  TCascStorage* operator->() const { return StorageFromHandle(handle_); }
  TCascStorage* get() const { return StorageFromHandle(handle_); }
  uint32_t error() const { return error_; }

 private:
  StorageHandle handle_ = nullptr;
  uint32_t error_ = 0;
};

// Records what the local index held before the open released it.
class IndexSnapshot {
 public:
  IndexSnapshot() {
    SetLocalIndexHookForTesting([this](TCascStorage& storage) {
      mapSize_ = storage.localIndex->map().size();
      for (const auto& slot : storage.localIndex->slots()) {
        if (!slot.data.empty()) loadedFiles_.push_back(slot.path);
      }
      probe_ = [&storage](const Key16& key) {
        return storage.localIndex->map().Find(key.data()) != nullptr;
      };
      for (const Key16& key : keysToFind_) found_.push_back(probe_(key));
    });
  }
  ~IndexSnapshot() { SetLocalIndexHookForTesting({}); }

  void Expect(const Key16& key) { keysToFind_.push_back(key); }
  size_t mapSize() const { return mapSize_; }
  const std::vector<std::string>& loadedFiles() const { return loadedFiles_; }
  const std::vector<bool>& found() const { return found_; }

 private:
  size_t mapSize_ = 0;
  std::vector<std::string> loadedFiles_;
  std::vector<Key16> keysToFind_;
  std::vector<bool> found_;
  std::function<bool(const Key16&)> probe_;
};

TEST(OpenSequenceTest, BuildInfoInstallationReachesTheIndexWithEveryValue) {
  TempFolder temp;
  InstallationPlan layout;
  layout.products[0].product = "s1";
  layout.products[0].version = "1.23.4.56789";
  layout.products[0].tags = "Windows x86_64 US? deDE speech?:Windows x86_64 US? enUS text?";
  layout.products[0].cdnPath = "tpr/sc1live";
  layout.buildConfig = {{"install", KeyText(KeyFromSeed(2))}, {"install-size", "5000 4000"}};
  layout.files = SomeFiles(40);
  Installation installation = testkit::WriteInstallation(temp.path() / "StarCraft", layout);

  IndexSnapshot index;
  for (const auto& file : layout.files) index.Expect(file.ekey);
  index.Expect(KeyFromSeed(77));
  OpenedStorage storage(installation.root.string());
  ASSERT_NE(storage.get(), nullptr) << storage.error();

  EXPECT_EQ(storage->kind, BUILD_INFO);
  EXPECT_EQ(storage->buildFile, Internal(installation.buildFile));
  EXPECT_EQ(storage->rootPath, Internal(installation.root));
  EXPECT_EQ(storage->dataPath, Internal(installation.root / "data"));  // "Data" on disk
  EXPECT_EQ(storage->configPath, Internal(installation.root / "data" / "config"));
  EXPECT_EQ(storage->archivePath, Internal(installation.root / "data" / "data"));
  EXPECT_TRUE(storage->features & STF_DATA_DIRS);
  ASSERT_EQ(storage->buildConfigKey.size(), 1u);
  EXPECT_EQ(storage->buildConfigKey[0], installation.buildKey);
  ASSERT_EQ(storage->cdnConfigKey.size(), 1u);
  EXPECT_EQ(storage->cdnConfigKey[0], installation.cdnKey);
  EXPECT_EQ(storage->localeMask, 0x22u);
  EXPECT_EQ(storage->buildNumber, 56789u);
  EXPECT_EQ(storage->cdnPath, "tpr/sc1live");
  EXPECT_EQ(storage->productCode, "sc1live")
      << "named after the CDN path when nothing else names it";
  EXPECT_EQ(storage->rootEntry.ckey, installation.rootFile->ckey);
  EXPECT_EQ(storage->installEntry.contentSize, 5000u);
  EXPECT_EQ(storage->encodingEntry.ekey, installation.encodingFile->ekey);
  EXPECT_EQ(storage->archives, installation.cdnArchives);  // the CDN configuration was read too
  EXPECT_EQ(storage->archiveOffsetBits, 30u);
  EXPECT_EQ(storage->locationPosition, 9u);

  EXPECT_EQ(index.loadedFiles().size(), 16u);
  EXPECT_EQ(index.mapSize(), 42u) << "the files, the ENCODING manifest and the root";
  std::vector<bool> expected(40, true);
  expected.push_back(false);
  EXPECT_EQ(index.found(), expected);
  EXPECT_EQ(storage->localIndex, nullptr) << "the index is released at the end of the open";
  EXPECT_EQ(storage->openArgs, nullptr);
}

TEST(OpenSequenceTest, BuildDbInstallation) {
  TempFolder temp;
  InstallationPlan layout;
  layout.kind = BUILD_DB;
  layout.buildDbTags = "enGB koKR";
  layout.buildConfig = {{"build-name", "B2.0.3.9999"}, {"build-uid", "sc1"}};
  layout.files = SomeFiles(3);
  Installation installation = testkit::WriteInstallation(temp.path() / "inst", layout);

  OpenedStorage storage(installation.root.string());
  ASSERT_NE(storage.get(), nullptr) << storage.error();
  EXPECT_EQ(storage->kind, BUILD_DB);
  EXPECT_EQ(storage->buildConfigKey.at(0), installation.buildKey);
  EXPECT_EQ(storage->cdnConfigKey.at(0), installation.cdnKey);
  EXPECT_EQ(storage->localeMask, 0x204u);
  EXPECT_EQ(storage->buildNumber, 9999u);
  EXPECT_EQ(storage->productCode, "sc1");
}

TEST(OpenSequenceTest, BuildConfigInstallationInsertsItsManifestEntries) {
  TempFolder temp;
  InstallationPlan layout;
  layout.kind = BUILD_CONFIG;
  // The testkit names the VFS root: a CKey, then an EKey whose bytes 9..15
  // hold the location (archive 0, offset 0), the root stored there.
  layout.buildConfig = {{"vfs-2", KeyText(KeyFromSeed(12)) + " " + KeyText(KeyFromSeed(13))},
                        {"root", KeyText(KeyFromSeed(14)) + " " + KeyText(KeyFromSeed(15))}};
  Installation installation = testkit::WriteInstallation(temp.path() / "agent", layout);
  ASSERT_TRUE(installation.rootFile);
  const testkit::WrittenManifest& root = *installation.rootFile;

  OpenedStorage storage(installation.root.string());
  ASSERT_NE(storage.get(), nullptr) << storage.error();
  EXPECT_EQ(storage->kind, BUILD_CONFIG);
  EXPECT_EQ(storage->dataPath, Internal(installation.root / "data"));
  EXPECT_EQ(storage->rootPath, Internal(installation.root));
  EXPECT_EQ(storage->locationPosition, 16u);
  EXPECT_EQ(storage->archiveOffsetBits, 40u);

  ContentEntry* vfsRoot = storage->contents.FindByCKey(root.ckey.data());
  ASSERT_NE(vfsRoot, nullptr);
  EXPECT_EQ(vfsRoot->storageOffset, 0u);
  EXPECT_EQ(vfsRoot->contentSize, root.content.size());
  EXPECT_TRUE(vfsRoot->flags & EF_LOCAL);
  EXPECT_EQ(storage->contents.FindByEKey(root.ekey.data()), vfsRoot) << "keyed by all 16 bytes";
  EXPECT_NE(storage->contents.FindByCKey(KeyFromSeed(12).data()), nullptr) << "VFS array element";
  EXPECT_NE(storage->contents.FindByCKey(KeyFromSeed(14).data()), nullptr);
  // root, VFS root, and the two VFS array elements (the first one zero-filled, keyless).
  EXPECT_EQ(storage->contents.size(), 3u);
}

TEST(OpenSequenceTest, FindsTheBuildFileFromAnyPathInsideTheInstallation) {
  TempFolder temp;
  InstallationPlan layout;
  layout.files = SomeFiles(2);
  Installation installation = testkit::WriteInstallation(temp.path() / "game", layout);
  for (const fs::path& start :
       {installation.root, installation.buildFile, installation.archiveFolder,
        installation.dataDirectory / "config"}) {
    OpenedStorage storage(start.string() + "/");
    ASSERT_NE(storage.get(), nullptr) << start << " error " << storage.error();
    EXPECT_EQ(storage->rootPath, Internal(installation.root)) << start;
  }
  OpenedStorage none((temp.path() / "elsewhere").string());
  EXPECT_EQ(none.get(), nullptr);
  EXPECT_EQ(none.error(), kErrorFileNotFound);
}

TEST(OpenSequenceTest, RelativePathsWalkUpTooAndParametersSelectTheProduct) {
  TempFolder temp;
  InstallationPlan layout;
  ProductRow first, second;
  first.product = "s1";
  first.version = "1.0.0.100";
  second.product = "s2";
  second.version = "2.0.0.200";
  layout.products = {first, second};
  layout.files = SomeFiles(2);
  Installation installation = testkit::WriteInstallation(temp.path() / "part-1", layout);

  fs::path previous = fs::current_path();
  fs::current_path(temp.path());
  OpenedStorage storage("part-1/Data*S2");
  fs::current_path(previous);
  ASSERT_NE(storage.get(), nullptr) << storage.error();
  EXPECT_EQ(storage->productCode, "S2");
  EXPECT_EQ(storage->buildNumber, 200u);
}

TEST(OpenSequenceTest, WindowsCasedInstallationOpens) {
  TempFolder temp;
  InstallationPlan layout;
  layout.dataDirectory = "DATA";
  layout.upperCaseIndexNames = true;
  layout.files = SomeFiles(5);
  Installation installation = testkit::WriteInstallation(temp.path() / "SC", layout);
  fs::rename(installation.dataDirectory / "config", installation.dataDirectory / "Config");
  fs::rename(installation.archiveFolder, installation.dataDirectory / "Data");

  IndexSnapshot index;
  OpenedStorage storage(installation.root.string());
  ASSERT_NE(storage.get(), nullptr) << storage.error();
  EXPECT_EQ(index.mapSize(), 7u) << "the files, the ENCODING manifest and the root";
}

TEST(OpenSequenceTest, BuildInfoWinsOverBuildDbInOneFolder) {
  TempFolder temp;
  InstallationPlan layout;
  layout.files = SomeFiles(1);
  Installation installation = testkit::WriteInstallation(temp.path() / "both", layout);
  testkit::WriteTextFile(installation.root / ".build.db", "garbage|garbage|enUS\n");
  OpenedStorage storage(installation.root.string());
  ASSERT_NE(storage.get(), nullptr) << storage.error();
  EXPECT_EQ(storage->kind, BUILD_INFO);
}

TEST(OpenSequenceTest, BuildNumberFallsBackToTheInstallSize) {
  TempFolder temp;
  InstallationPlan layout;
  layout.products[0].version = "no digits";
  layout.products[0].cdnPath = "";
  layout.buildConfig = {{"install", KeyText(KeyFromSeed(3))}, {"install-size", "525 500"}};
  layout.files = SomeFiles(1);
  Installation installation = testkit::WriteInstallation(temp.path() / "old", layout);
  OpenedStorage storage(installation.root.string());
  ASSERT_NE(storage.get(), nullptr) << storage.error();
  EXPECT_EQ(storage->buildNumber, 525u + 21742u);
  EXPECT_EQ(storage->productCode, "wow") << "525 + 21742 is the one build known as wow";
}

struct ProgressLog {
  std::vector<std::pair<uint32_t, std::string>> calls;
  size_t cancelAt = SIZE_MAX;
};

bool RecordProgress(void* context, uint32_t stage, const char* name, uint32_t current,
                    uint32_t total) {
  auto* log = static_cast<ProgressLog*>(context);
  log->calls.emplace_back(stage, std::string(name ? name : "") + " " + std::to_string(current) +
                                     "/" + std::to_string(total));
  return log->calls.size() - 1 == log->cancelAt;
}

TEST(OpenSequenceTest, ReportsProgressAndCancelsAtEveryStage) {
  TempFolder temp;
  InstallationPlan layout;
  layout.files = SomeFiles(2);
  Installation installation = testkit::WriteInstallation(temp.path() / "p", layout);

  ProgressLog log;
  StorageOpenArgs args = OpenedStorage::DefaultArgs();
  args.progressCallback = RecordProgress;
  args.progressContext = &log;
  {
    OpenedStorage storage(installation.root.string(), args);
    ASSERT_NE(storage.get(), nullptr) << storage.error();
  }
  std::vector<std::pair<uint32_t, std::string>> expected = {
      {0, "CDN config 0/0"}, {0, "CDN build 0/0"}, {3, " 0/0"}};
  for (int i = 0; i < 16; ++i) expected.emplace_back(3, " " + std::to_string(i) + "/16");
  expected.emplace_back(1, "ENCODING 0/0");
  expected.emplace_back(1, "DOWNLOAD 0/0");
  expected.emplace_back(1, "ROOT 0/0");
  EXPECT_EQ(log.calls, expected);

  // A cancel of the CDN configuration counts only for online storages.
  for (size_t stage = 0; stage < expected.size(); ++stage) {
    ProgressLog cancelling;
    cancelling.cancelAt = stage;
    args.progressContext = &cancelling;
    OpenedStorage storage(installation.root.string(), args);
    if (stage == 0) {
      EXPECT_NE(storage.get(), nullptr);
    } else {
      EXPECT_EQ(storage.get(), nullptr) << stage;
      EXPECT_EQ(storage.error(), kErrorCancelled) << stage;
    }
  }
}

bool ChooseSecond(void* context, const char** products, uint64_t count, uint64_t* selected) {
  auto* offered = static_cast<std::vector<std::string>*>(context);
  offered->assign(products, products + count);
  *selected = 1;
  return true;
}

TEST(OpenSequenceTest, ProductCallbackChoosesAmongActiveProducts) {
  TempFolder temp;
  InstallationPlan layout;
  ProductRow a, b, inactive;
  a.product = "s1";
  b.product = "s2";
  b.version = "9.9.9.4321";
  inactive.product = "old";
  inactive.active = false;
  layout.products = {a, inactive, b};
  layout.files = SomeFiles(1);
  Installation installation = testkit::WriteInstallation(temp.path() / "multi", layout);

  std::vector<std::string> offered;
  StorageOpenArgs args = OpenedStorage::DefaultArgs();
  args.productCallback = ChooseSecond;
  args.productContext = &offered;
  OpenedStorage storage(installation.root.string(), args);
  ASSERT_NE(storage.get(), nullptr) << storage.error();
  EXPECT_EQ(offered, (std::vector<std::string>{"s1", "s2"}));
  EXPECT_EQ(storage->productCode, "s2");
  EXPECT_EQ(storage->buildNumber, 4321u);
}

TEST(OpenSequenceTest, FailuresOfTheBuildFilesReachTheCaller) {
  TempFolder temp;
  InstallationPlan layout;
  layout.files = SomeFiles(1);

  Installation inactive = [&] {
    InstallationPlan only = layout;
    only.products[0].active = false;
    return testkit::WriteInstallation(temp.path() / "inactive", only);
  }();
  EXPECT_EQ(OpenedStorage(inactive.root.string()).error(), kErrorFileNotFound);

  Installation shortKey = [&] {
    InstallationPlan broken = layout;
    broken.products[0].buildKey = std::string(31, 'a');
    return testkit::WriteInstallation(temp.path() / "short", broken);
  }();
  EXPECT_EQ(OpenedStorage(shortKey.root.string()).error(), kErrorBadFormat);

  Installation altered = testkit::WriteInstallation(temp.path() / "altered", layout);
  fs::path config = testkit::ConfigFilePath(altered.dataDirectory, altered.buildKey);
  std::ofstream(config, std::ios::app) << "# edited\n";
  EXPECT_EQ(OpenedStorage(altered.root.string()).error(), kErrorFileCorrupt);

  Installation missing = testkit::WriteInstallation(temp.path() / "missing", layout);
  fs::remove(testkit::ConfigFilePath(missing.dataDirectory, missing.buildKey));
  EXPECT_EQ(OpenedStorage(missing.root.string()).error(), kErrorFileNotFound);

  Installation noIndex = testkit::WriteInstallation(temp.path() / "noindex", layout);
  for (const auto& entry : fs::directory_iterator(noIndex.archiveFolder)) {
    if (entry.path().extension() == ".idx") fs::remove(entry.path());
  }
  EXPECT_EQ(OpenedStorage(noIndex.root.string()).error(), kErrorFileNotFound);
}

TEST(OpenSequenceTest, StorageLivesUntilItsLastReference) {
  TempFolder temp;
  InstallationPlan layout;
  layout.files = SomeFiles(1);
  Installation installation = testkit::WriteInstallation(temp.path() / "ref", layout);
  StorageOpenArgs args = OpenedStorage::DefaultArgs();
  StorageHandle handle = OpenStorage(installation.root.string().c_str(), &args);
  ASSERT_NE(handle, nullptr);
  TCascStorage* storage = AcquireStorage(StorageFromHandle(handle));
  EXPECT_TRUE(CloseStorage(handle));
  EXPECT_EQ(storage->refCount.load(), 1u);
  EXPECT_EQ(std::string(storage->signature, 8), "CASCSTOR");
  ReleaseStorage(storage);
}

}  // namespace
}  // namespace kestrine

// The open's root step over installations on disk: the names a storage lists
// after OpenStorage come from its plain-text root or, when no root loader
// takes the root, from its INSTALL manifest, and the manifests themselves
// are listed under their own names and read back by them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kestrine.h"
#include "testkit/build_files.h"
#include "testkit/demo_installation.h"
#include "testkit/installation.h"
#include "testkit/roots.h"
#include "tests/storage/opened_storage.h"

namespace kestrine {
namespace {

using test::OpenedStorage;

using testkit::StoredFile;

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// Every name a search with "*" reports as a full name, sorted.
std::vector<std::string> ListedNames(StorageHandle storage) {
  std::vector<std::string> names;
  SearchResult result{};
  SearchHandle search = SearchFirst(storage, "*", &result, nullptr);
  if (search == nullptr) return names;
  do {
    if (result.nameType == kNameFull) names.push_back(result.fileName);
  } while (SearchNext(search, &result));
  SearchClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<uint8_t> ReadByName(StorageHandle storage, const std::string& name) {
  FileHandle file = nullptr;
  if (!OpenFileByName(storage, name.c_str(), &file)) return {};
  uint64_t size = 0;
  std::vector<uint8_t> content;
  if (GetFileContentSize(file, &size) == 0) {
    content.resize(size);
    uint32_t read = 0;
    if (!ReadOpenFile(file, content.data(), static_cast<uint32_t>(size), &read)) content.clear();
  }
  CloseFile(file);
  return content;
}

// Three stored files, named by a plain-text root with "/" and "\" separators
// and by an INSTALL manifest that the build configuration names.
struct Game {
  testkit::InstallationPlan layout;
  testkit::PlainTextRoot root;
  std::vector<uint8_t> install;
  std::vector<StoredFile> files;

  Game() {
    const char* names[] = {"SD/Arr/Units.dat", "SD\\Unit\\Marine.grp", "Readme.txt"};
    testkit::InstallManifest manifest;
    for (uint32_t i = 0; i < 3; ++i) {
      files.push_back(testkit::EncodeDemoContent(testkit::DataLikeBytes(3000 + i, i), false, i));
      testkit::AddNamedFile(layout, root, names[i], files[i]);
      manifest.entries.push_back({std::string("Setup/") + char('a' + i) + ".bin", files[i].ckey});
    }
    install = testkit::WriteInstallManifest(manifest);
    StoredFile stored = testkit::EncodeDemoContent(install, false, 1);
    testkit::PlainTextRoot unused;
    testkit::AddNamedFile(layout, unused, "", stored);
    layout.buildConfig = {
        {"install", testkit::KeyText(stored.ckey) + " " + testkit::KeyText(stored.ekey)}};
    layout.download = testkit::DownloadManifest{};
  }
};

TEST(RootOpenTest, PlainTextRootNamesTheFilesAndTheManifestsAreNamed) {
  testkit::TempFolder temp;
  Game game;
  game.layout.rootFile = testkit::WritePlainTextRoot(game.root);
  testkit::Installation installation =
      testkit::WriteInstallation(temp.path() / "game", game.layout);

  OpenedStorage storage(installation);
  ASSERT_NE(storage.handle(), nullptr) << storage.error();
  EXPECT_EQ(ListedNames(storage.handle()),
            (std::vector<std::string>{"DOWNLOAD", "ENCODING", "INSTALL", "ROOT", "Readme.txt",
                                      "SD\\Arr\\Units.dat", "SD\\Unit\\Marine.grp"}));
  EXPECT_EQ(ReadByName(storage.handle(), "sd/arr/units.dat"), game.files[0].content);
  EXPECT_EQ(ReadByName(storage.handle(), "ENCODING"), installation.encodingFile->content);
  EXPECT_EQ(ReadByName(storage.handle(), "DOWNLOAD"), installation.downloadFile->content);
  EXPECT_EQ(ReadByName(storage.handle(), "ROOT"), installation.rootFile->content);
  EXPECT_EQ(ReadByName(storage.handle(), "INSTALL"), game.install);
}

// A root no loader takes, or one too short to be any root, gives way to the
// INSTALL manifest; the root is still listed as "ROOT".
TEST(RootOpenTest, InstallManifestNamesTheFilesOfARootNoLoaderTakes) {
  testkit::TempFolder temp;
  Game plain;
  std::vector<uint8_t> shortRoot = testkit::WritePlainTextRoot(plain.root);
  shortRoot.resize(32);
  const std::vector<std::vector<uint8_t>> roots = {
      Bytes("a root in no format that any of the loaders knows\n"), shortRoot,
      Bytes("TVFS and nothing that a TVFS root would hold")};
  for (size_t i = 0; i < roots.size(); ++i) {
    SCOPED_TRACE(i);
    Game game;
    game.layout.rootFile = roots[i];
    auto installation =
        testkit::WriteInstallation(temp.path() / ("game" + std::to_string(i)), game.layout);

    OpenedStorage storage(installation);
    ASSERT_NE(storage.handle(), nullptr) << storage.error();
    EXPECT_EQ(ListedNames(storage.handle()),
              (std::vector<std::string>{"DOWNLOAD", "ENCODING", "INSTALL", "ROOT", "Setup\\a.bin",
                                        "Setup\\b.bin", "Setup\\c.bin"}));
    EXPECT_EQ(ReadByName(storage.handle(), "Setup/c.bin"), game.files[2].content);
    EXPECT_EQ(ReadByName(storage.handle(), "ROOT"), roots[i]);
  }
}

}  // namespace
}  // namespace kestrine

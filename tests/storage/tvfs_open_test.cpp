// Storages whose root is TVFS, written to disk and opened: the files read
// back through their names (one span and several, EKeys the ENCODING
// manifest does not list, 9- and 16-byte EKeys, a nested directory), and the
// root loaded again when the first one meets a name of key form.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "encoded/open_file.h"
#include "kestrine.h"
#include "testkit/demo_installation.h"
#include "testkit/index_files.h"
#include "testkit/installation.h"
#include "testkit/tvfs.h"
#include "tests/storage/opened_storage.h"

namespace kestrine {
namespace {

using test::OpenedStorage;

using testkit::StoredFile;
using testkit::TvfsFile;

struct TvfsGame {
  testkit::InstallationPlan layout;
  testkit::TvfsRoot root;
  std::map<std::string, std::vector<uint8_t>> contents;
  uint32_t seed = 1;

  StoredFile Encode(std::vector<uint8_t> content) {
    return testkit::EncodeDemoContent(std::move(content), false, seed++);
  }
  void Add(const std::string& name, size_t size, bool listed = true) {
    StoredFile file = Encode(testkit::DataLikeBytes(size, seed));
    root.files.push_back({name, {testkit::StoreTvfsSpan(layout, file, listed)}});
    contents[name] = file.content;
  }
  void AddSpanned(const std::string& name, std::vector<StoredFile> spans) {
    TvfsFile file{name, {}};
    for (const StoredFile& span : spans) {
      file.spans.push_back(testkit::StoreTvfsSpan(layout, span));
      contents[name].insert(contents[name].end(), span.content.begin(), span.content.end());
    }
    root.files.push_back(file);
  }
};

std::vector<StoredFile> ThreeSpans(TvfsGame& game) {
  return {game.Encode(testkit::DataLikeBytes(70000, 11)),
          game.Encode(testkit::DataLikeBytes(5, 12)),
          game.Encode(testkit::DataLikeBytes(30000, 13))};
}

TEST(TvfsOpenTest, EveryKindOfFileReadsBackByName) {
  for (uint8_t ekeySize : {9, 16}) {
    SCOPED_TRACE(int{ekeySize});
    testkit::TempFolder temp;
    TvfsGame game;
    game.root.ekeySize = ekeySize;
    game.Add("SD/Unit/Terran/Marine.grp", 9000);
    game.Add("SD/Unit/Terran/Medic.grp", 100);
    game.Add("SD/Unlisted.bin", 3000, false);
    game.Add("SD/" + std::string(120, 'd') + "/" + std::string(100, 'f') + ".txt", 50);
    game.AddSpanned("SD/Music/Long.ogg", ThreeSpans(game));

    testkit::TvfsRoot inner;
    inner.ekeySize = ekeySize;
    StoredFile nestedFile = game.Encode(testkit::DataLikeBytes(700, 20));
    inner.files = {{"inner/a.txt", {testkit::StoreTvfsSpan(game.layout, nestedFile)}}};
    game.root.files.push_back(
        {"pack", {testkit::StoreNestedDirectory(game.layout, testkit::WriteTvfs(inner), 1)}});
    // A nested directory without content is an empty container.
    game.root.files.push_back({"empty", {testkit::StoreNestedDirectory(game.layout, {}, 2)}});
    game.layout.rootFile = testkit::WriteTvfs(game.root);
    testkit::Installation installation = testkit::WriteInstallation(temp.path() / "g", game.layout);

    OpenedStorage storage(installation);
    ASSERT_NE(storage.handle(), nullptr) << storage.error();
    for (const auto& [name, content] : game.contents)
      EXPECT_EQ(storage.Read(name), content) << name;
    EXPECT_EQ(storage.Read("pack:inner/a.txt"), nestedFile.content);
    EXPECT_TRUE(storage.Names("pack:"));
    EXPECT_FALSE(storage.Names("pack"));
    EXPECT_TRUE(storage.Names("empty:"));
    EXPECT_FALSE(storage.Names("empty"));
  }
}

// A nested directory that names itself (its EKey chosen, not its MD5) is
// mounted once; inside itself it is an ordinary file.
TEST(TvfsOpenTest, DirectoryNamingItselfIsMountedOnce) {
  testkit::TempFolder temp;
  TvfsGame game;
  const Key16 self = testkit::MakeKey(77);
  testkit::TvfsRoot inner;
  inner.files = {{"self", {{self, 0, 0}}}};
  const size_t size = testkit::WriteTvfs(inner).size();
  inner.files[0].spans[0].contentSize = static_cast<uint32_t>(size);
  testkit::WrittenManifest directory = testkit::EncodeManifest(testkit::WriteTvfs(inner));
  game.layout.files.push_back({self, directory.encoded});
  game.layout.encoding.entries.push_back({directory.ckey, size, {self}});
  game.layout.buildConfig = {
      {"vfs-1", testkit::KeyText(directory.ckey) + " " + testkit::KeyText(self)},
      {"vfs-1-size", std::to_string(size) + " " + std::to_string(directory.encoded.size())}};
  game.root.files = {{"pack", {{self, static_cast<uint32_t>(size), 0}}}};
  game.layout.rootFile = testkit::WriteTvfs(game.root);
  testkit::Installation installation = testkit::WriteInstallation(temp.path() / "g", game.layout);

  OpenedStorage storage(installation);
  ASSERT_NE(storage.handle(), nullptr) << storage.error();
  EXPECT_TRUE(storage.Names("pack:"));
  EXPECT_EQ(storage.Read("pack:self"), directory.content);
  EXPECT_FALSE(storage.Names("pack:self:"));
}

// Read whole, a file of three spans whose second one is damaged gives its
// first span's bytes and nothing of the third.
TEST(TvfsOpenTest, WholeFileReadStopsAtTheFirstFailingSpan) {
  testkit::TempFolder temp;
  TvfsGame game;
  std::vector<StoredFile> spans = ThreeSpans(game);
  testkit::BltePlan damaged;
  damaged.frames = testkit::SplitFrames(4000, 4000);
  damaged.frames[0].md5 = testkit::Md5Fault::kWrong;
  spans[1] = testkit::EncodeFile(testkit::DataLikeBytes(4000, 14), damaged);
  game.AddSpanned("Long.ogg", spans);
  game.layout.rootFile = testkit::WriteTvfs(game.root);
  testkit::Installation installation = testkit::WriteInstallation(temp.path() / "g", game.layout);

  OpenedStorage storage(installation);
  ASSERT_NE(storage.handle(), nullptr) << storage.error();
  FileHandle handle = nullptr;
  ASSERT_TRUE(OpenFileByName(storage.handle(), "Long.ogg", &handle));
  SetReadStrategy(*reinterpret_cast<TCascFile*>(handle), ReadStrategy::kWholeFile);
  const size_t total = game.contents["Long.ogg"].size();
  std::vector<uint8_t> content(total);
  uint32_t read = 0;
  ReadOpenFile(handle, content.data(), static_cast<uint32_t>(total), &read);
  EXPECT_EQ(read, spans[0].content.size());
  content.resize(read);
  EXPECT_EQ(content, spans[0].content);
  CloseFile(handle);
}

// The VFS root names a file of key form: the open loads the ROOT file as
// well, and the names of both roots are listed.
TEST(TvfsOpenTest, KeyFormNameLoadsTheRootAgain) {
  testkit::TempFolder temp;
  TvfsGame game;
  game.Add("early.txt", 300);
  game.Add(testkit::KeyFormName(7), 300);
  game.Add("late.txt", 300);
  testkit::StoreVfsRoot(game.layout, testkit::WriteTvfs(game.root));
  game.root.files.clear();
  game.Add("SD/Main.txt", 400);
  game.AddSpanned("SD/Spanned.bin", ThreeSpans(game));
  game.layout.rootFile = testkit::WriteTvfs(game.root);
  testkit::Installation installation = testkit::WriteInstallation(temp.path() / "g", game.layout);

  OpenedStorage storage(installation);
  ASSERT_NE(storage.handle(), nullptr) << storage.error();
  EXPECT_EQ(storage.Read("early.txt"), game.contents["early.txt"]);
  EXPECT_EQ(storage.Read("SD/Main.txt"), game.contents["SD/Main.txt"]);
  EXPECT_EQ(storage.Read("SD/Spanned.bin"), game.contents["SD/Spanned.bin"]);
  EXPECT_FALSE(storage.Names("late.txt"));
  EXPECT_TRUE(storage.Names("vfs-root"));
}

}  // namespace
}  // namespace kestrine

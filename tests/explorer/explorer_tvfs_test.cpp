// kestrine-casc on a storage with a TVFS root: a nested directory mounted as
// a container, a file of several spans, files the ENCODING manifest does not
// list.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/demo_installation.h"
#include "testkit/installation.h"
#include "testkit/tvfs.h"
#include "tests/explorer/explorer_fixture.h"

namespace kestrine::test {
namespace {

using testkit::StoredFile;

std::string Backslashed(std::string name) {
  for (char& c : name) c = c == '/' ? '\\' : c;
  return name;
}

class ExplorerTvfsTest : public ExplorerTest {
 protected:
  StoredFile Encode(size_t size) {
    const uint32_t seed = seed_++;
    return testkit::EncodeDemoContent(testkit::DataLikeBytes(size, seed), false, seed);
  }
  void Add(const std::string& name, size_t size, bool listed = true) {
    StoredFile file = Encode(size);
    root_.files.push_back({name, {testkit::StoreTvfsSpan(layout_, file, listed)}});
    contents_[name] = Text(file.content);
    listed_.push_back({Backslashed(name), size, kNameFull});
  }
  void AddSpanned(const std::string& name, const std::vector<size_t>& sizes) {
    testkit::TvfsFile file{name, {}};
    for (size_t size : sizes) {
      StoredFile span = Encode(size);
      file.spans.push_back(testkit::StoreTvfsSpan(layout_, span));
      contents_[name] += Text(span.content);
    }
    root_.files.push_back(file);
    listed_.push_back({Backslashed(name), contents_[name].size(), kNameFull});
  }
  // "pack" holds a TVFS directory of its own, mounted as "pack:".
  void AddNestedDirectory() {
    testkit::TvfsRoot inner;
    StoredFile file = Encode(700);
    inner.files = {{"inner/a.txt", {testkit::StoreTvfsSpan(layout_, file)}}};
    nestedDirectory_ = testkit::WriteTvfs(inner);
    root_.files.push_back({"pack", {testkit::StoreNestedDirectory(layout_, nestedDirectory_, 1)}});
    contents_["pack:inner/a.txt"] = Text(file.content);
    listed_.push_back({"pack:", nestedDirectory_.size(), kNameFull});
    listed_.push_back({"pack:inner\\a.txt", file.content.size(), kNameFull});
  }
  void SetUp() override {
    // In path order, so that the prefix tree keeps the order given.
    Add("SD/Music/Title.ogg", 200000);
    AddSpanned("SD/Music/Zerg.ogg", {70000, 5, 30000});
    Add("SD/Unit/Marine.grp", 9000);
    Add("SD/Unlisted.bin", 3000, false);
    AddNestedDirectory();
    layout_.rootFile = testkit::WriteTvfs(root_);
    installation_ = testkit::WriteInstallation(Path("game"), layout_);
    storage_ = installation_.root.string();
    listed_.push_back({"ENCODING", installation_.encodingFile->content.size(), kNameFull});
    listed_.push_back({"ROOT", installation_.rootFile->content.size(), kNameFull});
  }

  std::vector<Listed> listed_;  // what `list` prints, in order
  testkit::InstallationPlan layout_;
  testkit::TvfsRoot root_;
  std::map<std::string, std::string> contents_;
  std::vector<uint8_t> nestedDirectory_;
  testkit::Installation installation_;
  std::string storage_;
  uint32_t seed_ = 1;
};

TEST_F(ExplorerTvfsTest, ListAndCatEveryKindOfFile) {
  const ExplorerRun run = Run({"list", storage_});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, ListText(listed_));
  EXPECT_EQ(Run({"list", storage_, "pack:*"}).out, ListText({listed_[4], listed_[5]}));
  EXPECT_EQ(Run({"list", storage_, "sd\\music\\*.OGG"}).out, ListText({listed_[0], listed_[1]}));
  EXPECT_EQ(Run({"cat", storage_, "pack:"}).out, Text(nestedDirectory_));
  for (const auto& [name, content] : contents_) {
    const ExplorerRun cat = Run({"cat", storage_, name});
    EXPECT_EQ(cat.exitCode, 0) << name << cat.err;
    EXPECT_EQ(cat.out, content) << name;
  }
}

// A container becomes a folder holding its files; its own bytes, the
// nested directory, are not written.
TEST_F(ExplorerTvfsTest, ExtractTurnsContainersIntoFolders) {
  const std::filesystem::path out = Path("out");
  const ExplorerRun run = Run({"extract", storage_, "*", out.string()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  uint64_t bytes =
      installation_.encodingFile->content.size() + installation_.rootFile->content.size();
  for (const auto& [name, content] : contents_) {
    std::string path = name;
    std::replace(path.begin(), path.end(), ':', '/');
    std::ifstream in(out / path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content) << path;
    bytes += content.size();
  }
  char summary[64];
  std::snprintf(summary, sizeof summary, "Extracted %zu files, %.1f MiB\n", contents_.size() + 2,
                bytes / (1024.0 * 1024.0));
  EXPECT_EQ(run.out, summary);
  EXPECT_TRUE(std::filesystem::is_directory(out / "pack"));
}

}  // namespace
}  // namespace kestrine::test

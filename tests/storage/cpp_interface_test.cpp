// kestrine.hpp over a written installation: the owners, the search as a
// range, whole-file reads held against the content key, failures as
// kestrine::Error.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "kestrine.hpp"
#include "testkit/build_files.h"
#include "testkit/demo_installation.h"

namespace kestrine {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

class CppInterfaceTest : public testing::Test {
 protected:
  void SetUp() override {
    layout_.products[0].product = "s1";
    layout_.products[0].version = "1.23.10.12345";
    layout_.products[0].cdnPath = "tpr/sc1live";
  }
  // Stores `content` under `name`; `wrongKey`: the storage learns a content
  // key that is not the content's MD5.
  void Add(const std::string& name, std::vector<uint8_t> content, bool wrongKey = false) {
    testkit::StoredFile file = testkit::EncodeDemoContent(std::move(content), false, seed_++);
    if (wrongKey) file.ckey[0] ^= 0xFF;
    testkit::AddNamedFile(layout_, root_, name, file);
  }
  Storage Write() {
    layout_.rootFile = testkit::WritePlainTextRoot(root_);
    testkit::WriteInstallation(folder_.path(), layout_);
    return Storage::open(folder_.path().string());
  }

  testkit::TempFolder folder_;
  testkit::InstallationPlan layout_;
  testkit::PlainTextRoot root_;
  uint32_t seed_ = 1;
};

TEST_F(CppInterfaceTest, SearchesAsARangeAndReadsWholeFiles) {
  Add("SD\\a.txt", Bytes("first"));
  Add("SD\\sub\\b.txt", std::vector<uint8_t>(150000, 'b'));  // several frames
  Add("SD\\c.bin", {});
  const Storage storage = Write();

  std::vector<std::string> names;
  for (const SearchResult& result : storage.search("SD\\*")) {
    names.push_back(result.fileName);
    EXPECT_EQ(std::string(PlainName(result)), names.back().substr(names.back().rfind('\\') + 1));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"SD\\a.txt", "SD\\sub\\b.txt", "SD\\c.bin"}));

  EXPECT_EQ(storage.open_file("SD\\a.txt").read_all(), Bytes("first"));
  File large = storage.open_file("SD\\sub\\b.txt");
  EXPECT_EQ(large.size(), 150000u);
  EXPECT_EQ(large.read_all(), std::vector<uint8_t>(150000, 'b'));
  EXPECT_TRUE(storage.open_file("SD\\c.bin").read_all().empty());

  int matches = 0;
  for ([[maybe_unused]] const SearchResult& result : storage.search("*.none")) ++matches;
  EXPECT_EQ(matches, 0) << "nothing matching is an empty range, not a failure";
  EXPECT_EQ(storage.info().rootFormat, kRootPlainText);
}

TEST_F(CppInterfaceTest, FailuresThrowTheNumberAndItsWords) {
  Add("SD\\a.txt", Bytes("first"));
  const Storage storage = Write();
  try {
    storage.open_file("SD\\missing.txt");
    FAIL() << "opened a missing file";
  } catch (const Error& failure) {
    EXPECT_EQ(failure.code(), kErrorFileNotFound);
    EXPECT_STREQ(failure.what(), "error 2 (file not found)");
  }
  const testkit::TempFolder nothing;  // no build file here or above
  EXPECT_THROW(Storage::open(nothing.path().string()), Error);
  const Storage empty;
  try {
    empty.search("*");
    FAIL() << "searched without a storage";
  } catch (const Error& failure) {
    EXPECT_EQ(failure.code(), kErrorInvalidParameter);
  }
}

TEST_F(CppInterfaceTest, ReadAllHoldsTheBytesAgainstTheContentKey) {
  Add("SD\\good.txt", Bytes("good"));
  Add("SD\\bad.txt", Bytes("content the key does not name"), /*wrongKey=*/true);
  const Storage storage = Write();
  EXPECT_EQ(storage.open_file("SD\\good.txt").read_all(), Bytes("good"));
  File bad = storage.open_file("SD\\bad.txt");
  ASSERT_TRUE(bad.content_key().has_value());
  try {
    bad.read_all();
    FAIL() << "read content that is not the key's";
  } catch (const Error& failure) {
    EXPECT_EQ(failure.code(), kErrorFileCorrupt);
  }
}

TEST_F(CppInterfaceTest, OwnersMoveAndSearchesAndFilesOutliveTheStorageOwner) {
  Add("SD\\a.txt", Bytes("first"));
  Add("SD\\b.txt", Bytes("second"));
  Storage storage = Write();
  Storage moved = std::move(storage);
  EXPECT_FALSE(storage);  // NOLINT(bugprone-use-after-move): moved-from owners are empty
  ASSERT_TRUE(moved);

  Search search = moved.search("SD\\*");
  File file = moved.open_file("SD\\b.txt");
  moved.reset();  // the search and the file hold their own references
  std::vector<std::string> names;
  for (const SearchResult& result : search) names.push_back(result.fileName);
  EXPECT_EQ(names, (std::vector<std::string>{"SD\\a.txt", "SD\\b.txt"}));
  EXPECT_EQ(file.read_all(), Bytes("second"));

  KestrineFile* handle = file.release();
  EXPECT_FALSE(file);
  EXPECT_TRUE(CloseFile(handle)) << "release gives the handle up unclosed";
}

}  // namespace
}  // namespace kestrine

#include "roots/plain_text_root.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "roots/root_loaders.h"
#include "testkit/index_files.h"
#include "testkit/roots.h"

namespace kestrine {
namespace {

using testkit::MakeKey;
using testkit::PlainTextRoot;
using testkit::RootLine;

class PlainTextRootTest : public ::testing::Test {
 protected:
  PlainTextRootTest() : storage_(testkit::MakeMemoryStorage()) {
    for (uint32_t seed = 1; seed <= 8; ++seed) testkit::AddContentEntry(*storage_, seed);
  }

  uint32_t Load(const PlainTextRoot& root) {
    const std::vector<uint8_t> bytes = testkit::WritePlainTextRoot(root);
    return LoadPlainTextRoot(*storage_, bytes, 0);
  }
  uint32_t LoadText(const std::string& text) {
    return LoadPlainTextRoot(*storage_,
                             {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, 0);
  }
  ContentEntry* Lookup(const char* name) {
    return storage_->root->LookupName(storage_.get(), name);
  }
  ContentEntry* Entry(uint32_t seed) { return storage_->contents.FindByCKey(MakeKey(seed).data()); }
  TFileTreeRoot& Root() { return static_cast<TFileTreeRoot&>(*storage_->root); }

  testkit::StorageRef storage_;
};

// Only the first line decides whether the text is a plain-text root.
TEST_F(PlainTextRootTest, FirstLineDecidesTheFormat) {
  const std::string key = FormatHexKey(MakeKey(1));
  const std::string good = "b|" + key + "\n";
  struct Case {
    std::string text;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"a|" + key + "\n" + good, true},
      {"a|" + key + "|x\n", true},
      {"#a|" + key + "\n", true},
      {"a|" + key.substr(1) + "\n" + good, false},  // 31 characters
      {"a|" + key + "0\n" + good, false},           // 33 characters
      {"a|" + key + "|x|y\n" + good, false},        // four fields
      {"a\n" + good, false},
      {std::string(31, '|') + "\n" + good, true},  // a line of 32 fields does not count
      {"", false},
      {"\n\r\n", false},
      {std::string("\0a|", 3) + key, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    storage_->root.reset();
    EXPECT_EQ(IsPlainTextRoot({reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()}),
              c.accepted);
    EXPECT_EQ(LoadText(c.text), c.accepted ? kErrorSuccess : kErrorBadFormat);
    EXPECT_EQ(storage_->root != nullptr, c.accepted);
  }
}

TEST_F(PlainTextRootTest, LineBreaksOfAnyKindReadTheSame) {
  for (const char* lineBreak : {"\n", "\r\n", "\r", "\n\n\r\n\n"}) {
    storage_->root.reset();
    PlainTextRoot root;
    root.lineBreak = lineBreak;
    root.lines = {RootLine("unit/a.grp", MakeKey(1)), RootLine("unit/b.grp", MakeKey(2)),
                  RootLine("c.txt", MakeKey(3))};
    ASSERT_EQ(Load(root), 0u);
    EXPECT_EQ(Lookup("unit\\a.grp"), Entry(1));
    EXPECT_EQ(Lookup("UNIT/B.GRP"), Entry(2));
    EXPECT_EQ(Lookup("c.txt"), Entry(3));
    EXPECT_EQ(Root().tree().fileCount(), 3u);
    EXPECT_EQ(Root().features(), 0x3u);
  }
}

// Lines with unknown or unreadable keys are passed over without a trace; a
// name given twice keeps its first entry; a third field changes nothing.
TEST_F(PlainTextRootTest, OnlyLinesWithKnownKeysEnterNames) {
  PlainTextRoot root;
  root.lines = {
      RootLine("first/a.bin", MakeKey(1), true), RootLine("unknown/b.bin", MakeKey(99)),
      RootLine("bad/c.bin", MakeKey(2)),         RootLine("short/d.bin", MakeKey(3)),
      RootLine("FIRST/A.BIN", MakeKey(4)),       RootLine("third.bin", MakeKey(5)),
      RootLine("long.bin", MakeKey(6)),          {"one field only", "", std::nullopt, {}}};
  root.lines[2].key[7] = 'g';
  root.lines[3].key.pop_back();
  root.lines[5].third = "anything|";
  root.lines[6].key += "ff";  // the first 32 digits count
  ASSERT_EQ(Load(root), 0u);
  EXPECT_EQ(Lookup("first/a.bin"), Entry(1));
  EXPECT_EQ(Entry(1)->refCount, 1u);
  EXPECT_EQ(Entry(4)->refCount, 0u);
  EXPECT_EQ(Lookup("unknown/b.bin"), nullptr);
  EXPECT_EQ(Lookup("bad/c.bin"), nullptr);
  EXPECT_EQ(Lookup("short/d.bin"), nullptr);
  EXPECT_EQ(Lookup("third.bin"), Entry(5));
  EXPECT_EQ(Lookup("long.bin"), Entry(6));
  // Only "first" became a folder: passed-over lines leave none behind.
  EXPECT_EQ(Root().tree().folderCount(), 1u);
  EXPECT_EQ(Root().tree().FindName("unknown"), kNoNode);
}

}  // namespace
}  // namespace kestrine

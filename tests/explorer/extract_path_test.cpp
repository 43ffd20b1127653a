// Where extract writes a storage name, and which names it refuses.
#include "tool/explorer/extract_path.h"

#include <gtest/gtest.h>

namespace kestrine::explorer {
namespace {

using Folders = std::vector<std::string>;

TEST(ExtractPathTest, SeparatorsAndContainersBecomeFolders) {
  auto path = ExtractPathOf("SD\\unit/Terran\\marine.grp", false);
  ASSERT_TRUE(path);
  EXPECT_EQ(path->folders, (Folders{"SD", "unit", "Terran"}));
  EXPECT_EQ(path->file, "marine.grp");

  path = ExtractPathOf("pack:inner/a.txt", false);
  ASSERT_TRUE(path);
  EXPECT_EQ(path->folders, (Folders{"pack", "inner"}));
  EXPECT_EQ(path->file, "a.txt");

  path = ExtractPathOf("pack:", false);  // the container itself: only its folder
  ASSERT_TRUE(path);
  EXPECT_EQ(path->folders, (Folders{"pack"}));
  EXPECT_EQ(path->file, "");

  path = ExtractPathOf("..data", false);  // dots inside a component are fine
  ASSERT_TRUE(path);
  EXPECT_EQ(path->file, "..data");
}

TEST(ExtractPathTest, NamesThatCouldLeaveTheOutputFolderAreRefused) {
  for (const char* name :
       {"..\\..\\x", "/etc/x", "\\etc\\x", "a/../../x", "a\\..", "..", ".", "./x", "a/./x",
        "C:\\Windows\\x", "c:/x", "a//x", "a\\", "a/", "pack:/x", "pack::x", ":x", ""}) {
    EXPECT_FALSE(ExtractPathOf(name, false)) << name;
  }
}

TEST(ExtractPathTest, GeneratedNamesAreWrittenAsTheyAre) {
  auto path = ExtractPathOf("FILE0000007B.dat", true);
  ASSERT_TRUE(path);
  EXPECT_TRUE(path->folders.empty());
  EXPECT_EQ(path->file, "FILE0000007B.dat");
  EXPECT_TRUE(ExtractPathOf("0123456789abcdef0123456789abcdef", true));
  EXPECT_FALSE(ExtractPathOf("..", true));
  EXPECT_FALSE(ExtractPathOf("a/b", true));
}

}  // namespace
}  // namespace kestrine::explorer

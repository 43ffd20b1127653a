#include "common/path_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace kestrine {
namespace {

// A path of `count` components named "dirN", as the builder should produce it.
std::string LongPath(PathBuilder& builder, int count) {
  std::string expected;
  for (int i = 0; i < count; ++i) {
    std::string component = "dir" + std::to_string(i);
    builder.Append(component);
    expected += (i == 0 ? "" : "\\") + component;
  }
  return expected;
}

void ExpectContent(const PathBuilder& builder, const std::string& expected) {
  EXPECT_EQ(builder.view(), expected);
  EXPECT_EQ(builder.str(), expected);
  EXPECT_EQ(builder.size(), expected.size());
  EXPECT_EQ(std::strlen(builder.c_str()), expected.size());  // terminated right after
}

TEST(PathBuilderTest, JoinsComponentsWithBackslashes) {
  PathBuilder builder;
  ExpectContent(builder, "");
  builder.Append("root").Append("Data").Append("data.000");
  ExpectContent(builder, "root\\Data\\data.000");

  builder.AppendRaw(".idx");
  ExpectContent(builder, "root\\Data\\data.000.idx");

  builder.Clear();
  ExpectContent(builder, "");
  builder.Append("again");  // no separator after Clear
  ExpectContent(builder, "again");
}

TEST(PathBuilderTest, NormalisesSeparatorsInsideComponents) {
  PathBuilder builder;
  builder.Append("/storage/root").Append("a/b\\c").AppendRaw("/x\\y");
  ExpectContent(builder, "\\storage\\root\\a\\b\\c\\x\\y");

  EXPECT_EQ(CombinePath({"C:/games", "Data/config", "ab"}), "C:\\games\\Data\\config\\ab");
  EXPECT_EQ(CombinePath({}), "");
}

// Growth past the inline buffer, right at its edge and far beyond it.
TEST(PathBuilderTest, GrowsPastInlineCapacity) {
  for (size_t length : {PathBuilder::kInlineCapacity - 1, PathBuilder::kInlineCapacity,
                        size_t{1000}, size_t{5000}}) {
    PathBuilder builder;
    std::string expected(length, 'x');
    for (size_t i = 0; i < length; i += 97)
      builder.AppendRaw(std::string_view(expected).substr(i, 97));
    ExpectContent(builder, expected);
  }

  PathBuilder builder;
  std::string expected = LongPath(builder, 200);
  ASSERT_GT(expected.size(), 1000u);
  ExpectContent(builder, expected);
}

// Appending the builder's own content, including when that makes it grow.
TEST(PathBuilderTest, AppendsItsOwnView) {
  PathBuilder builder;
  std::string expected = "abc";
  builder.Append(expected);
  for (int i = 0; i < 8; ++i) {
    builder.AppendRaw(builder.view());
    expected += expected;
  }
  ExpectContent(builder, expected);
}

TEST(PathBuilderTest, CopiesAndMovesKeepContent) {
  for (int count : {3, 200}) {  // inline and heap storage
    PathBuilder original;
    const std::string expected = LongPath(original, count);

    PathBuilder copy(original);
    ExpectContent(copy, expected);
    copy.Append("more");  // the copy owns its own buffer
    ExpectContent(original, expected);

    PathBuilder assigned;
    assigned.Append("old content");
    assigned = original;
    ExpectContent(assigned, expected);

    PathBuilder moved(std::move(copy));
    ExpectContent(moved, expected + "\\more");
    ExpectContent(copy, "");  // NOLINT(bugprone-use-after-move): moved-from is empty
    copy.Append("reused");
    ExpectContent(copy, "reused");

    PathBuilder target;
    LongPath(target, 300 - count);  // replaces storage of the other kind
    target = std::move(moved);
    ExpectContent(target, expected + "\\more");
  }
}

}  // namespace
}  // namespace kestrine

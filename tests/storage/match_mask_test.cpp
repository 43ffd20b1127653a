#include "storage/match_mask.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrine {
namespace {

TEST(MatchMaskTest, NullOrEmptyMaskMatchesEveryName) {
  EXPECT_TRUE(MatchMask(nullptr, "a\\b.txt"));
  EXPECT_TRUE(MatchMask("", "a\\b.txt"));
  EXPECT_TRUE(MatchMask(std::string_view(), std::string_view("x")));
  EXPECT_TRUE(MatchMask("*", nullptr));
  EXPECT_FALSE(MatchMask("a", nullptr));
}

TEST(MatchMaskTest, LiteralsCompareWithoutCaseAndSeparatorForm) {
  EXPECT_TRUE(MatchMask("data/Config/ab", "DATA\\config\\AB"));
  EXPECT_TRUE(MatchMask("a\\b", "a/b"));
  EXPECT_FALSE(MatchMask("abc", "abd"));
  // Mask and name must end together.
  EXPECT_FALSE(MatchMask("abc", "ab"));
  EXPECT_FALSE(MatchMask("ab", "abc"));
  // Bytes above 0x7F are not case-folded.
  EXPECT_TRUE(MatchMask("caf\xe9", "CAF\xe9"));
  EXPECT_FALSE(MatchMask("caf\xe9", "caf\xc9"));
}

TEST(MatchMaskTest, QuestionMarkTakesExactlyOneCharacter) {
  EXPECT_TRUE(MatchMask("a?c", "abc"));
  EXPECT_TRUE(MatchMask("a?c", "a/c"));
  EXPECT_FALSE(MatchMask("a?c", "ac"));
  EXPECT_FALSE(MatchMask("a?", "a"));
  EXPECT_FALSE(MatchMask("?", ""));
}

TEST(MatchMaskTest, StarTakesAnyRunWithBacktracking) {
  EXPECT_TRUE(MatchMask("*", ""));
  EXPECT_TRUE(MatchMask("root*", "root"));
  EXPECT_TRUE(MatchMask("root*", "ROOT-size"));
  EXPECT_FALSE(MatchMask("root*", "vfs-root"));
  EXPECT_TRUE(MatchMask("*\\b.txt", "a/x/b.txt"));
  EXPECT_TRUE(MatchMask("a**b", "ab"));
  EXPECT_TRUE(MatchMask("*a*b", "xaxxb"));
  EXPECT_FALSE(MatchMask("*a*b", "xaxxbx"));
  EXPECT_TRUE(MatchMask("*.dat", "x.dat.dat"));
  EXPECT_TRUE(MatchMask("*?", "a"));
  EXPECT_FALSE(MatchMask("a*?", "a"));
  EXPECT_TRUE(MatchMask("*?x*", "abxc"));
}

// A match that tries every split at every star takes exponential time here.
TEST(MatchMaskTest, ManyStarsAgainstLongNamesFinishQuickly) {
  std::string name(20000, 'a');
  EXPECT_FALSE(MatchMask("*a*a*a*a*a*a*a*a*a*a*a*a*b", name));
  EXPECT_TRUE(MatchMask("*a*a*a*a*a*a*a*a*a*a*a*a*", name));
}

}  // namespace
}  // namespace kestrine

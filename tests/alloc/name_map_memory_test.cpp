// The "index" name map out of memory: the build reports 8 and leaves no map,
// whichever of its allocations fails, and a look-up allocates nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrine.h"
#include "roots/tvfs_name_map.h"
#include "tests/alloc/counting_allocator.h"

namespace kestrine {
namespace {

std::vector<uint8_t> IndexText(size_t count) {
  std::string text = "no bar\r\n|bar first\n";
  for (size_t i = 0; i < count; ++i) {
    text += "some/rather/long/folder/name/file" + std::to_string(i) + ".dat|" + std::to_string(i) +
            "\n";
  }
  return {text.begin(), text.end()};
}

TEST(NameMapMemoryTest, EveryFailedAllocationGivesEightAndNoMap) {
  const std::vector<uint8_t> text = IndexText(300);
  TvfsNameMap map;  // fresh: a rebuilt map reuses its storage
  alloc_test::StartCounting(0);
  ASSERT_EQ(map.Build(text), kErrorSuccess);
  const uint64_t allocations = alloc_test::StopCounting();
  ASSERT_GE(allocations, 1u);

  alloc_test::StartCounting(1);
  EXPECT_EQ(map.Find("SOME/RATHER/LONG/FOLDER/NAME/FILE299.DAT"),
            "some/rather/long/folder/name/file299.dat");
  EXPECT_FALSE(map.Find("somewhere/else/entirely/with/a/long/name"));
  alloc_test::StopCounting();
  EXPECT_FALSE(alloc_test::ChosenAllocationFailed()) << "a look-up allocated";

  for (uint64_t n = 1; n <= allocations; ++n) {
    TvfsNameMap fresh;
    alloc_test::StartCounting(n);
    const uint32_t result = fresh.Build(text);
    alloc_test::StopCounting();
    EXPECT_EQ(result, kErrorNotEnoughMemory) << "allocation " << n;
    EXPECT_TRUE(fresh.empty());
    EXPECT_FALSE(fresh.Find("somerather/long/folder/name/file1.dat"));
  }
}

}  // namespace
}  // namespace kestrine

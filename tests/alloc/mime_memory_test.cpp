// The MIME parser out of memory: whichever allocation fails, the parse
// reports 8, leaves an empty element and frees everything it made.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "kestrine.h"
#include "online/mime.h"
#include "testkit/mime.h"
#include "tests/alloc/counting_allocator.h"

namespace kestrine {
namespace {

TEST(MimeMemoryTest, EveryFailedAllocationGivesEightAndNoTree) {
  testkit::MimeDocumentPlan plan = testkit::RibbitAnswer("versions", "Region|x\nus|1\n", "sig");
  testkit::MimePartPlan inner;
  inner.boundary = "inner";
  inner.parts = {testkit::MimeLeaf("=qp", testkit::MimeTransfer::kQuotedPrintable)};
  plan.root.parts.push_back(inner);
  const std::string text = testkit::WriteMime(plan);
  const std::span document(reinterpret_cast<const uint8_t*>(text.data()), text.size());

  uint64_t allocations = 0;
  {
    TMimeElement root;
    alloc_test::StartCounting(0);
    ASSERT_EQ(ParseMime(root, document), kErrorSuccess);
    allocations = alloc_test::StopCounting();
    ASSERT_EQ(root.children.size(), 3u);
  }
  ASSERT_GE(allocations, 1u);

  for (uint64_t n = 1; n <= allocations; ++n) {
    const int64_t liveBefore = alloc_test::LiveBlocks();
    {
      TMimeElement root;
      alloc_test::StartCounting(n);
      const uint32_t result = ParseMime(root, document);
      alloc_test::StopCounting();
      EXPECT_EQ(result, kErrorNotEnoughMemory) << "allocation " << n;
      EXPECT_TRUE(root.children.empty() && !root.data && root.boundary.empty());
    }
    EXPECT_EQ(alloc_test::LiveBlocks(), liveBefore) << "allocation " << n;
  }
}

}  // namespace
}  // namespace kestrine

// zlib out of memory is not a damaged frame: the inflate reports 8.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "encoded/inflate.h"
#include "kestrine.h"
#include "tests/alloc/counting_allocator.h"

namespace kestrine {
namespace {

std::vector<uint8_t> Deflated(const std::vector<uint8_t>& content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress(out.data(), &size, content.data(), static_cast<uLong>(content.size())), Z_OK);
  out.resize(size);
  return out;
}

// zlib allocates its state, and a window when the room ends before the
// stream (it could be called again); either failing gives 8, with nothing
// produced and the room zeroed.
TEST(InflateMemoryTest, ZlibOutOfMemoryGivesEight) {
  std::vector<uint8_t> content(5000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 / 13);
  const std::vector<uint8_t> stream = Deflated(content);

  for (size_t room : {content.size(), content.size() / 2}) {
    std::vector<uint8_t> out(room);
    alloc_test::StartCounting(0);
    size_t produced = 0;
    ASSERT_EQ(InflateWithZlib(stream, out, &produced), kErrorSuccess);
    const uint64_t allocations = alloc_test::StopCounting();
    ASSERT_TRUE(std::equal(out.begin(), out.end(), content.begin()));
    ASSERT_GE(allocations, room < content.size() ? 2u : 1u) << room;

    for (uint64_t n = 1; n <= allocations; ++n) {
      std::fill(out.begin(), out.end(), 0xAA);
      alloc_test::StartCounting(n);
      const uint32_t result = InflateWithZlib(stream, out, &produced);
      alloc_test::StopCounting();
      EXPECT_EQ(result, kErrorNotEnoughMemory) << "room " << room << ", allocation " << n;
      EXPECT_EQ(produced, 0u);
      EXPECT_EQ(out, std::vector<uint8_t>(room, 0)) << "room " << room << ", allocation " << n;
    }
  }
}

}  // namespace
}  // namespace kestrine

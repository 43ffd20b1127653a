// Names of the cache and of the patch service, which must match what the
// content servers hold and what a user types.
#include <gtest/gtest.h>

#include "common/hex_key.h"
#include "online/cdn_cache.h"
#include "online/cdn_download.h"
#include "online/online_open.h"

namespace kestrine {
namespace {

TEST(CdnNamesTest, CachePathsSplitTheKeyIntoTwoFoldersInLowerCase) {
  Key16 key{};
  ASSERT_TRUE(ParseHexKey("ABCDEF0123456789ABCDEF0123456789", key));
  EXPECT_EQ(CdnCachePath("C\\cache", kCdnConfig, key, ""),
            "C\\cache\\config\\ab\\cd\\abcdef0123456789abcdef0123456789");
  EXPECT_EQ(CdnCachePath("x", kCdnData, key, ".index"),
            "x\\data\\ab\\cd\\abcdef0123456789abcdef0123456789.index");
  EXPECT_EQ(CdnCachePath("x", kCdnPatch, key, ""),
            "x\\patch\\ab\\cd\\abcdef0123456789abcdef0123456789");
  // Other kinds have no kind folder.
  EXPECT_EQ(CdnCachePath("x", 7, key, ""), "x\\ab\\cd\\abcdef0123456789abcdef0123456789");
}

TEST(CdnNamesTest, HostListsAreSplitAtBlanksAndOverlongNamesSkipped) {
  EXPECT_EQ(SplitCdnHosts("  a.example  b.example:8080\tc "),
            (std::vector<std::string>{"a.example", "b.example:8080", "c"}));
  EXPECT_TRUE(SplitCdnHosts("").empty());
  std::string longHost(260, 'h');
  EXPECT_EQ(SplitCdnHosts(longHost + " ok"), std::vector<std::string>{"ok"});
  EXPECT_EQ(SplitCdnHosts(std::string(259, 'h')).size(), 1u);
}

TEST(CdnNamesTest, PatchServiceEndpointsGetTheirSchemeAndPort) {
  EXPECT_EQ(PatchServiceUrl("127.0.0.1"), "http://127.0.0.1:1119");
  EXPECT_EQ(PatchServiceUrl("127.0.0.1:8000"), "http://127.0.0.1:8000");
  EXPECT_EQ(PatchServiceUrl("HTTP://service.example/v1/"), "http://service.example:1119/v1");
  EXPECT_EQ(PatchServiceUrl("ribbit://service.example:1200/v1/products"),
            "ribbit://service.example:1200/v1/products");
  EXPECT_EQ(PatchServiceUrl("[::1]"), "http://[::1]:1119");
  EXPECT_EQ(PatchServiceUrl("[::1]:99"), "http://[::1]:99");
  EXPECT_EQ(PatchServiceUrl("ftp://x"), "");
  EXPECT_EQ(PatchServiceUrl("http:///path"), "");
  EXPECT_EQ(PatchServiceUrl(""), "");
}

}  // namespace
}  // namespace kestrine

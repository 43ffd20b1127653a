// The public read-only queries beside the storage: GetStorageInfo, the
// locale code table and the incremental content-key hash.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "common/hex_key.h"
#include "kestrine.h"
#include "testkit/demo_installation.h"
#include "tests/storage/opened_storage.h"

namespace kestrine {
namespace {

TEST(StorageInfoTest, FillsOnlyTheFieldsTheCallersRecordCovers) {
  testkit::TempFolder temp;
  testkit::WriteDemoInstallation(temp.path() / "game");
  test::OpenedStorage storage(temp.path() / "game");
  ASSERT_NE(storage.handle(), nullptr) << storage.error();

  StorageInfo full{};
  full.size = sizeof full;
  ASSERT_TRUE(GetStorageInfo(storage.handle(), &full));
  EXPECT_EQ(full.size, sizeof full);
  EXPECT_EQ(full.rootFormat, kRootPlainText);
  EXPECT_EQ(full.buildFileKind, 2u);
  EXPECT_GT(full.contentEntries, 0u);

  // An older caller's record ends after the region: nothing behind it moves.
  StorageInfo older;
  std::memset(&older, 0xAB, sizeof older);
  older.size = offsetof(StorageInfo, buildFileKind);
  ASSERT_TRUE(GetStorageInfo(storage.handle(), &older));
  EXPECT_STREQ(older.productCode, full.productCode);
  EXPECT_EQ(older.buildFileKind, 0xABABABABu);
  EXPECT_EQ(older.size, offsetof(StorageInfo, buildFileKind));

  StorageInfo tooSmall{};
  tooSmall.size = 7;
  EXPECT_FALSE(GetStorageInfo(storage.handle(), &tooSmall));
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
  EXPECT_FALSE(GetStorageInfo(storage.handle(), nullptr));
  EXPECT_FALSE(GetStorageInfo(nullptr, &full));
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
}

TEST(StorageInfoTest, LocaleCodesAreTheTablesExactly) {
  EXPECT_EQ(LocaleMaskFromCode("enUS"), 0x2u);
  EXPECT_EQ(LocaleMaskFromCode("ptPT"), 0x10000u);
  EXPECT_EQ(LocaleMaskFromCode("enus"), 0u);
  EXPECT_EQ(LocaleMaskFromCode("enUSx"), 0u);
  EXPECT_EQ(LocaleMaskFromCode(""), 0u);
  EXPECT_EQ(LocaleMaskFromCode(nullptr), 0u);
}

// RFC 1321's vectors, fed in uneven pieces.
TEST(StorageInfoTest, ContentKeyHashIsMd5InPieces) {
  const std::string message =
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  ContentKeyHash hash;
  ContentKeyHashStart(&hash);
  for (size_t at = 0; at < message.size(); at += 7) {
    ContentKeyHashUpdate(&hash, message.data() + at, std::min<size_t>(7, message.size() - at));
  }
  uint8_t key[16];
  ContentKeyHashFinish(&hash, key);
  EXPECT_EQ(FormatHexKey(std::span<const uint8_t>(key, 16)), "57edf4a22be3c955ac49da2e2107b67a");
  ContentKeyHashStart(&hash);
  ContentKeyHashUpdate(&hash, nullptr, 0);
  ContentKeyHashFinish(&hash, key);
  EXPECT_EQ(FormatHexKey(std::span<const uint8_t>(key, 16)), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
}  // namespace kestrine

// The content entries TVFS spans stand for, above all in storages marked by
// "data\.build.config", whose EKeys locate the files themselves.
#include "roots/tvfs_span_record.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "common/errors.h"
#include "encoded/open_file.h"
#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/build_files.h"
#include "testkit/config_archives.h"
#include "testkit/index_files.h"

namespace kestrine {
namespace {

StorageReference EmptyStorage(BuildFileKind kind, const std::string& dataPath = "") {
  StorageReference storage(new TCascStorage());
  storage->kind = kind;
  storage->dataPath = dataPath;
  storage->archiveOffsetBits = kind == BUILD_CONFIG ? 40 : 30;
  EXPECT_EQ(storage->contents.Create(kUnknownSize, kUnknownSize, kind == BUILD_CONFIG ? 16 : 9),
            kErrorSuccess);
  return storage;
}

TEST(TvfsSpanRecordTest, OtherStoragesLearnOnlyTheKeyAndTheSpanSize) {
  StorageReference storage = EmptyStorage(BUILD_INFO);
  const Key16 key = testkit::MakeKey(5);
  const ContentEntry record = MakeSpanRecord(*storage, std::span(key).first(9), 700, 123);
  EXPECT_TRUE(std::equal(key.begin(), key.begin() + 9, record.ekey.begin()));
  EXPECT_TRUE(
      std::all_of(record.ekey.begin() + 9, record.ekey.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(record.contentSize, 700u);
  EXPECT_EQ(record.encodedSize, kUnknownSize);
  EXPECT_EQ(record.storageOffset, kUnknownOffset);
  EXPECT_EQ(record.flags, 0);
  EXPECT_EQ(record.spanCount, 1);

  // Without an index the new entry stays unlocated; its EKey is partial.
  ContentEntry* entry = AppendSpanEntry(*storage, record, 9);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->flags, EF_EKEY | EF_EKEY_PARTIAL);
  EXPECT_EQ(storage->contents.FindByEKey(record.ekey.data()), entry);
  // The same EKey again: a second entry, but the map keeps the first.
  ContentEntry* again = AppendSpanEntry(*storage, record, 9);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, entry);
  EXPECT_EQ(storage->contents.FindByEKey(record.ekey.data()), entry);
}

TEST(TvfsSpanRecordTest, BuildConfigEKeysCarryArchiveAndOffset) {
  StorageReference storage = EmptyStorage(BUILD_CONFIG);
  Key16 key = testkit::MakeKey(6);
  // Archive 0x1A2 ("01-000000a2.data"), offset 0x12_3456_789A.
  const uint8_t location[7] = {0x01, 0xA2, 0x12, 0x34, 0x56, 0x78, 0x9A};
  std::copy(std::begin(location), std::end(location), key.begin() + 9);
  const ContentEntry record = MakeSpanRecord(*storage, key, 4000, 1234);
  EXPECT_EQ(record.ekey, key);
  EXPECT_EQ(record.storageOffset, testkit::ConfigStorageOffset(0x1A2, 0x123456789Aull));
  EXPECT_EQ(record.encodedSize, 1234u);
  EXPECT_EQ(record.contentSize, 4000u);
  EXPECT_EQ(record.flags, EF_LOCAL | EF_EKEY);
}

// The entry made for an EKey the storage does not list keeps the record's
// location: without it no file of such a storage could be read (2).
TEST(TvfsSpanRecordTest, AnAppendedBuildConfigEntryReadsInEveryStoredForm) {
  testkit::TempFolder folder;
  testkit::ConfigArchiveWriter archives;
  std::vector<testkit::ConfigFile> files;
  for (auto form : {testkit::ConfigFileForm::kBlte, testkit::ConfigFileForm::kBlteBehindHeader}) {
    for (uint32_t archive : {0u, 0x103u}) {
      const uint32_t seed = static_cast<uint32_t>(files.size()) + 1;
      files.push_back(
          archives.Add({"vfs-1", testkit::DataLikeBytes(9000 * seed, seed), form, archive}));
    }
  }
  // The first file again elsewhere: its EKey differs only in the location
  // bytes, so only a map keyed by all 16 bytes tells the two apart.
  files.push_back(archives.Add({"vfs-2", files[0].content, files[0].form, 0x7}));
  ASSERT_TRUE(
      std::equal(files[0].ekey.begin(), files[0].ekey.begin() + 9, files.back().ekey.begin()));
  ASSERT_TRUE(archives.WriteTo(folder.path()));
  StorageReference storage = EmptyStorage(BUILD_CONFIG, folder.path().string());

  for (const testkit::ConfigFile& stored : files) {
    SCOPED_TRACE(stored.offset);
    ContentEntry* entry = AppendSpanEntry(
        *storage, MakeSpanRecord(*storage, stored.ekey, stored.content.size(), stored.encodedSize),
        16);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->flags, EF_LOCAL | EF_EKEY);
    EXPECT_EQ(storage->contents.FindByEKey(stored.ekey.data()), entry);
    TCascFile* file = nullptr;
    ASSERT_EQ(OpenFileByEKey(*storage, stored.ekey, file), kErrorSuccess);
    std::vector<uint8_t> content(stored.content.size() + 1);
    uint32_t count = 0;
    EXPECT_TRUE(
        ReadOpenFile(HandleOf(file), content.data(), static_cast<uint32_t>(content.size()), &count))
        << GetCascError();
    content.resize(count);
    EXPECT_TRUE(content == stored.content);
    CloseFile(HandleOf(file));
  }
}

}  // namespace
}  // namespace kestrine

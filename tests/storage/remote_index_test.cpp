#include "storage/remote_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "online/cdn_cache.h"
#include "online/online_open.h"
#include "storage/storage.h"
#include "testkit/build_files.h"
#include "testkit/index_files.h"

namespace kestrine {
namespace {

using namespace testkit;
using Image = std::vector<uint8_t>;

std::vector<RemoteIndexEntry> MakeRemoteEntries(uint32_t firstSeed, size_t count) {
  std::vector<RemoteIndexEntry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    entries.push_back({MakeKey(firstSeed + i), 1000 + i, 0x100 * i});
  }
  return entries;
}

Key16 Padded(const Key16& key, size_t keyLength) {
  Key16 padded{};
  std::copy_n(key.begin(), keyLength, padded.begin());
  return padded;
}

// Parses one archive's index and builds the map over it.
uint32_t ParseOne(const Image& image, RemoteArchiveMap& map, uint32_t archive = 0,
                  TCascStorage* storage = nullptr) {
  if (uint32_t error = ParseRemoteArchiveIndex(image, archive, map, storage)) return error;
  return map.BuildHashMap();
}

TEST(RemoteArchiveIndexTest, EveryEntryBecomesARecordWithItsArchive) {
  RemoteArchiveIndexFile file;
  file.entries = MakeRemoteEntries(1, 500);  // 24-byte entries: 170 per 4 KiB block
  file.entries[499].offset = 0x0FFFFFFF;
  RemoteArchiveMap map;
  TCascStorage storage;
  ASSERT_EQ(ParseOne(WriteRemoteArchiveIndex(file), map, 3, &storage), 0u);
  EXPECT_EQ(storage.archiveOffsetBits, 32u);
  EXPECT_EQ(storage.locationPosition, 16u);
  ASSERT_EQ(map.size(), 500u);
  for (const RemoteIndexEntry& entry : file.entries) {
    const RemoteArchiveRecord* record = map.Find(entry.ekey.data());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->key, entry.ekey);
    EXPECT_EQ(record->encodedSize, entry.encodedSize);
    EXPECT_EQ(record->location, uint64_t{3} << 32 | entry.offset);
  }
  EXPECT_EQ(map.Find(MakeKey(9999).data()), nullptr);
}

// Shorter keys are zero-padded to 16 bytes; the location shifts the archive
// number by the offset field's width; the storage keeps numbers it has.
TEST(RemoteArchiveIndexTest, FieldLengthsShapeKeysAndLocations) {
  RemoteArchiveIndexFile file;
  file.entries = MakeRemoteEntries(1, 30);
  file.keyLength = 9;
  file.sizeLength = 3;
  file.offsetLength = 5;
  file.blockSizeKb = 1;
  RemoteArchiveMap map;
  TCascStorage storage;
  storage.archiveOffsetBits = 30;
  ASSERT_EQ(ParseOne(WriteRemoteArchiveIndex(file), map, 2, &storage), 0u);
  EXPECT_EQ(storage.archiveOffsetBits, 30u);
  EXPECT_EQ(storage.locationPosition, 9u);
  ASSERT_EQ(map.size(), 30u);
  for (const RemoteIndexEntry& entry : file.entries) {
    const Key16 key = Padded(entry.ekey, 9);
    const RemoteArchiveRecord* record = map.Find(key.data());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->key, key);
    EXPECT_EQ(record->encodedSize, entry.encodedSize & 0xFFFFFF);
    EXPECT_EQ(record->location, uint64_t{2} << 40 | entry.offset);
  }
  EXPECT_EQ(map.Find(file.entries[0].ekey.data()), nullptr);  // the unpadded key
}

// A zero key, an entry crossing the block end and (with 4-byte offsets) an
// offset above 0x0FFFFFFF each end their block; the next block is read.
TEST(RemoteArchiveIndexTest, BlockEndsAndTheNextBlockIsRead) {
  RemoteArchiveIndexFile file;
  file.blockSizeKb = 1;  // 42 entries of 24 bytes, then 16 bytes too few for another
  file.entries = MakeRemoteEntries(1, 42 + 3 + 3 + 2);
  file.entries[43].ekey = Key16{};       // block 2: entries 42.. cut at 43
  file.entries[46].offset = 0x10000000;  // block 3: entries 45.. cut at 46
  file.blockBreaks = {45, 48};
  RemoteArchiveMap map;
  ASSERT_EQ(ParseOne(WriteRemoteArchiveIndex(file), map), 0u);
  std::vector<size_t> expected;
  for (size_t i = 0; i < 42; ++i) expected.push_back(i);
  for (size_t i : {42, 45, 48, 49}) expected.push_back(i);
  ASSERT_EQ(map.size(), expected.size());
  for (size_t i : expected) EXPECT_NE(map.Find(file.entries[i].ekey.data()), nullptr) << i;
  EXPECT_EQ(map.Find(file.entries[44].ekey.data()), nullptr);
  EXPECT_EQ(map.Find(file.entries[47].ekey.data()), nullptr);

  // With wider offsets a large offset is a plain offset.
  file.offsetLength = 5;
  file.blockBreaks.clear();
  file.entries = MakeRemoteEntries(1, 2);
  file.entries[0].offset = 0xF0000000;
  RemoteArchiveMap wide;
  ASSERT_EQ(ParseOne(WriteRemoteArchiveIndex(file), wide), 0u);
  EXPECT_EQ(wide.size(), 2u);
}

TEST(RemoteArchiveIndexTest, FooterFaultsGiveBadFormat) {
  RemoteArchiveIndexFile good;
  good.entries = MakeRemoteEntries(1, 5);
  std::vector<RemoteArchiveIndexFile> faults(7, good);
  faults[0].version = 2;
  faults[1].zeroField = 0x0100;
  faults[2].checksumLength = 16;
  faults[3].badChecksum = true;
  faults[4].keyLength = 17;  // more than a record holds
  faults[5].keyLength = 0;
  faults[6].offsetLength = 8;  // no room for the archive number
  for (size_t i = 0; i < faults.size(); ++i) {
    RemoteArchiveMap map;
    TCascStorage storage;
    EXPECT_EQ(ParseRemoteArchiveIndex(WriteRemoteArchiveIndex(faults[i]), 0, map, &storage),
              kErrorBadFormat)
        << i;
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(storage.archiveOffsetBits, 0u);
  }
  const Image image = WriteRemoteArchiveIndex(good);
  RemoteArchiveMap map;
  EXPECT_EQ(ParseRemoteArchiveIndex(std::span(image).last(19), 0, map, nullptr), kErrorBadFormat);
  // The footer alone is a valid index without entries.
  EXPECT_EQ(ParseRemoteArchiveIndex(std::span(image).last(20), 0, map, nullptr), 0u);
  EXPECT_EQ(map.size(), 0u);
}

// Several archives load in order from the cache; a key in two archives
// resolves to the first. A storage that is not online never downloads.
TEST(RemoteArchiveIndexTest, LoadReadsEveryArchiveAndTheFirstRecordWins) {
  RemoteArchiveIndexFile first;
  first.entries = MakeRemoteEntries(1, 10);
  RemoteArchiveIndexFile second;
  second.entries = MakeRemoteEntries(5, 10);  // keys 5..9 again
  TempFolder cache;
  TCascStorage storage;
  storage.rootPath = cache.path().string();
  storage.archives = {MakeKey(900), MakeKey(901)};
  auto place = [&](size_t archive, const Image& image) {
    std::string internal =
        CdnCachePath(storage.rootPath, kCdnData, storage.archives[archive], ".index");
    std::replace(internal.begin(), internal.end(), '\\', '/');
    std::filesystem::path path = internal;
    std::filesystem::create_directories(path.parent_path());
    WriteTextFile(path, std::string(image.begin(), image.end()));
  };
  place(0, WriteRemoteArchiveIndex(first));
  place(1, WriteRemoteArchiveIndex(second));

  std::vector<uint32_t> reported;
  StorageOpenArgs args{};
  args.size = sizeof(args);
  args.progressContext = &reported;
  args.progressCallback = [](void* context, uint32_t stage, const char*, uint32_t current,
                             uint32_t total) {
    static_cast<std::vector<uint32_t>*>(context)->push_back(stage * 100 + current * 10 + total);
    return false;
  };
  storage.openArgs = &args;
  ASSERT_EQ(LoadArchiveIndexes(storage), 0u);
  EXPECT_EQ(reported, (std::vector<uint32_t>{402, 412}));
  const RemoteArchiveMap& map = *storage.remoteArchives;
  EXPECT_EQ(map.size(), 20u);
  EXPECT_EQ(map.Find(MakeKey(7).data())->location >> 32, 0u);
  EXPECT_EQ(map.Find(MakeKey(12).data())->location >> 32, 1u);

  // The first archive that fails decides; a cancel stops the loop.
  args.progressCallback = [](void*, uint32_t stage, const char*, uint32_t current, uint32_t) {
    return stage == kStageArchiveIndexes && current == 1;
  };
  EXPECT_EQ(LoadArchiveIndexes(storage), kErrorCancelled);
  storage.openArgs = nullptr;
  place(0, Image(30, 0xEE));  // no valid footer
  EXPECT_EQ(LoadArchiveIndexes(storage), kErrorBadFormat);
  place(0, {});  // an empty file counts as missing
  EXPECT_EQ(LoadArchiveIndexes(storage), kErrorFileNotFound);
}

// The record array starts at 65,536 records and grows; records stay findable.
TEST(RemoteArchiveMapTest, GrowsPastItsFirstCapacity) {
  RemoteArchiveMap map;
  for (uint32_t i = 0; i < 70000; ++i) {
    ASSERT_EQ(map.Append({MakeKey(i), i, i}), 0u);
  }
  EXPECT_EQ(map.Find(MakeKey(1).data()), nullptr);  // no hash map yet
  ASSERT_EQ(map.BuildHashMap(), 0u);
  for (uint32_t i = 0; i < 70000; i += 997) {
    const RemoteArchiveRecord* record = map.Find(MakeKey(i).data());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->location, i);
  }
}

}  // namespace
}  // namespace kestrine

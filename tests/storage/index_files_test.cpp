#include "storage/index_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "storage/storage.h"
#include "testkit/index_files.h"
#include "tests/tool/test_util.h"

namespace kestrine {
namespace {

using namespace testkit;
using Image = std::vector<uint8_t>;

std::vector<IndexEntry> MakeEntries(uint32_t firstSeed, size_t count) {
  std::vector<IndexEntry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t seed = firstSeed + i;
    entries.push_back({MakeKey(seed), PackStorageOffset(seed % 7, seed * 64), 100 + seed});
  }
  return entries;
}

// Parses images as the load does: image i is bucket i, kept in its slot,
// which the map points into. Returns the first error.
uint32_t ParseImages(TCascStorage& storage, const std::vector<Image>& images) {
  storage.localIndex = std::make_unique<LocalIndex>();
  LocalIndex& index = *storage.localIndex;
  uint64_t total = 0;
  for (const Image& image : images) total += image.size();
  if (uint32_t error = index.CreateMap(total)) return error;
  for (size_t bucket = 0; bucket < images.size(); ++bucket) {
    index.slots()[bucket].data = images[bucket];
    if (uint32_t error = index.ParseIndexFile(storage, bucket, index.slots()[bucket].data)) {
      return error;
    }
  }
  return 0;
}

// One image as the file of `bucket`.
uint32_t ParseImage(TCascStorage& storage, const Image& image, size_t bucket = 0) {
  storage.localIndex = std::make_unique<LocalIndex>();
  LocalIndex& index = *storage.localIndex;
  if (uint32_t error = index.CreateMap(image.size())) return error;
  index.slots()[bucket].data = image;
  return index.ParseIndexFile(storage, bucket, index.slots()[bucket].data);
}

std::optional<ContentEntry> Locate(TCascStorage& storage, const Key16& ekey) {
  ContentEntry entry;
  entry.ekey = ekey;
  if (!LocateEncodedFile(storage, entry)) return std::nullopt;
  return entry;
}

// Every entry is located with its offset and size, and no other.
void ExpectLocated(TCascStorage& storage, const std::vector<IndexEntry>& entries) {
  for (const IndexEntry& expected : entries) {
    auto found = Locate(storage, expected.ekey);
    ASSERT_TRUE(found.has_value()) << FormatHexKey(expected.ekey);
    EXPECT_EQ(found->storageOffset, expected.storageOffset);
    EXPECT_EQ(found->encodedSize, expected.encodedSize);
    EXPECT_EQ(found->flags, EF_LOCAL);
  }
}

void ExpectAbsent(TCascStorage& storage, const std::vector<IndexEntry>& entries) {
  for (const IndexEntry& entry : entries) {
    EXPECT_FALSE(Locate(storage, entry.ekey).has_value()) << FormatHexKey(entry.ekey);
  }
}

// ---- Version 7 -------------------------------------------------------------

TEST(IndexFileV7Test, BothEntryHashSchemesLocateEveryEntry) {
  for (auto scheme : {EntryHashScheme::kHashlittle2, EntryHashScheme::kChainedHashlittle}) {
    IndexFileV7 file;
    file.bucket = 5;
    file.offsetBits = 30;
    file.scheme = scheme;
    file.entries = MakeEntries(1, 50);
    file.entries.back().storageOffset = 0xFF'FFFF'FFFF;  // all 40 bits
    file.entries.back().encodedSize = 0xFFFFFFFE;
    const Image image = WriteIndexFileV7(file);
    TCascStorage storage;
    ASSERT_EQ(ParseImage(storage, image, 5), 0u);
    EXPECT_EQ(storage.archiveOffsetBits, 30u);
    EXPECT_EQ(storage.locationPosition, 9u);
    EXPECT_EQ(storage.localIndex->map().size(), 50u);
    ExpectLocated(storage, file.entries);

    // A key that only shares the first nine bytes is the same key; one that
    // differs in them is absent, and its entry is left untouched.
    Key16 sameTail = file.entries[0].ekey;
    sameTail[15] ^= 0xFF;
    EXPECT_TRUE(Locate(storage, sameTail).has_value());
    ContentEntry absent;
    absent.ekey = MakeKey(999);
    EXPECT_FALSE(LocateEncodedFile(storage, absent));
    EXPECT_EQ(absent.storageOffset, kUnknownOffset);
    EXPECT_EQ(absent.flags, 0);
  }
}

TEST(IndexFileV7Test, LayoutNumbersAreTakenOnlyWhenTheStorageLacksThem) {
  IndexFileV7 file;
  file.offsetBits = 22;
  file.entries = MakeEntries(1, 3);
  const Image image = WriteIndexFileV7(file);

  TCascStorage fresh;
  ASSERT_EQ(ParseImage(fresh, image), 0u);
  EXPECT_EQ(fresh.archiveOffsetBits, 22u);

  TCascStorage preset;
  preset.archiveOffsetBits = 30;
  preset.locationPosition = 9;
  ASSERT_EQ(ParseImage(preset, image), 0u);
  EXPECT_EQ(preset.archiveOffsetBits, 30u);

  // A storage offset has 40 bits: a header claiming more offset bits than
  // that (or none) leaves the storage's value unset.
  for (uint8_t bits : {uint8_t{0}, uint8_t{41}, uint8_t{64}, uint8_t{255}}) {
    file.offsetBits = bits;
    const Image odd = WriteIndexFileV7(file);
    TCascStorage storage;
    ASSERT_EQ(ParseImage(storage, odd), 0u);
    EXPECT_EQ(storage.archiveOffsetBits, 0u) << int{bits};
    EXPECT_EQ(storage.OffsetBits(), 30u);
    ExpectLocated(storage, file.entries);
  }
}

// A file that fails the version-7 header check and is no version-5 file
// either is malformed.
TEST(IndexFileV7Test, HeaderFaultsGiveBadFormat) {
  IndexFileV7 good;
  good.bucket = 3;
  good.entries = MakeEntries(1, 4);

  IndexFileV7 otherBucket = good;
  otherBucket.headerBucket = 4;
  IndexFileV7 badHash = good;
  badHash.badHeaderHash = true;
  IndexFileV7 hashPastEnd = good;
  hashPastEnd.headerHashSize = 0x10000;
  for (const IndexFileV7& file : {otherBucket, badHash, hashPastEnd}) {
    TCascStorage storage;
    EXPECT_EQ(ParseImage(storage, WriteIndexFileV7(file), 3), kErrorBadFormat);
  }

  Image tiny = WriteIndexFileV7(good);
  tiny.resize(8);
  TCascStorage storage;
  EXPECT_EQ(ParseImage(storage, tiny, 3), kErrorBadFormat);
  EXPECT_EQ(ParseImage(storage, Image{}, 3), kErrorBadFormat);
}

// Entries that cannot be verified fail a file of 32 to 30,751 bytes with 50;
// a smaller file yields nothing, a larger one is read in the paged layout.
TEST(IndexFileV7Test, UnverifiableEntriesDependOnTheFileSize) {
  IndexFileV7 badHash;
  badHash.entries = MakeEntries(1, 3);
  badHash.badEntriesHash = true;
  IndexFileV7 pastEnd;
  pastEnd.entries = MakeEntries(1, 3);
  pastEnd.entriesSize = 3 * 18 + 1;
  IndexFileV7 noEntries;
  IndexFileV7 largest = badHash;
  largest.padTo = 30751;

  for (const IndexFileV7& file : {badHash, pastEnd, noEntries, largest}) {
    TCascStorage storage;
    EXPECT_EQ(ParseImage(storage, WriteIndexFileV7(file)), kErrorNotSupported);
  }

  IndexFileV7 paged = badHash;
  paged.padTo = 30752;
  TCascStorage storage;
  EXPECT_EQ(ParseImage(storage, WriteIndexFileV7(paged)), 0u);
  EXPECT_EQ(storage.localIndex->map().size(), 0u);

  Image headerOnly = WriteIndexFileV7(noEntries);
  headerOnly.resize(24);  // the hashed header bytes are all there
  EXPECT_EQ(ParseImage(storage, headerOnly), 0u);
  EXPECT_EQ(storage.localIndex->map().size(), 0u);
}

// The paged layout is read block by block to the end of the file, not only
// its first block; a bad guard ends only its own block.
TEST(IndexFileV7Test, PagedLayoutReadsEveryBlock) {
  PagedIndexFile file;
  file.bucket = 2;
  file.blocks.resize(60);
  file.blocks[0] = MakeEntries(100, kPagedRecordsPerBlock);
  file.blocks[1] = MakeEntries(200, 5);
  file.blocks[7] = MakeEntries(300, 2);
  file.blocks[59] = MakeEntries(400, kPagedRecordsPerBlock);  // ends at the end of the file
  file.badGuard = {1, 2};
  const Image image = WritePagedIndexFile(file);
  ASSERT_EQ(image.size(), 4096u + 60 * 512);

  TCascStorage storage;
  ASSERT_EQ(ParseImage(storage, image, 2), 0u);
  ExpectLocated(storage, file.blocks[0]);
  ExpectLocated(storage, {file.blocks[1][0], file.blocks[1][1]});
  ExpectAbsent(storage, {file.blocks[1][2], file.blocks[1][3], file.blocks[1][4]});
  ExpectLocated(storage, file.blocks[7]);
  ExpectLocated(storage, file.blocks[59]);
  EXPECT_EQ(storage.localIndex->map().size(), 21u + 2 + 2 + 21);

  // A last block cut short yields the records that are whole.
  Image cut = image;
  cut.resize(image.size() - 512 + 3 * 24 + 10);
  TCascStorage cutStorage;
  ASSERT_EQ(ParseImage(cutStorage, cut, 2), 0u);
  ExpectLocated(cutStorage, {file.blocks[59][0], file.blocks[59][1], file.blocks[59][2]});
  ExpectAbsent(cutStorage, {file.blocks[59][3]});
}

// ---- Version 5 -------------------------------------------------------------

TEST(IndexFileV5Test, BothListsAndTheRecordsAfterThemAreEntered) {
  IndexFileV5 file;
  file.bucket = 9;
  file.offsetBits = 28;
  file.firstList = MakeEntries(1, 3);
  file.secondList = MakeEntries(10, 2);
  file.trailing = MakeEntries(20, 1);
  TCascStorage storage;
  ASSERT_EQ(ParseImage(storage, WriteIndexFileV5(file), 9), 0u);
  EXPECT_EQ(storage.archiveOffsetBits, 28u);
  EXPECT_EQ(storage.locationPosition, 9u);
  ExpectLocated(storage, file.firstList);
  ExpectLocated(storage, file.secondList);
  ExpectLocated(storage, file.trailing);

  IndexFileV5 empty;
  EXPECT_EQ(ParseImage(storage, WriteIndexFileV5(empty)), 0u);
  EXPECT_EQ(storage.localIndex->map().size(), 0u);
}

TEST(IndexFileV5Test, HeaderFaultsGiveBadFormat) {
  IndexFileV5 good;
  good.firstList = MakeEntries(1, 3);
  good.secondList = MakeEntries(10, 2);
  std::vector<IndexFileV5> faults(4, good);
  faults[0].headerBucket = 1;
  faults[1].nonZeroField = 0;
  faults[2].badHeaderHash = true;
  faults[3].badSecondListHash = true;
  for (const IndexFileV5& file : faults) {
    TCascStorage storage;
    EXPECT_EQ(ParseImage(storage, WriteIndexFileV5(file)), kErrorBadFormat);
  }

  // Lists that pass the end of the file, and a file shorter than its header.
  Image truncated = WriteIndexFileV5(good);
  truncated.resize(truncated.size() - 1);
  TCascStorage storage;
  EXPECT_EQ(ParseImage(storage, truncated), kErrorBadFormat);
  truncated.resize(47);
  EXPECT_EQ(ParseImage(storage, truncated), kErrorBadFormat);
}

// ---- The index map -----------------------------------------------------------

// Entries of the same nine-byte prefix: the one met first (lower bucket,
// earlier in the file) wins.
TEST(IndexMapTest, FirstEntryOfAKeyWins) {
  const IndexEntry first{MakeKey(1), PackStorageOffset(1, 0x100), 10};
  IndexEntry sameFile = first;
  sameFile.ekey[12] ^= 1;  // beyond the prefix
  sameFile.storageOffset = PackStorageOffset(2, 0x200);
  IndexEntry laterBucket = first;
  laterBucket.storageOffset = PackStorageOffset(3, 0x300);

  IndexFileV7 bucket0;
  bucket0.entries = {first, sameFile};
  IndexFileV7 bucket1;
  bucket1.bucket = 1;
  bucket1.entries = {laterBucket, MakeEntries(50, 1)[0]};
  const std::vector<Image> images = {WriteIndexFileV7(bucket0), WriteIndexFileV7(bucket1)};
  TCascStorage storage;
  ASSERT_EQ(ParseImages(storage, images), 0u);
  EXPECT_EQ(storage.localIndex->map().size(), 2u);
  ExpectLocated(storage, {first, bucket1.entries[1]});
}

// The map is sized once; entries beyond what it holds are dropped, leaving
// one bucket empty so that look-ups of absent keys still end.
TEST(IndexMapTest, NeverFills) {
  IndexFileV7 file;
  file.entries = MakeEntries(1, 400);
  const Image image = WriteIndexFileV7(file);
  TCascStorage storage;
  storage.localIndex = std::make_unique<LocalIndex>();
  ASSERT_EQ(storage.localIndex->CreateMap(0), 0u);
  ASSERT_EQ(storage.localIndex->ParseIndexFile(storage, 0, image), 0u);
  EXPECT_EQ(storage.localIndex->map().bucketCount(), 256u);
  EXPECT_EQ(storage.localIndex->map().size(), 255u);
  ExpectLocated(storage, std::vector(file.entries.begin(), file.entries.begin() + 255));
  ExpectAbsent(storage, std::vector(file.entries.begin() + 255, file.entries.end()));
}

TEST(IndexMapTest, SizedFromTheTotalFileSize) {
  IndexMap map;
  ASSERT_TRUE(map.Create(18 * 192));
  EXPECT_EQ(map.bucketCount(), 256u);
  ASSERT_TRUE(map.Create(18 * 193));
  EXPECT_EQ(map.bucketCount(), 512u);
  ASSERT_TRUE(map.Create(18 * 3073 + 17));  // 4097 buckets wanted
  EXPECT_EQ(map.bucketCount(), 8192u);
}

TEST(LocateEncodedFileTest, OnlineOrWithoutIndexLeavesTheEntryAlone) {
  TCascStorage storage;
  ContentEntry entry;
  entry.ekey = MakeKey(1);
  EXPECT_FALSE(LocateEncodedFile(storage, entry));  // nothing loaded
  storage.features |= STF_ONLINE;
  EXPECT_TRUE(LocateEncodedFile(storage, entry));
  EXPECT_EQ(entry.storageOffset, kUnknownOffset);
  EXPECT_EQ(entry.encodedSize, kUnknownSize);
  EXPECT_EQ(entry.flags, 0);
}

// ---- Folder scan -------------------------------------------------------------

TEST(EnumerateIndexFileTest, KeepsTheNewestVersionOfEachBucket) {
  LocalIndex index;
  for (const char* name : {"0000000002.idx", "0000000003.idx", "0000000001.idx", "0A0000001F.IDX",
                           "0a0000000f.idx", "0F000000aB.idx", "data.000"}) {
    EXPECT_TRUE(index.EnumerateIndexFile(name)) << name;
  }
  EXPECT_EQ(index.nameFormat(), IndexNameFormat::kHexIdx);
  EXPECT_EQ(index.namesRecognised(), 6u);
  EXPECT_EQ(index.slots()[0].version, 3u);
  EXPECT_EQ(index.slots()[10].version, 0x1Fu);
  EXPECT_EQ(index.slots()[15].version, 0xABu);
  EXPECT_EQ(index.IndexFileName(0), "0000000003.idx");
  EXPECT_EQ(index.IndexFileName(10), "0a0000001f.idx");
  EXPECT_EQ(index.IndexFileName(15), "0f000000ab.idx");
}

TEST(EnumerateIndexFileTest, NamesThatDoNotMatchExactlyAreSkipped) {
  LocalIndex index;
  for (const char* name :
       {"00000000001.idx", "000000001.idx", "000000000g.idx", "0000000001.id", "0000000001.idxx",
        "0000000001_idx", "data.i0", "data.i0g", "dat.i00", "shmem", ".", ""}) {
    EXPECT_TRUE(index.EnumerateIndexFile(name)) << name;
  }
  EXPECT_EQ(index.nameFormat(), IndexNameFormat::kNone);
  EXPECT_EQ(index.namesRecognised(), 0u);
}

// The first recognised name fixes the format; names of the other are skipped.
TEST(EnumerateIndexFileTest, FirstRecognisedPatternFixesTheFormat) {
  LocalIndex index;
  EXPECT_TRUE(index.EnumerateIndexFile("DATA.I12"));
  EXPECT_TRUE(index.EnumerateIndexFile("0100000009.idx"));
  EXPECT_TRUE(index.EnumerateIndexFile("data.i1a"));
  EXPECT_TRUE(index.EnumerateIndexFile("data.if0"));
  EXPECT_EQ(index.nameFormat(), IndexNameFormat::kDataI);
  EXPECT_EQ(index.namesRecognised(), 3u);
  EXPECT_EQ(index.slots()[1].version, 0xAu);
  EXPECT_EQ(index.IndexFileName(1), "data.i1a");
  EXPECT_EQ(index.IndexFileName(15), "data.if0");
}

TEST(EnumerateIndexFileTest, BucketAboveFifteenEndsTheScan) {
  LocalIndex index;
  EXPECT_TRUE(index.EnumerateIndexFile("0f00000001.idx"));
  EXPECT_FALSE(index.EnumerateIndexFile("1000000001.idx"));
  EXPECT_EQ(index.namesRecognised(), 1u);
}

// ---- Loading from a folder -----------------------------------------------------

class LoadIndexFilesTest : public ::testing::Test {
 protected:
  LoadIndexFilesTest() { storage.archivePath = dir.path().string(); }

  void Write(const std::string& name, const Image& image) {
    ASSERT_TRUE(WriteFileBytes(dir.File(name), image));
  }
  // A version-7 file per bucket 0..count-1 with one entry each (seed 1000 + bucket).
  std::vector<IndexEntry> WriteBuckets(size_t count, uint32_t version = 1) {
    std::vector<IndexEntry> all;
    for (size_t bucket = 0; bucket < count; ++bucket) {
      IndexFileV7 file;
      file.bucket = static_cast<uint8_t>(bucket);
      file.entries = MakeEntries(1000 + static_cast<uint32_t>(bucket), 1);
      Write(IndexFileName(static_cast<uint32_t>(bucket), version), WriteIndexFileV7(file));
      all.push_back(file.entries[0]);
    }
    return all;
  }

  test::TempDir dir;
  TCascStorage storage;
};

TEST_F(LoadIndexFilesTest, LoadsTheNewestVersionOfEachBucket) {
  IndexFileV7 older;
  older.entries = MakeEntries(1, 2);
  IndexFileV7 newer;
  newer.entries = MakeEntries(10, 2);
  Write("0000000002.idx", WriteIndexFileV7(older));
  Write("0000000003.idx", WriteIndexFileV7(newer));
  ASSERT_EQ(LoadIndexFiles(storage), 0u);
  EXPECT_EQ(storage.localIndex->slots()[0].version, 3u);
  ExpectLocated(storage, newer.entries);
  ExpectAbsent(storage, older.entries);
}

// Files copied from Windows may carry upper-case names.
TEST_F(LoadIndexFilesTest, AcceptsUpperCaseNames) {
  IndexFolder folder;
  folder.entries = MakeEntries(1, 40);
  folder.version = 0x1B;
  folder.upperCaseNames = true;
  ASSERT_TRUE(WriteIndexFolder(dir.path().string(), folder));
  ASSERT_EQ(LoadIndexFiles(storage), 0u);
  ExpectLocated(storage, folder.entries);
}

TEST_F(LoadIndexFilesTest, AcceptsTheDataINames) {
  IndexFileV7 bucket0;
  bucket0.entries = MakeEntries(1, 2);
  IndexFileV7 bucket1;
  bucket1.bucket = 1;
  bucket1.entries = MakeEntries(5, 2);
  Write(DataIndexFileName(0, 4), WriteIndexFileV7(bucket0));
  Write(DataIndexFileName(1, 2), WriteIndexFileV7(bucket1));
  ASSERT_EQ(LoadIndexFiles(storage), 0u);
  EXPECT_EQ(storage.localIndex->nameFormat(), IndexNameFormat::kDataI);
  ExpectLocated(storage, bucket0.entries);
  ExpectLocated(storage, bucket1.entries);
}

// The buckets in use end before the first one without a file.
TEST_F(LoadIndexFilesTest, BucketsEndAtTheFirstMissingFile) {
  const std::vector<IndexEntry> all = WriteBuckets(16);
  std::filesystem::remove(dir.File(IndexFileName(10, 1)));
  ASSERT_EQ(LoadIndexFiles(storage), 0u);
  ExpectLocated(storage, std::vector(all.begin(), all.begin() + 10));
  ExpectAbsent(storage, std::vector(all.begin() + 11, all.end()));
  EXPECT_TRUE(storage.localIndex->slots()[11].data.empty());
}

TEST_F(LoadIndexFilesTest, ReportsEachFileAndCanBeCancelled) {
  WriteBuckets(3);
  struct Progress {
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> calls;
    size_t cancelAt = 100;
  } progress;
  StorageOpenArgs args{};
  args.size = sizeof(args);
  args.progressContext = &progress;
  args.progressCallback = [](void* context, uint32_t stage, const char* name, uint32_t current,
                             uint32_t total) {
    auto* p = static_cast<Progress*>(context);
    EXPECT_EQ(name, nullptr);
    p->calls.emplace_back(stage, current, total);
    return p->calls.size() > p->cancelAt;
  };
  storage.openArgs = &args;
  ASSERT_EQ(LoadIndexFiles(storage), 0u);
  using Call = std::tuple<uint32_t, uint32_t, uint32_t>;
  EXPECT_EQ(progress.calls, (std::vector<Call>{{3, 0, 3}, {3, 1, 3}, {3, 2, 3}}));

  progress.calls.clear();
  progress.cancelAt = 1;
  EXPECT_EQ(LoadIndexFiles(storage), kErrorCancelled);
  EXPECT_EQ(progress.calls.size(), 2u);
}

TEST_F(LoadIndexFilesTest, FailuresCarryTheirNumbers) {
  // No folder; a folder without index files.
  storage.archivePath = dir.File("missing");
  EXPECT_EQ(LoadIndexFiles(storage), kErrorPathNotFound);
  storage.archivePath = dir.path().string();
  Write("data.000", Image(100, 0));
  Write("1000000001.idx", Image(100, 0));  // bucket 16
  EXPECT_EQ(LoadIndexFiles(storage), kErrorFileNotFound);

  // An empty file, a file of another bucket, a file whose entries do not verify.
  const std::vector<IndexEntry> all = WriteBuckets(3);
  Write(IndexFileName(1, 1), Image{});
  EXPECT_EQ(LoadIndexFiles(storage), kErrorBadFormat);
  IndexFileV7 otherBucket;
  otherBucket.bucket = 1;
  otherBucket.headerBucket = 2;
  otherBucket.entries = all;
  Write(IndexFileName(1, 1), WriteIndexFileV7(otherBucket));
  EXPECT_EQ(LoadIndexFiles(storage), kErrorBadFormat);
  IndexFileV7 unverifiable = otherBucket;
  unverifiable.headerBucket.reset();
  unverifiable.badEntriesHash = true;
  Write(IndexFileName(1, 1), WriteIndexFileV7(unverifiable));
  EXPECT_EQ(LoadIndexFiles(storage), kErrorNotSupported);
}

// Index entries from the folder writer point at the blobs the archive writer
// stored: split by the header's offset bits, each storage offset leads to the
// blob's 30-byte record header in "data.%03u".
TEST_F(LoadIndexFilesTest, LocationsLeadToTheStoredBlobs) {
  for (uint8_t offsetBits : {uint8_t{30}, uint8_t{20}}) {
    test::TempDir folder;
    DataArchiveWriter archives;
    for (uint32_t i = 0; i < 12; ++i) {
      if (i == 4) archives.UseArchive(1);
      if (i == 8) archives.UseArchive(7);
      const Image blob(40 + i * 13, static_cast<uint8_t>(i));
      archives.Add(MakeKey(i), blob);
    }
    ASSERT_TRUE(archives.WriteTo(folder.path().string()));
    IndexFolder index;
    index.entries = archives.IndexEntries(offsetBits);
    index.offsetBits = offsetBits;
    ASSERT_TRUE(WriteIndexFolder(folder.path().string(), index));

    TCascStorage loaded;
    loaded.archivePath = folder.path().string();
    ASSERT_EQ(LoadIndexFiles(loaded), 0u);
    ASSERT_EQ(loaded.OffsetBits(), offsetBits);
    for (uint32_t i = 0; i < 12; ++i) {
      auto entry = Locate(loaded, MakeKey(i));
      ASSERT_TRUE(entry.has_value());
      const uint64_t archive = entry->storageOffset >> loaded.OffsetBits();
      const uint64_t offset = entry->storageOffset & ((uint64_t{1} << loaded.OffsetBits()) - 1);
      std::ifstream in(folder.File(DataArchiveName(static_cast<uint32_t>(archive))),
                       std::ios::binary);
      ASSERT_TRUE(in) << archive;
      Image record(entry->encodedSize);
      in.seekg(static_cast<std::streamoff>(offset));
      in.read(reinterpret_cast<char*>(record.data()), static_cast<std::streamsize>(record.size()));
      ASSERT_TRUE(in);
      EXPECT_TRUE(std::equal(record.begin(), record.begin() + 16, MakeKey(i).begin()));
      EXPECT_EQ(record.size(), kArchiveRecordHeaderSize + 40 + i * 13);
      EXPECT_EQ(record.back(), i);
    }
  }
}

}  // namespace
}  // namespace kestrine

// Block streams: flat files with a bitmap, flat and partial caches of a
// master stream, partial files, four-part sets and encrypted archives, each
// written by the testkit and read back through the block reader.
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "encoded/stream.h"
#include "encoded/stream_internal.h"
#include "encoded/stream_testing.h"
#include "kestrine.h"
#include "testkit/build_files.h"
#include "testkit/stream_files.h"
#include "tests/encoded/stream_test_util.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using streamtest::Open;
using streamtest::OpenError;
using streamtest::PositionOf;
using streamtest::Read;
using streamtest::ReadError;
using streamtest::SizeOf;
using streamtest::Slice;
using testkit::PatternBytes;
using testkit::ReadBinaryFile;
using testkit::TempFolder;
using testkit::WriteBinaryFile;

constexpr uint32_t kBlock = 16384;
// 3.5 blocks: the last block is short.
constexpr size_t kStreamSize = 3 * kBlock + kBlock / 2;

uint32_t LittleU32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}

// Reads the whole stream in pieces that straddle block boundaries.
std::vector<uint8_t> ReadInPieces(TStream* stream, size_t size, size_t piece) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < size; at += piece) {
    auto bytes = Read(stream, at, std::min(piece, size - at));
    if (!bytes) return {};
    out.insert(out.end(), bytes->begin(), bytes->end());
  }
  return out;
}

// ---- Flat files with a bitmap footer ----

class FlatBitmapTest : public ::testing::Test {
 protected:
  std::string Write(const testkit::FlatBitmapFile& file) {
    WriteBinaryFile(folder_ / "flat", testkit::BuildFlatBitmapFile(file));
    return folder_ / "flat";
  }

  testkit::FlatBitmapFile File(std::vector<bool> present = {}) {
    testkit::FlatBitmapFile file;
    file.data = data_;
    file.present = std::move(present);
    return file;
  }

  TempFolder folder_;
  std::vector<uint8_t> data_ = PatternBytes(kStreamSize, 11);
};

TEST_F(FlatBitmapTest, CompleteBitmapReadsTheDataPartOnly) {
  std::string path = Write(File());
  StreamPtr stream = Open(path, SF_READONLY | SF_BITMAP);
  ASSERT_TRUE(stream);
  EXPECT_EQ(SizeOf(stream.get()), kStreamSize);
  EXPECT_EQ(ReadInPieces(stream.get(), kStreamSize, 5000), data_);
  EXPECT_EQ(Read(stream.get(), std::nullopt, 0), std::vector<uint8_t>());
  EXPECT_EQ(PositionOf(stream.get()), kStreamSize);
  // Reading 10 bytes at S - 4 passes the end; 0 bytes anywhere do not.
  EXPECT_EQ(ReadError(stream.get(), kStreamSize - 4, 10), kErrorHandleEof);
  EXPECT_TRUE(Read(stream.get(), kStreamSize + 1000, 0));

  // Without SF_BITMAP the footer is just more bytes of a plain file.
  StreamPtr plain = Open(path, SF_READONLY);
  ASSERT_TRUE(plain);
  EXPECT_EQ(SizeOf(plain.get()), fs::file_size(path));
}

TEST_F(FlatBitmapTest, MissingBlocksFailWithoutAMaster) {
  std::string path = Write(File({true, false, true, true}));
  StreamPtr stream = Open(path, SF_READONLY | SF_BITMAP);
  ASSERT_TRUE(stream);
  EXPECT_EQ(Read(stream.get(), 2 * kBlock + 100, kBlock + 100),
            Slice(data_, 2 * kBlock + 100, kBlock + 100));
  EXPECT_EQ(Read(stream.get(), 10, 100), Slice(data_, 10, 100));
  EXPECT_EQ(ReadError(stream.get(), kBlock - 1, 2), kErrorBlockReadFailed);
  EXPECT_EQ(ReadError(stream.get(), kBlock + 5, 1), kErrorBlockReadFailed);
  EXPECT_EQ(PositionOf(stream.get()), 110u) << "a failed read leaves the position";
}

TEST_F(FlatBitmapTest, FootersThatDoNotFitReadAsPlainFiles) {
  struct Case {
    const char* what;
    void (*change)(testkit::FlatBitmapFile&);
  };
  const Case cases[] = {
      {"signature", [](testkit::FlatBitmapFile& f) { f.signature = "ptv2"; }},
      {"version", [](testkit::FlatBitmapFile& f) { f.version = 2; }},
      {"stream size", [](testkit::FlatBitmapFile& f) { f.footerStreamSize = kStreamSize - 1; }},
      {"stream size too large", [](testkit::FlatBitmapFile& f) { f.footerStreamSize = ~0ull; }},
      {"block size zero", [](testkit::FlatBitmapFile& f) { f.footerBlockSize = 0; }},
      {"block size 4096", [](testkit::FlatBitmapFile& f) { f.footerBlockSize = 4096; }},
      {"huge block size", [](testkit::FlatBitmapFile& f) { f.footerBlockSize = 0x80000000u; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testkit::FlatBitmapFile file = File({true, false});
    c.change(file);
    std::string path = Write(file);
    StreamPtr stream = Open(path, SF_READONLY | SF_BITMAP);
    ASSERT_TRUE(stream);
    EXPECT_EQ(SizeOf(stream.get()), fs::file_size(path));
    EXPECT_TRUE(Read(stream.get(), kBlock, 10)) << "absent blocks read as file bytes";
  }

  // One byte more than data, bitmap and footer: no bitmap either.
  std::vector<uint8_t> bytes = testkit::BuildFlatBitmapFile(File({true, false}));
  bytes.push_back(0);
  WriteBinaryFile(folder_ / "longer", bytes);
  StreamPtr longer = Open(folder_ / "longer", SF_READONLY | SF_BITMAP);
  ASSERT_TRUE(longer);
  EXPECT_EQ(SizeOf(longer.get()), bytes.size());

  // Too small to hold a footer and any data.
  WriteBinaryFile(folder_ / "tiny", std::vector<uint8_t>(24, 0));
  StreamPtr tiny = Open(folder_ / "tiny", SF_READONLY | SF_BITMAP);
  ASSERT_TRUE(tiny);
  EXPECT_EQ(SizeOf(tiny.get()), 24u);
}

// ---- Flat cache of a master stream ----

class FlatCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteBinaryFile(master_, data_); }

  std::string Name() const { return cache_ + "*" + master_; }

  TempFolder folder_;
  std::vector<uint8_t> data_ = PatternBytes(kStreamSize, 21);
  std::string master_ = folder_ / "master.bin";
  std::string cache_ = folder_ / "cache.bin";
};

TEST_F(FlatCacheTest, FillsFromTheMasterAndWritesTheFooterOnClose) {
  {
    StreamPtr stream = Open(Name(), 0);
    ASSERT_TRUE(stream);
    // Sized at once: data, a 1-byte bitmap and the footer.
    EXPECT_EQ(fs::file_size(cache_), kStreamSize + 1 + 24);
    EXPECT_EQ(SizeOf(stream.get()), kStreamSize);
    EXPECT_EQ(Read(stream.get(), kBlock + 10, 20), Slice(data_, kBlock + 10, 20));
    EXPECT_EQ(Read(stream.get(), std::nullopt, kBlock), Slice(data_, kBlock + 30, kBlock));
  }
  std::vector<uint8_t> file = ReadBinaryFile(cache_);
  ASSERT_EQ(file.size(), kStreamSize + 1 + 24);
  EXPECT_EQ(file[kStreamSize], 0b0110) << "blocks 1 and 2 fetched";
  EXPECT_EQ(std::string(file.begin() + kStreamSize + 1, file.begin() + kStreamSize + 5), "ptv3");
  EXPECT_EQ(LittleU32(file, kStreamSize + 5), 3u);
  EXPECT_EQ(LittleU32(file, kStreamSize + 9), 10958u);
  EXPECT_EQ(LittleU32(file, kStreamSize + 13), kStreamSize);
  EXPECT_EQ(LittleU32(file, kStreamSize + 21), kBlock);
  EXPECT_EQ(Slice(file, kBlock, kBlock), Slice(data_, kBlock, kBlock));
}

TEST_F(FlatCacheTest, MixedRunsComeFromCacheAndMasterAndCompleteOnReopen) {
  {
    StreamPtr stream = Open(Name(), 0);
    ASSERT_TRUE(Read(stream.get(), 0, 1));           // block 0
    ASSERT_TRUE(Read(stream.get(), 2 * kBlock, 1));  // block 2
  }
  // The master changes: blocks already cached keep their old bytes.
  std::vector<uint8_t> changed = PatternBytes(kStreamSize, 22);
  WriteBinaryFile(master_, changed);
  std::vector<uint8_t> expected = data_;
  std::copy(changed.begin() + kBlock, changed.begin() + 2 * kBlock, expected.begin() + kBlock);
  std::copy(changed.begin() + 3 * kBlock, changed.end(), expected.begin() + 3 * kBlock);
  {
    StreamPtr stream = Open(Name(), 0);
    ASSERT_TRUE(stream);
    EXPECT_EQ(Read(stream.get(), 0, kStreamSize), expected);
  }
  // Every block is present now: the file reads whole without its master.
  WriteBinaryFile(master_, {});
  StreamPtr alone = Open(cache_, SF_READONLY | SF_BITMAP);
  ASSERT_TRUE(alone);
  EXPECT_EQ(SizeOf(alone.get()), kStreamSize);
  EXPECT_EQ(ReadInPieces(alone.get(), kStreamSize, 7000), expected);
}

TEST_F(FlatCacheTest, CacheOfAnotherSizeStartsOver) {
  WriteBinaryFile(cache_, PatternBytes(kStreamSize + 25 + 7, 3));
  {
    StreamPtr stream = Open(Name(), 0);
    ASSERT_TRUE(stream);
    EXPECT_EQ(fs::file_size(cache_), kStreamSize + 1 + 24);
    EXPECT_EQ(Read(stream.get(), 0, kStreamSize), data_);
  }
  EXPECT_EQ(ReadBinaryFile(cache_)[kStreamSize], 0x0F);
  EXPECT_EQ(OpenError(folder_ / "nofolder/cache*" + master_, 0), kErrorPathNotFound);
}

TEST_F(FlatCacheTest, ConcurrentReadersFetchEveryBlockOnce) {
  const size_t size = 40 * kBlock + 123;
  data_ = PatternBytes(size, 23);
  WriteBinaryFile(master_, data_);
  {
    StreamPtr stream = Open(Name(), 0);
    ASSERT_TRUE(stream);
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (size_t at = t * 1000; at + 3000 < size; at += 9000) {
          auto bytes = Read(stream.get(), at, 3000);
          if (!bytes || *bytes != Slice(data_, at, 3000)) ++failures[t];
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
  }
  WriteBinaryFile(master_, {});
  StreamPtr alone = Open(cache_, SF_READONLY | SF_BITMAP);
  ASSERT_TRUE(alone);
  EXPECT_EQ(Read(alone.get(), 0, 40 * kBlock), Slice(data_, 0, 40 * kBlock));
}

// ---- Partial files ----

class PartialFileTest : public ::testing::Test {
 protected:
  std::string Write(const testkit::PartialFile& file, const std::string& name = "partial") {
    WriteBinaryFile(folder_ / name, testkit::BuildPartialFile(file));
    return folder_ / name;
  }

  testkit::PartialFile File(uint32_t blockSize = kBlock, std::vector<bool> present = {}) {
    testkit::PartialFile file;
    file.data = data_;
    file.blockSize = blockSize;
    file.present = std::move(present);
    return file;
  }

  TempFolder folder_;
  std::vector<uint8_t> data_ = PatternBytes(kStreamSize, 31);
};

TEST_F(PartialFileTest, BlocksReadFromWhereTheMapPutsThem) {
  for (uint32_t blockSize : {512u, 4096u, kBlock, 65536u}) {
    SCOPED_TRACE(blockSize);
    std::string path = Write(File(blockSize));
    StreamPtr stream = Open("part-" + path, SF_READONLY);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->buildNumber, 10958u);
    EXPECT_EQ(SizeOf(stream.get()), kStreamSize);
    EXPECT_EQ(ReadInPieces(stream.get(), kStreamSize, 3001), data_);
    EXPECT_EQ(ReadError(stream.get(), kStreamSize - 4, 10), kErrorHandleEof);
  }
  std::string mapped = Write(File());
  StreamPtr viaMap = Open("PART-map://" + mapped, 0);
  ASSERT_TRUE(viaMap);
  EXPECT_EQ(Read(viaMap.get(), 100, kStreamSize - 200), Slice(data_, 100, kStreamSize - 200));
}

TEST_F(PartialFileTest, AbsentBlocksFailAndEitherFlagBitMakesABlockReadable) {
  StreamPtr stream = Open("part-" + Write(File(kBlock, {true, false, true, true})), SF_READONLY);
  ASSERT_TRUE(stream);
  EXPECT_EQ(Read(stream.get(), 2 * kBlock - 5, 100), std::nullopt);
  EXPECT_EQ(ReadError(stream.get(), kBlock, 1), kErrorBlockReadFailed);
  EXPECT_EQ(Read(stream.get(), 2 * kBlock, kBlock + 10), Slice(data_, 2 * kBlock, kBlock + 10));

  testkit::PartialFile halfFlagged = File();
  halfFlagged.presentFlags = 1;
  StreamPtr half = Open("part-" + Write(halfFlagged, "half"), SF_READONLY);
  ASSERT_TRUE(half);
  EXPECT_EQ(Read(half.get(), 0, kStreamSize), data_);
}

TEST_F(PartialFileTest, HeadersThatAreRefusedWithBadFormat) {
  struct Case {
    const char* what;
    void (*change)(testkit::PartialFile&);
  };
  const Case cases[] = {
      {"version 3", [](testkit::PartialFile& f) { f.version = 3; }},
      {"two digits", [](testkit::PartialFile& f) { f.buildText = "12"; }},
      {"letter among the first three", [](testkit::PartialFile& f) { f.buildText = "10a58"; }},
      {"no build text", [](testkit::PartialFile& f) { f.buildText = ""; }},
      {"build number overflows", [](testkit::PartialFile& f) { f.buildText = "99999999999"; }},
      {"block size zero", [](testkit::PartialFile& f) { f.blockSizeField = 0; }},
      {"block size not a power of two", [](testkit::PartialFile& f) { f.blockSizeField = 3000; }},
      {"block size beyond the limit",
       [](testkit::PartialFile& f) { f.blockSizeField = 0x2000000; }},
      {"map longer than the file", [](testkit::PartialFile& f) { f.streamSizeField = ~0ull; }},
      {"map as long as the file",
       [](testkit::PartialFile& f) {
         f.present = {false, false, false, false};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testkit::PartialFile file = File();
    c.change(file);
    EXPECT_EQ(OpenError("part-" + Write(file)), kErrorBadFormat);
  }
  WriteBinaryFile(folder_ / "short", std::vector<uint8_t>(52, '1'));
  EXPECT_EQ(OpenError("part-" + folder_ / "short"), kErrorBadFormat);
  EXPECT_EQ(OpenError("part-" + folder_ / "missing"), kErrorFileNotFound);

  // The smallest accepted: header, map and one byte.
  testkit::PartialFile smallest = File();
  smallest.present = {false, false, false, false};
  std::vector<uint8_t> bytes = testkit::BuildPartialFile(smallest);
  bytes.push_back(0);
  WriteBinaryFile(folder_ / "smallest", bytes);
  EXPECT_EQ(OpenError("part-" + folder_ / "smallest"), 0u);
}

TEST_F(PartialFileTest, CacheOfAMasterAppendsBlocksAndWritesTheMapOnClose) {
  std::string master = folder_ / "master";
  std::string cache = folder_ / "cache";
  WriteBinaryFile(master, data_);
  const uint64_t mapEnd = testkit::PartialMapEnd(kStreamSize, kBlock);
  {
    StreamPtr stream = Open("part-" + cache + "*" + master, 0);
    ASSERT_TRUE(stream);
    EXPECT_EQ(fs::file_size(cache), mapEnd);
    EXPECT_EQ(Read(stream.get(), 3 * kBlock + 1, 100), Slice(data_, 3 * kBlock + 1, 100));
    EXPECT_EQ(Read(stream.get(), 10, 10), Slice(data_, 10, 10));
  }
  std::vector<uint8_t> file = ReadBinaryFile(cache);
  // Block 3 is short: appended padded to a whole block, so that the data area
  // stays a multiple of the block size and the cache is kept on reopen.
  ASSERT_EQ(file.size(), mapEnd + 2 * kBlock);
  EXPECT_EQ(LittleU32(file, 0), 2u);
  EXPECT_EQ(std::string(file.begin() + 4, file.begin() + 36),
            std::string("10958") + std::string(27, '\0'));
  EXPECT_EQ(LittleU32(file, 40), kStreamSize);
  EXPECT_EQ(LittleU32(file, 48), kBlock);
  EXPECT_EQ(LittleU32(file, 52 + 3 * 20), 3u);
  EXPECT_EQ(LittleU32(file, 52 + 3 * 20 + 4), mapEnd) << "block 3 appended first";
  EXPECT_EQ(LittleU32(file, 52), 3u);
  EXPECT_EQ(LittleU32(file, 52 + 4), mapEnd + kBlock);
  EXPECT_EQ(LittleU32(file, 52 + 20), 0u);

  // Reopened over a changed master: cached blocks stay, the rest is fetched.
  std::vector<uint8_t> changed = PatternBytes(kStreamSize, 32);
  WriteBinaryFile(master, changed);
  std::vector<uint8_t> expected = changed;
  std::copy(data_.begin(), data_.begin() + kBlock, expected.begin());
  std::copy(data_.begin() + 3 * kBlock, data_.end(), expected.begin() + 3 * kBlock);
  {
    StreamPtr stream = Open("part-" + cache + "*" + master, 0);
    ASSERT_TRUE(stream);
    EXPECT_EQ(Read(stream.get(), 0, kStreamSize), expected);
  }
  StreamPtr alone = Open("part-" + cache, SF_READONLY);
  ASSERT_TRUE(alone);
  EXPECT_EQ(ReadInPieces(alone.get(), kStreamSize, 10000), expected);
}

TEST_F(PartialFileTest, CacheFileOfAnotherShapeStartsOver) {
  std::string master = folder_ / "master";
  WriteBinaryFile(master, data_);
  // A valid partial file of another stream size, and a file of odd length.
  testkit::PartialFile other = File();
  other.data.resize(kStreamSize - 100);
  Write(other, "other");
  WriteBinaryFile(folder_ / "odd",
                  PatternBytes(testkit::PartialMapEnd(kStreamSize, kBlock) + 5, 1));
  for (const char* name : {"other", "odd"}) {
    SCOPED_TRACE(name);
    StreamPtr stream = Open("part-" + folder_ / name + "*" + master, 0);
    ASSERT_TRUE(stream);
    EXPECT_EQ(SizeOf(stream.get()), kStreamSize);
    EXPECT_EQ(fs::file_size(folder_ / name), testkit::PartialMapEnd(kStreamSize, kBlock));
    EXPECT_EQ(Read(stream.get(), 0, kStreamSize), data_);
  }
}

// ---- Four-part sets ----

class FourPartTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::string base_ = folder_ / "archive";
};

TEST_F(FourPartTest, ShortLastPartReadsWithoutTheRecordTrailers) {
  const uint64_t size = 5 * kBlock + 1000;
  std::vector<uint64_t> written = {0, 1, 2, 3, 4, 5};
  ASSERT_EQ(testkit::WriteFourPartSet(base_, size, written), 1u);
  for (const std::string& name :
       {"blk4-" + base_, "blk4-" + base_ + ".0", "BLK4-file://" + base_}) {
    SCOPED_TRACE(name);
    StreamPtr stream = Open(name, SF_READONLY);
    ASSERT_TRUE(stream);
    EXPECT_EQ(SizeOf(stream.get()), size);
    EXPECT_EQ(ReadInPieces(stream.get(), size, 10007), testkit::FourPartContent(0, size, written));
    EXPECT_EQ(ReadError(stream.get(), size - 4, 10), kErrorHandleEof);
  }
}

TEST_F(FourPartTest, MissingFirstPartIsNotFound) {
  EXPECT_EQ(OpenError("blk4-" + base_), kErrorFileNotFound);
  testkit::WriteFourPartSet(base_, 3 * kBlock, {0});
  fs::rename(base_ + ".0", base_ + ".1");
  EXPECT_EQ(OpenError("blk4-" + base_), kErrorFileNotFound) << "a later part alone";
}

TEST_F(FourPartTest, ReadsAcrossPartsOfAFullFirstPart) {
  const uint64_t perPart = testkit::kFourPartRecordsPerPart;
  const uint64_t size = (perPart + 2) * kBlock + 500;
  std::vector<uint64_t> written = {0, perPart - 1, perPart, perPart + 2};
  ASSERT_EQ(testkit::WriteFourPartSet(base_, size, written), 2u);
  StreamPtr stream = Open("blk4-" + base_, SF_READONLY);
  ASSERT_TRUE(stream);
  EXPECT_EQ(SizeOf(stream.get()), size);
  const uint64_t from = (perPart - 1) * kBlock + 7;
  EXPECT_EQ(Read(stream.get(), from, 2 * kBlock),
            testkit::FourPartContent(from, 2 * kBlock, written));
  EXPECT_EQ(Read(stream.get(), (perPart + 2) * kBlock, 500),
            testkit::FourPartContent((perPart + 2) * kBlock, 500, written));

  // Without its second part the set ends after the first.
  fs::remove(base_ + ".1");
  StreamPtr first = Open("blk4-" + base_, SF_READONLY);
  ASSERT_TRUE(first);
  EXPECT_EQ(SizeOf(first.get()), perPart * kBlock);
}

TEST_F(FourPartTest, PartialRecordsCountOnlyBeyondTheirTrailer) {
  testkit::WriteFourPartSet(base_, 2 * kBlock, {0, 1});
  // 32 more bytes hold no data; 33 hold one byte.
  fs::resize_file(base_ + ".0", 2 * testkit::kFourPartRecordSize + 32);
  EXPECT_EQ(SizeOf(Open("blk4-" + base_, SF_READONLY).get()), 2 * kBlock);
  fs::resize_file(base_ + ".0", 2 * testkit::kFourPartRecordSize + 33);
  StreamPtr stream = Open("blk4-" + base_, SF_READONLY);
  EXPECT_EQ(SizeOf(stream.get()), 2 * kBlock + 1);
  EXPECT_EQ(Read(stream.get(), 2 * kBlock, 1), std::vector<uint8_t>(1, 0));
}

// ---- Encrypted archives ----

class EncryptedArchiveTest : public ::testing::Test {
 protected:
  static constexpr std::string_view kKey = "K7Q2M9X4B8N1V6C3Z5L0P2R8T4Y6W1E9";
  static constexpr std::string_view kNonce = "TESTNONC";

  void SetUp() override {
    plain_ = PatternBytes(64 * 40 + 13, 41);
    plain_[0] = 'M', plain_[1] = 'P', plain_[2] = 'Q', plain_[3] = 0x1A;
    WriteBinaryFile(path_, testkit::EncryptArchive(plain_, kKey, kNonce));
  }
  void TearDown() override { ResetEncryptedArchiveKeysForTesting(); }

  TempFolder folder_;
  std::string path_ = folder_ / "game.mpqe";
  std::vector<uint8_t> plain_;
};

TEST_F(EncryptedArchiveTest, NoShippedKeyFitsAnyArchive) {
  EXPECT_EQ(OpenError("mpqe-" + path_), kErrorUnknownFileKey);
  AddEncryptedArchiveKeyForTesting("0123456789ABCDEFGHIJKLMNOPQRSTUV");
  SetEncryptedArchiveNonceForTesting(kNonce);
  EXPECT_EQ(OpenError("mpqe-" + path_), kErrorUnknownFileKey) << "a key that does not fit";
}

TEST_F(EncryptedArchiveTest, TheFittingKeyDecryptsAnyRange) {
  AddEncryptedArchiveKeyForTesting("0123456789ABCDEFGHIJKLMNOPQRSTUV");
  AddEncryptedArchiveKeyForTesting(kKey);
  SetEncryptedArchiveNonceForTesting(kNonce);
  StreamPtr stream = Open("MPQE-" + path_, SF_READONLY);
  ASSERT_TRUE(stream);
  EXPECT_EQ(SizeOf(stream.get()), plain_.size());
  EXPECT_EQ(ReadInPieces(stream.get(), plain_.size(), 100), plain_);
  EXPECT_EQ(Read(stream.get(), 70, 1), Slice(plain_, 70, 1));
  EXPECT_EQ(Read(stream.get(), plain_.size() - 13, 13), Slice(plain_, plain_.size() - 13, 13));
  EXPECT_EQ(ReadError(stream.get(), plain_.size() - 4, 10), kErrorHandleEof);
}

}  // namespace
}  // namespace kestrine

// Plain streams: names with prefixes and masters, flags, positions,
// zero-fill, writes, and the providers that are refused.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "encoded/stream.h"
#include "kestrine.h"
#include "testkit/build_files.h"
#include "testkit/stream_files.h"
#include "tests/encoded/stream_test_util.h"
#include "tests/tool/test_util.h"

namespace kestrine {
namespace {

using streamtest::Open;
using streamtest::OpenError;
using streamtest::PositionOf;
using streamtest::Read;
using streamtest::ReadError;
using streamtest::SizeOf;
using streamtest::Slice;
using testkit::PatternBytes;
using testkit::TempFolder;
using testkit::WriteBinaryFile;

class PlainStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = PatternBytes(100000, 7);
    WriteBinaryFile(folder_ / "data.000", bytes_);
    path_ = folder_ / "data.000";
  }

  TempFolder folder_;
  std::vector<uint8_t> bytes_;
  std::string path_;
};

TEST_F(PlainStreamTest, PrefixesNameTheSamePlainFile) {
  const std::string windowsCased = folder_.path().string() + "\\DATA.000";
  for (const std::string& name :
       {path_, "flat-" + path_, "file:" + path_, "flat-file://" + path_, "FLAT-File://" + path_,
        "map:" + path_, "flat-map://" + path_, windowsCased}) {
    SCOPED_TRACE(name);
    StreamPtr stream = Open(name, SF_READONLY);
    ASSERT_TRUE(stream);
    EXPECT_EQ(SizeOf(stream.get()), bytes_.size());
    EXPECT_EQ(Read(stream.get(), 99990, 10), Slice(bytes_, 99990, 10));
    EXPECT_EQ(Read(stream.get(), 0, 100), Slice(bytes_, 0, 100));
  }
}

TEST_F(PlainStreamTest, NamesAndFlagsThatAreRefused) {
  EXPECT_EQ(OpenError(path_ + "*" + path_ + "*" + path_), kErrorInvalidParameter);
  EXPECT_EQ(OpenError(path_, SF_READONLY | 0x01), kErrorInvalidParameter) << "provider bits";
  EXPECT_EQ(OpenError(path_, SF_READONLY | 0x40), kErrorInvalidParameter) << "layer bits";
  EXPECT_EQ(OpenError(path_ + ".missing"), kErrorFileNotFound);
  EXPECT_EQ(OpenError(folder_ / "nofolder/file"), kErrorPathNotFound);
  EXPECT_EQ(OpenError(folder_.path().string()), kErrorInvalidParameter) << "a folder";
  // A master that cannot be opened fails the open with its own error.
  EXPECT_EQ(OpenError(folder_ / "cache*" + path_ + ".missing"), kErrorFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "cache"));
  // A network name must name its host (the open sends nothing).
  EXPECT_EQ(OpenError("http:///tpr/config/ab/cd/abcd"), kErrorInvalidParameter);
  EXPECT_EQ(OpenError("ribbit://eu.version.example.net:port/v1/products/x/versions"),
            kErrorInvalidParameter);
}

TEST_F(PlainStreamTest, UnknownPrefixIsPartOfTheFileName) {
  WriteBinaryFile(folder_ / "zip:data", bytes_);
  WriteBinaryFile(folder_ / "blk5-data", bytes_);
  streamtest::WorkingFolder inside(folder_.path());
  EXPECT_EQ(OpenError("zip:data"), 0u);
  EXPECT_EQ(OpenError("blk5-data"), 0u);
  EXPECT_EQ(OpenError("zip:data.000"), kErrorFileNotFound);
}

TEST_F(PlainStreamTest, PositionFollowsEveryRead) {
  StreamPtr stream = Open(path_, SF_READONLY);
  ASSERT_TRUE(stream);
  EXPECT_EQ(PositionOf(stream.get()), 0u);
  EXPECT_EQ(Read(stream.get(), std::nullopt, 10), Slice(bytes_, 0, 10));
  EXPECT_EQ(Read(stream.get(), std::nullopt, 10), Slice(bytes_, 10, 10));
  EXPECT_EQ(PositionOf(stream.get()), 20u);
  EXPECT_EQ(Read(stream.get(), 5000, 3), Slice(bytes_, 5000, 3));
  EXPECT_EQ(PositionOf(stream.get()), 5003u);
  EXPECT_EQ(Read(stream.get(), std::nullopt, 4), Slice(bytes_, 5003, 4));

  // Zero bytes anywhere succeed; a read past the end fails with 38.
  EXPECT_TRUE(Read(stream.get(), uint64_t{1} << 62, 0));
  EXPECT_EQ(ReadError(stream.get(), bytes_.size() - 4, 10), kErrorHandleEof);
  EXPECT_EQ(ReadError(stream.get(), bytes_.size() + 1, 1), kErrorHandleEof);
  EXPECT_EQ(ReadError(stream.get(), ~uint64_t{0}, 2), kErrorHandleEof);
}

TEST_F(PlainStreamTest, ZeroFillReturnsZerosForWhatTheFileLacks) {
  // A data archive cut short while the launcher writes it.
  std::filesystem::resize_file(path_, 1000);
  StreamPtr strict = Open(path_, SF_READONLY | SF_SHAREWRITE);
  StreamPtr filled = Open(path_, SF_READONLY | SF_SHAREWRITE | SF_ZEROFILL);
  ASSERT_TRUE(strict && filled);
  EXPECT_EQ(ReadError(strict.get(), 990, 20), kErrorHandleEof);

  std::vector<uint8_t> expected = Slice(bytes_, 990, 10);
  expected.resize(20, 0);
  EXPECT_EQ(Read(filled.get(), 990, 20), expected);
  EXPECT_EQ(PositionOf(filled.get()), 1010u);
  EXPECT_EQ(Read(filled.get(), 5000, 8), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(ReadError(filled.get(), ~uint64_t{0}, 2), kErrorHandleEof) << "no offset to zero-fill";
}

TEST_F(PlainStreamTest, MappedProviderReadsAndRefusesEmptyFiles) {
  WriteBinaryFile(folder_ / "empty", {});
  EXPECT_NE(OpenError("map:" + folder_ / "empty"), 0u);
  EXPECT_EQ(OpenError("map:" + folder_ / "missing"), kErrorFileNotFound);
  EXPECT_EQ(OpenError(folder_ / "empty"), 0u) << "a plain stream opens an empty file";

  StreamPtr stream = Open("map:" + path_, 0);
  ASSERT_TRUE(stream);
  EXPECT_EQ(Read(stream.get(), 50000, 100), Slice(bytes_, 50000, 100));
  EXPECT_EQ(ReadError(stream.get(), bytes_.size() - 1, 2), kErrorHandleEof);
  // The view is read-only whatever the caller asked for.
  uint8_t byte = 0;
  EXPECT_FALSE(WriteStream(stream.get(), 0, &byte, 1));
  EXPECT_FALSE(ResizeStream(stream.get(), 10));

  std::filesystem::resize_file(path_, 10);
  StreamPtr filled = Open("map:" + path_, SF_ZEROFILL);
  ASSERT_TRUE(filled);
  std::vector<uint8_t> expected = Slice(bytes_, 8, 2);
  expected.resize(6, 0);
  EXPECT_EQ(Read(filled.get(), 8, 6), expected);
}

TEST_F(PlainStreamTest, WritesResizesAndReadOnlyRefusals) {
  StreamPtr stream = Open(path_, 0);
  ASSERT_TRUE(stream);
  std::vector<uint8_t> patch = PatternBytes(300, 8);
  ASSERT_TRUE(WriteStream(stream.get(), 99900, patch.data(), patch.size()));
  EXPECT_EQ(SizeOf(stream.get()), 100200u);
  EXPECT_EQ(PositionOf(stream.get()), 100200u);
  ASSERT_TRUE(WriteStream(stream.get(), std::nullopt, patch.data(), 10));
  EXPECT_EQ(SizeOf(stream.get()), 100210u);
  EXPECT_EQ(Read(stream.get(), 99900, 300), patch);
  ASSERT_TRUE(ResizeStream(stream.get(), 50));
  EXPECT_EQ(SizeOf(stream.get()), 50u);
  EXPECT_EQ(ReadError(stream.get(), 40, 20), kErrorHandleEof);
  EXPECT_EQ(std::filesystem::file_size(path_), 50u);

  StreamPtr readOnly = Open(path_, SF_READONLY);
  ASSERT_TRUE(readOnly);
  EXPECT_FALSE(WriteStream(readOnly.get(), 0, patch.data(), 1));
  EXPECT_EQ(GetCascError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(ResizeStream(readOnly.get(), 0));
  EXPECT_EQ(std::filesystem::file_size(path_), 50u);
}

// Folder names are free to look like stream syntax: a local path is taken as
// written, where OpenStream would read a prefix or a master stream from it.
TEST_F(PlainStreamTest, LocalPathsAreTakenAsWritten) {
  const std::string folder = folder_ / "part-1*map:x";
  std::filesystem::create_directories(folder);
  WriteBinaryFile(folder + "/data.000", bytes_);
  for (const std::string& path : {folder + "/data.000", folder_.path().string() + "/DATA.000"}) {
    StreamPtr stream(OpenLocalStream(path, SF_READONLY));
    ASSERT_TRUE(stream) << path;
    EXPECT_EQ(Read(stream.get(), 99990, 10), Slice(bytes_, 99990, 10));
  }
  WholeFile whole;
  ASSERT_EQ(ReadWholeLocalFile(folder + "/data.000", whole), 0u);
  EXPECT_EQ(whole.bytes, bytes_);
  EXPECT_FALSE(StreamPtr(OpenStream(folder + "/data.000", SF_READONLY)));
  EXPECT_FALSE(StreamPtr(OpenLocalStream("file:" + path_, SF_READONLY)));
  EXPECT_EQ(GetCascError(), kErrorPathNotFound);
}

// A write the file cannot take (here: past a file-size limit) is disk full.
TEST_F(PlainStreamTest, ShortWriteIsDiskFull) {
  std::string result = test::RunWithFileSizeLimit(bytes_.size(), [&] {
    StreamPtr stream = Open(path_, 0);
    if (!stream) return std::string("open failed");
    uint8_t byte = 1;
    bool written = WriteStream(stream.get(), bytes_.size(), &byte, 1);
    return written ? std::string("written") : std::to_string(GetCascError());
  });
  EXPECT_EQ(result, std::to_string(kErrorDiskFull));
}

TEST_F(PlainStreamTest, FileTimeIsTheLastWriteTimeInWindowsUnits) {
  struct timespec times[2] = {{0, 0}, {1700000000, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  StreamPtr stream = Open(path_, SF_READONLY);
  ASSERT_TRUE(stream);
  EXPECT_EQ(GetStreamFileTime(stream.get()), (1700000000ull + 11644473600ull) * 10000000ull + 5);
}

TEST_F(PlainStreamTest, NullStreamAndBufferAreRefused) {
  CloseStream(nullptr);
  uint8_t byte;
  uint64_t value;
  EXPECT_FALSE(ReadStream(nullptr, 0, &byte, 1));
  EXPECT_EQ(GetCascError(), kErrorInvalidHandle);
  EXPECT_FALSE(GetStreamSize(nullptr, &value));
  EXPECT_FALSE(GetStreamPosition(nullptr, &value));
  StreamPtr stream = Open(path_, SF_READONLY);
  EXPECT_FALSE(ReadStream(stream.get(), 0, nullptr, 1));
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
}

TEST_F(PlainStreamTest, OneStreamServesSeveralThreads) {
  StreamPtr stream = Open(path_, SF_READONLY);
  ASSERT_TRUE(stream);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint8_t> buffer(997);
      for (int i = 0; i < 200; ++i) {
        size_t offset = static_cast<size_t>((t * 7919 + i * 104729) % (bytes_.size() - 997));
        if (!ReadStream(stream.get(), offset, buffer.data(), buffer.size()) ||
            buffer != Slice(bytes_, offset, buffer.size())) {
          ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace kestrine

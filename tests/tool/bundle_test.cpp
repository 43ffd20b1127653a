// The bundle writer: byte layout, the temporary file and its replacement of
// the output, and failing writes.
#include "tool/bundle_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tool/test_util.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using test::BundleRecord;

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Little(uint64_t value, int byteCount) {
  std::string bytes;
  for (int i = 0; i < byteCount; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  return bytes;
}

// Writes `records` as one bundle to `path` and commits it.
void WriteBundle(const std::string& path, const std::vector<BundleRecord>& records) {
  BundleWriter writer(path);
  writer.WriteHeader(static_cast<uint32_t>(records.size()));
  for (const BundleRecord& record : records) writer.WriteRecord(record.name, Bytes(record.data));
  writer.Commit();
}

class BundleWriterTest : public testing::Test {
 protected:
  std::vector<std::string> Listing() const { return test::FolderListing(folder_.path()); }

  test::TempDir folder_;
  std::string output_ = folder_.File("out.kvrn");
};

TEST_F(BundleWriterTest, OneAssetGivesTheTwentySixByteFile) {
  WriteBundle(output_, {{"arr/a.dat", "\x01\x02\x03"}});
  std::string expected = std::string("KVRN") + Little(1, 4) + Little(9, 2) + Little(3, 4) +
                         "arr/a.dat" + "\x01\x02\x03";
  ASSERT_EQ(expected.size(), 26u);
  EXPECT_EQ(test::ReadFile(output_), expected);
}

TEST_F(BundleWriterTest, RecordsFollowEachOtherWithoutPadding) {
  std::vector<BundleRecord> records = {
      {"arr/empty.dat", ""}, {"unit/a.grp", std::string("\0\xFF\0", 3)}, {"x", "data"}};
  WriteBundle(output_, records);
  std::string expected = std::string("KVRN") + Little(3, 4);
  for (const BundleRecord& r : records) {
    expected += Little(r.name.size(), 2) + Little(r.data.size(), 4) + r.name + r.data;
  }
  EXPECT_EQ(test::ReadFile(output_), expected);
}

TEST_F(BundleWriterTest, CountsAreLittleEndianBeyondOneByte) {
  std::vector<BundleRecord> records;
  for (int i = 0; i < 300; ++i)
    records.push_back({"r" + std::to_string(i), std::string(i % 3, 'd')});
  records.push_back({std::string(300, 'n'), std::string(70000, 'x')});
  WriteBundle(output_, records);

  std::string bytes = test::ReadFile(output_);
  EXPECT_EQ(bytes.substr(4, 4), Little(301, 4));
  size_t lastHeader = bytes.size() - 70000 - 300 - 6;
  EXPECT_EQ(bytes.substr(lastHeader, 6), Little(300, 2) + Little(70000, 4));
  std::vector<BundleRecord> read;
  ASSERT_TRUE(test::ReadBundle(output_, read));
  EXPECT_EQ(read, records);
}

TEST_F(BundleWriterTest, WritesIntoAHiddenTemporaryFileBesideTheOutput) {
  BundleWriter writer(output_);
  fs::path temporary = writer.temporaryPath();
  EXPECT_EQ(temporary.parent_path(), folder_.path());
  EXPECT_EQ(temporary.filename().string().front(), '.');
  EXPECT_EQ(Listing(), std::vector<std::string>{temporary.filename().string()});
  writer.WriteHeader(0);
  writer.Commit();
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
}

TEST_F(BundleWriterTest, AbandonAndDestructionRemoveTheTemporaryFile) {
  test::WriteFile(output_, "previous bundle");
  {
    BundleWriter writer(output_);
    writer.WriteHeader(1);
    writer.WriteRecord("a", Bytes("b"));
    writer.Abandon();
    EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
    writer.Abandon();
  }
  {
    BundleWriter writer(output_);
    writer.WriteHeader(1);
  }
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
  EXPECT_EQ(test::ReadFile(output_), "previous bundle");
}

TEST_F(BundleWriterTest, ReplacesAnExistingOutputOnlyOnCommit) {
  test::WriteFile(output_, "previous bundle");
  BundleWriter writer(output_);
  writer.WriteHeader(1);
  writer.WriteRecord("a", Bytes(std::string(4 << 20, 'z')));
  EXPECT_EQ(test::ReadFile(output_), "previous bundle");
  writer.Commit();
  std::vector<BundleRecord> read;
  ASSERT_TRUE(test::ReadBundle(output_, read));
  EXPECT_EQ(read, (std::vector<BundleRecord>{{"a", std::string(4 << 20, 'z')}}));
}

TEST_F(BundleWriterTest, RefusesOutputsThatCannotBeCreated) {
  fs::create_directory(folder_.path() / "folder");
  const std::string paths[] = {
      folder_.File("folder"),
      folder_.File("folder/"),
      folder_.File("missing/out.kvrn"),
      folder_.File("out.kvrn/"),
      "",
  };
  for (const std::string& path : paths) {
    EXPECT_EQ(test::FailureMessage([&] { BundleWriter writer(path); }),
              "Cannot create output bundle")
        << path;
  }
  EXPECT_EQ(Listing(), std::vector<std::string>{"folder"});
  EXPECT_TRUE(fs::is_empty(folder_.path() / "folder"));
}

TEST_F(BundleWriterTest, ResultHasTheModeOfAnOrdinaryNewFile) {
  for (mode_t mask : {mode_t(022), mode_t(077), mode_t(002)}) {
    mode_t previous = ::umask(mask);
    WriteBundle(output_, {{"a", "b"}});
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat(output_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << std::oct << mask;
  }
}

TEST_F(BundleWriterTest, FailedRenameIsACloseFailure) {
  BundleWriter writer(output_);
  writer.WriteHeader(0);
  fs::create_directory(output_);  // appears while the bundle is written
  EXPECT_EQ(test::FailureMessage([&] { writer.Commit(); }), "Bundle close failed");
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
  EXPECT_TRUE(fs::is_directory(output_));
}

// Writes `records` records, each of an empty name and `dataSize` bytes, in a
// process whose files may not grow past 1 KiB; returns the failure message
// and the folder listing afterwards.
std::string WriteBeyondFileSizeLimit(const std::string& output, size_t records, size_t dataSize) {
  return test::RunWithFileSizeLimit(1 << 10, [&] {
    std::string message;
    {
      BundleWriter writer(output);
      message = test::FailureMessage([&] {
        std::string data(dataSize, 'g');
        writer.WriteHeader(static_cast<uint32_t>(records));
        for (size_t i = 0; i < records; ++i) writer.WriteRecord("", Bytes(data));
        writer.Commit();
      });
    }
    std::string listing;
    for (const std::string& name : test::FolderListing(fs::path(output).parent_path())) {
      listing += " " + name;
    }
    return message + " |" + listing;
  });
}

TEST_F(BundleWriterTest, DataTheFileCannotTakeIsAWriteFailure) {
  test::WriteFile(output_, "previous bundle");
  // More than the stream buffers: the record's own write reaches the file.
  EXPECT_EQ(WriteBeyondFileSizeLimit(output_, 1, 4 << 20), "Write failed | out.kvrn");
  EXPECT_EQ(test::ReadFile(output_), "previous bundle");
}

TEST_F(BundleWriterTest, HeaderBytesTheFileCannotTakeAreAWriteFailure) {
  // Empty records are single-byte writes only; more than the stream buffers.
  EXPECT_EQ(WriteBeyondFileSizeLimit(output_, 400000, 0), "Write failed |");
}

TEST_F(BundleWriterTest, BufferedDataTheFileCannotTakeIsACloseFailure) {
  test::WriteFile(output_, "previous bundle");
  // Less than the stream buffers: only the final flush reaches the file.
  EXPECT_EQ(WriteBeyondFileSizeLimit(output_, 1, 2 << 10), "Bundle close failed | out.kvrn");
  EXPECT_EQ(test::ReadFile(output_), "previous bundle");
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
}

}  // namespace
}  // namespace kestrine

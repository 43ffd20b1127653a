// The bundle writer: byte layout, the temporary file and its replacement of
// the output, and failing writes.
#include "tool/bundle_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "testkit/special_files.h"
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

// A FIFO, socket or device at the output path is not a bundle to replace:
// the import fails before it writes anything and the node stays as it was.
TEST_F(BundleWriterTest, LeavesOutputsThatAreNotRegularFilesAlone) {
  ASSERT_TRUE(testkit::MakeFifo(folder_.File("fifo")));
  ASSERT_TRUE(testkit::MakeSocket(folder_.File("socket")));
  std::vector<std::pair<std::string, std::string>> nodes = {{"fifo", "fifo"}, {"socket", "socket"}};
  fs::create_symlink("fifo", folder_.path() / "link-to-fifo");
  nodes.push_back({"link-to-fifo", "symlink"});
  for (const auto& [name, kind] : nodes) {
    const std::string path = folder_.File(name);  // clang 14 lambdas cannot capture a binding
    EXPECT_EQ(test::FailureMessage([&] {
                WriteBundle(path, {{"a", "b"}});
              }),
              "Cannot create output bundle")
        << name;
    EXPECT_EQ(testkit::NodeKind(folder_.File(name)), kind) << name;
  }
  EXPECT_EQ(testkit::NodeKind(folder_.File("fifo")), "fifo");
  EXPECT_EQ(Listing().size(), nodes.size()) << "no temporary file stays";
}

TEST_F(BundleWriterTest, CharacterDeviceOutputStaysADevice) {
  // A private node of /dev/null's numbers, never a device of the machine.
  const std::string device = folder_.File("device");
  if (!testkit::MakeCharDevice(device, 1, 3)) GTEST_SKIP() << "mknod is not permitted";
  EXPECT_EQ(test::FailureMessage([&] {
              WriteBundle(device, {{"a", "b"}});
            }),
            "Cannot create output bundle");
  EXPECT_EQ(testkit::NodeKind(device), "char device");
  EXPECT_EQ(Listing(), std::vector<std::string>{"device"});
}

// A link to a bundle: the bundle it names is replaced in its own folder, the
// temporary file is made there, and the links stay links.
TEST_F(BundleWriterTest, FollowsLinksToTheBundleTheyName) {
  fs::create_directories(folder_.path() / "store" / "deep");
  const fs::path target = folder_.path() / "store" / "deep" / "real.kvrn";
  test::WriteFile(target, "previous bundle");
  // output_ -> store/hop (relative to the output's folder) -> deep/real.kvrn
  // (relative to store/, the hop's own folder).
  fs::create_symlink("deep/real.kvrn", folder_.path() / "store" / "hop");
  fs::create_symlink("store/hop", output_);
  {
    BundleWriter writer(output_);
    EXPECT_EQ(fs::path(writer.temporaryPath()).parent_path(), target.parent_path());
    writer.WriteHeader(1);
    writer.WriteRecord("a", Bytes("new"));
    writer.Commit();
  }
  std::vector<BundleRecord> read;
  ASSERT_TRUE(test::ReadBundle(target, read));
  EXPECT_EQ(read, (std::vector<BundleRecord>{{"a", "new"}}));
  EXPECT_EQ(testkit::NodeKind(output_), "symlink");
  EXPECT_EQ(fs::read_symlink(output_), "store/hop");
  EXPECT_EQ(testkit::NodeKind(folder_.File("store/hop")), "symlink");
  EXPECT_EQ(test::FolderListing(target.parent_path()), std::vector<std::string>{"real.kvrn"});
  EXPECT_EQ(Listing(), (std::vector<std::string>{"out.kvrn", "store"}));
}

// A link that names nothing, or only itself, is refused: it may point into a
// folder where nothing was meant to be written (an unmounted drive).
TEST_F(BundleWriterTest, RefusesLinksThatNameNoFile) {
  fs::create_symlink("missing.kvrn", output_);
  fs::create_symlink("loop-b", folder_.path() / "loop-a");
  fs::create_symlink("loop-a", folder_.path() / "loop-b");
  for (const std::string& path : {output_, folder_.File("loop-a")}) {
    EXPECT_EQ(test::FailureMessage([&] {
                WriteBundle(path, {{"a", "b"}});
              }),
              "Cannot create output bundle")
        << path;
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"loop-a", "loop-b", "out.kvrn"}));
  EXPECT_EQ(fs::read_symlink(output_), "missing.kvrn");
}

// In a shared sticky folder (such as /tmp) a link of another user is not
// followed, as the kernel would not follow it either; one of our own is.
TEST_F(BundleWriterTest, FollowsLinksInASharedStickyFolderOnlyWhenTheyAreOurs) {
  const fs::path shared = folder_.path() / "shared";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  test::WriteFile(folder_.File("victim"), "a file of ours");
  fs::create_symlink(folder_.File("victim"), shared / "planted");
  if (::lchown((shared / "planted").c_str(), ::geteuid() + 4321, ::getegid()) != 0) {
    GTEST_SKIP() << "the link cannot be given to another user";
  }
  EXPECT_EQ(test::FailureMessage([&] {
              WriteBundle((shared / "planted").string(), {{"a", "b"}});
            }),
            "Cannot create output bundle");
  EXPECT_EQ(test::ReadFile(folder_.File("victim")), "a file of ours");

  fs::create_symlink(folder_.File("victim"), shared / "ours");
  WriteBundle((shared / "ours").string(), {{"a", "b"}});
  std::vector<BundleRecord> read;
  ASSERT_TRUE(test::ReadBundle(folder_.File("victim"), read));
  EXPECT_EQ(read, (std::vector<BundleRecord>{{"a", "b"}}));
}

// Linux allows names of up to 255 bytes; the temporary name must not grow
// with the output's.
TEST_F(BundleWriterTest, WritesOutputsWithTheLongestLegalNames) {
  for (size_t length : {250u, 255u}) {
    const std::string path = folder_.File(std::string(length - 5, 'n') + ".kvrn");
    test::WriteFile(path, "previous bundle");
    WriteBundle(path, {{"a", "b"}});
    std::vector<BundleRecord> read;
    ASSERT_TRUE(test::ReadBundle(path, read)) << length;
    EXPECT_EQ(read, (std::vector<BundleRecord>{{"a", "b"}}));
    fs::remove(path);
  }
  EXPECT_TRUE(Listing().empty());
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

// Reading small files whole: sizes accepted and refused, and the flag that
// marks a name list of "file id;name" lines.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "encoded/stream.h"
#include "kestrine.h"
#include "testkit/build_files.h"
#include "testkit/stream_files.h"

namespace kestrine {
namespace {

using testkit::TempFolder;

class ReadWholeFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text, const std::string& name = "file.txt") {
    testkit::WriteTextFile(folder_.path() / name, text);
    return folder_ / name;
  }

  // The id-list flag of a file holding `text`.
  uint64_t FlagsOf(const std::string& text) {
    WholeFile file;
    EXPECT_EQ(ReadWholeFile(Write(text), file), 0u) << text;
    return file.flags;
  }

  TempFolder folder_;
};

TEST_F(ReadWholeFileTest, ReadsTheWholeFileFromTheStart) {
  std::vector<uint8_t> bytes = testkit::PatternBytes(70000, 3);
  testkit::WriteBinaryFile(folder_ / "Build.Info", bytes);
  WholeFile file;
  file.readPosition = 99;
  ASSERT_EQ(ReadWholeFile(folder_.path().string() + "\\build.info", file), 0u);
  EXPECT_EQ(file.bytes, bytes);
  EXPECT_EQ(file.readPosition, 0u);
  EXPECT_EQ(file.flags, 0u);
  ASSERT_EQ(ReadWholeFile("file://" + Write("x"), file), 0u) << "prefixes reach the stream";
  EXPECT_EQ(file.bytes, std::vector<uint8_t>{'x'});
}

TEST_F(ReadWholeFileTest, RefusesMissingEmptyAndOversizedFiles) {
  WholeFile file;
  file.bytes = {1, 2, 3};
  EXPECT_EQ(ReadWholeFile(folder_ / "missing", file), kErrorFileNotFound);
  EXPECT_EQ(GetCascError(), kErrorFileNotFound);
  EXPECT_EQ(ReadWholeFile(Write(""), file), kErrorBadFormat);
  EXPECT_EQ(file.bytes, (std::vector<uint8_t>{1, 2, 3})) << "left alone on failure";

  // Sparse files: only the size matters. 0x30000000 bytes is the largest.
  std::string large = Write("", "large");
  std::filesystem::resize_file(large, 0x30000001);
  EXPECT_EQ(ReadWholeFile(large, file), kErrorBadFormat);
  std::filesystem::resize_file(large, 0x30000000);
  ASSERT_EQ(ReadWholeFile(large, file), 0u);
  EXPECT_EQ(file.bytes.size(), 0x30000000u);
}

TEST_F(ReadWholeFileTest, FlagsNameListsThatStartWithAFileId) {
  const std::string tail(40, 'n');
  EXPECT_EQ(FlagsOf("1;" + tail), WholeFile::kIdListFlag);
  EXPECT_EQ(FlagsOf("1234567890;" + tail), WholeFile::kIdListFlag) << "ten digits";
  EXPECT_EQ(FlagsOf("12345678901;" + tail), 0u) << "eleven digits";
  EXPECT_EQ(FlagsOf(";" + tail), 0u) << "no digit";
  EXPECT_EQ(FlagsOf("12a;" + tail), 0u);
  EXPECT_EQ(FlagsOf("interface/x.blp\n" + tail), 0u);
  // 33 bytes at least: one short of it is not a name list.
  EXPECT_EQ(FlagsOf("7;" + std::string(31, 'n')), WholeFile::kIdListFlag);
  EXPECT_EQ(FlagsOf("7;" + std::string(30, 'n')), 0u);
}

}  // namespace
}  // namespace kestrine

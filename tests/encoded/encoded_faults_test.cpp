// Encoded files with faults, stored in an installation and read through
// open-file handles: each fault is reported with its own error number, and
// the forgiving cases (short zlib streams, unframed data of the right size)
// read back as the format defines them.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/hex_key.h"
#include "encoded/open_file.h"
#include "kestrine.h"
#include "storage/storage.h"
#include "testkit/blte.h"
#include "testkit/build_files.h"
#include "testkit/index_files.h"
#include "testkit/stored_files.h"
#include "testkit/stream_files.h"

namespace kestrine {
namespace {

using testkit::BltePlan;
using testkit::EncodeFile;
using testkit::EncryptionLayer;
using testkit::FramePlan;
using testkit::KeyFromSeed;
using testkit::PatternBytes;
using testkit::SplitFrames;
using testkit::StoredFile;

constexpr uint64_t kKnownName = 0x0123456789ABCDEFull;
constexpr uint64_t kUnknownName = 0x0123456789ABCDEEull;
const Key16 kKnownKey = KeyFromSeed(5);

struct FaultCase {
  const char* label;
  StoredFile file;
  uint32_t error;                                // 0: reads back as `expected`
  std::optional<std::vector<uint8_t>> expected;  // unset: the file's content
};

// A file of two frames of 100 bytes whose second frame is `faulty`.
StoredFile SecondFrame(uint32_t seed, FramePlan faulty, BltePlan layout = {}) {
  layout.frames = SplitFrames(200, 100, 'N');
  faulty.contentSize = 100;
  layout.frames[1] = faulty;
  return EncodeFile(PatternBytes(200, seed), layout);
}

FramePlan Mode(uint8_t mode) {
  FramePlan frame;
  frame.mode = mode;
  return frame;
}

FramePlan EncryptedFrame(std::function<void(EncryptionLayer&)> change) {
  EncryptionLayer layer;
  layer.keyName = kKnownName;
  layer.key = kKnownKey;
  change(layer);
  FramePlan frame = Mode('N');
  frame.encryption = {layer};
  return frame;
}

StoredFile WithTable(uint32_t seed, std::function<void(BltePlan&)> change) {
  BltePlan layout;
  layout.frames = SplitFrames(300, 100, 'Z');
  change(layout);
  return EncodeFile(PatternBytes(300, seed), layout);
}

// The archive record of a file stored unframed: the testkit's record
// header, then the bytes.
std::vector<uint8_t> ArchiveRecord(const StoredFile& file) {
  const auto size = static_cast<uint32_t>(testkit::kArchiveRecordHeaderSize + file.encoded.size());
  std::vector<uint8_t> record = testkit::ArchiveRecordHeader(file.ekey, size);
  record.insert(record.end(), file.encoded.begin(), file.encoded.end());
  return record;
}

std::vector<FaultCase> FaultCases() {
  std::vector<FaultCase> cases;
  uint32_t seed = 100;
  auto add = [&](const char* label, StoredFile file, uint32_t error) {
    cases.push_back({label, std::move(file), error, std::nullopt});
  };
  FramePlan wrongMd5 = Mode('Z');
  wrongMd5.md5 = testkit::Md5Fault::kWrong;
  add("wrong frame MD5", SecondFrame(++seed, wrongMd5), kErrorFileCorrupt);
  FramePlan corrupt = Mode('Z');
  corrupt.corruptZlib = true;
  add("damaged zlib stream", SecondFrame(++seed, corrupt), kErrorFileCorrupt);
  add("unknown frame mode", SecondFrame(++seed, Mode('X')), kErrorNotSupported);
  add("plain frame longer than its content",
      WithTable(++seed,
                [](BltePlan& layout) {
                  layout.frames = SplitFrames(300, 100, 'N');
                  layout.frames[2].contentSizeField = 99;
                }),
      kErrorInsufficientBuffer);
  cases.back().file.entryContentSize = 299;
  add("key-name size 4",
      SecondFrame(++seed, EncryptedFrame([](EncryptionLayer& l) { l.keyNameSize = 4; })),
      kErrorNotSupported);
  add("IV size 6",
      SecondFrame(++seed, EncryptedFrame([](EncryptionLayer& l) { l.iv = {1, 2, 3, 4, 5, 6}; })),
      kErrorNotSupported);
  add("encryption type B",
      SecondFrame(++seed, EncryptedFrame([](EncryptionLayer& l) { l.type = 'B'; })),
      kErrorNotSupported);
  add("encryption type A with a known key",
      SecondFrame(++seed, EncryptedFrame([](EncryptionLayer& l) { l.type = 'A'; })),
      kErrorNotSupported);
  add("encryption type A with an unknown key", SecondFrame(++seed, EncryptedFrame([](auto& l) {
        l.type = 'A';
        l.keyName = kUnknownName;
      })),
      kErrorUnknownFileKey);
  add("unknown key", SecondFrame(++seed, EncryptedFrame([](auto& l) { l.keyName = kUnknownName; })),
      kErrorUnknownFileKey);
  FramePlan truncated = EncryptedFrame([](EncryptionLayer&) {});
  truncated.truncateBy = 100 + 1 + 8 + 1;  // the frame ends inside the IV
  add("encrypted frame cut inside its header", SecondFrame(++seed, truncated), kErrorFileCorrupt);
  add("frame-table flags 0x10",
      WithTable(++seed, [](BltePlan& layout) { layout.tableFlags = 0x10; }), kErrorBadFormat);
  add("header size that is not 12 + 24 N",
      WithTable(++seed, [](BltePlan& layout) { layout.headerSizeField = 12 + 24 * 3 + 1; }),
      kErrorBadFormat);
  add("frame table longer than the file",
      WithTable(++seed,
                [](BltePlan& layout) {
                  layout.frameCountField = 3000;
                  layout.headerSizeField = 12 + 24 * 3000;
                }),
      kErrorBadFormat);
  add("frames larger than the file",
      WithTable(++seed,
                [](BltePlan& layout) {
                  layout.frames = SplitFrames(300, 100, 'N');
                  layout.frames[0].contentSizeField = 0xFFFFFFF0;
                }),
      kErrorBadFormat);
  cases.back().file.entryContentSize = kUnknownSize;
  add("unframed bytes whose size is not the content size",
      testkit::PlainFile(PatternBytes(64, ++seed)), kErrorBadFormat);
  BltePlan noTable;
  noTable.frames = SplitFrames(500, 500, 'Z');
  noTable.frameTable = false;
  add("no frame table and no content size", EncodeFile(PatternBytes(500, ++seed), noTable),
      kErrorCanNotComplete);
  cases.back().file.entryContentSize = kUnknownSize;

  // Forgiving cases.
  FramePlan shortStream = Mode('Z');
  shortStream.contentSizeField = 150;
  StoredFile zeroFilled = SecondFrame(++seed, shortStream);
  zeroFilled.entryContentSize = 250;
  std::vector<uint8_t> expected = zeroFilled.content;
  expected.resize(250, 0);
  cases.push_back({"zlib stream shorter than its frame", zeroFilled, 0, expected});

  add("frame sizes learned from the table", WithTable(++seed, [](BltePlan&) {}), kErrorSuccess);
  cases.back().file.entryContentSize = kUnknownSize;

  // Unframed data whose size is the content size is the content itself; in
  // an archive, the record header counts as part of it.
  StoredFile plain = testkit::PlainFile(PatternBytes(64, ++seed));
  plain.entryContentSize = 64 + 30;
  cases.push_back({"unframed bytes of the content size", plain, 0, ArchiveRecord(plain)});
  return cases;
}

TEST(EncodedFaultsTest, EachFaultIsReportedWithItsErrorNumber) {
  const std::vector<FaultCase> cases = FaultCases();
  std::vector<StoredFile> files;
  for (const FaultCase& c : cases) files.push_back(c.file);
  testkit::TempFolder folder;
  testkit::InstallationPlan layout;
  testkit::AddStoredFiles(layout, files);
  // One file has a content entry but is in no archive.
  StoredFile missing = testkit::PlainFile(PatternBytes(10, 999));
  files.push_back(missing);
  testkit::WriteInstallation(folder.path(), layout);
  StorageHandle storage = testkit::OpenWithContentEntries(folder.path(), files);
  ASSERT_NE(storage, nullptr) << GetCascError();
  ASSERT_TRUE(AddDecryptionKey(storage, kKnownName, kKnownKey.data()));

  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.label);
    FileHandle file = nullptr;
    ASSERT_TRUE(OpenFileByName(storage, FormatHexKey(c.file.ekey).c_str(), &file));
    const std::vector<uint8_t>& content = c.expected ? *c.expected : c.file.content;
    std::vector<uint8_t> buffer(content.size() + 400, 0xEE);
    uint32_t count = 0;
    bool ok = ReadOpenFile(file, buffer.data(), static_cast<uint32_t>(buffer.size()), &count);
    // A fault in a later frame ends the first read short; the next one fails.
    if (ok && count != 0 && c.error != kErrorSuccess) {
      ok = ReadOpenFile(file, buffer.data(), static_cast<uint32_t>(buffer.size()), &count);
    }
    if (c.error == kErrorSuccess) {
      EXPECT_TRUE(ok) << GetCascError();
      ASSERT_EQ(count, content.size());
      EXPECT_EQ(std::memcmp(buffer.data(), content.data(), content.size()), 0);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetCascError(), c.error);
      EXPECT_EQ(count, 0u);
    }
    CloseFile(file);
  }

  FileHandle file = nullptr;
  ASSERT_TRUE(OpenFileByName(storage, FormatHexKey(missing.ckey).c_str(), &file));
  uint64_t size = 0;
  EXPECT_EQ(GetFileContentSize(file, &size), kErrorFileNotFound);
  CloseFile(file);
  CloseStorage(storage);
}

}  // namespace
}  // namespace kestrine

// Stored files read back through open-file handles: every read pattern, the
// one-frame cache, the reference each file holds on its storage, and the
// faults of encoded files, each reported with its own error number.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/hex_key.h"
#include "encoded/open_file.h"
#include "kestrine.h"
#include "storage/storage.h"
#include "testkit/blte.h"
#include "testkit/build_files.h"
#include "testkit/stored_files.h"
#include "testkit/stream_files.h"

namespace kestrine {
namespace {

using testkit::BltePlan;
using testkit::DataLikeBytes;
using testkit::EncodeFile;
using testkit::EncryptionLayer;
using testkit::FramePlan;
using testkit::KeyFromSeed;
using testkit::PatternBytes;
using testkit::SplitFrames;
using testkit::StoredFile;
using testkit::TempFolder;

constexpr uint64_t kNameA = 0xFA505078126ACB3Eull;
constexpr uint64_t kNameB = 0x00000000000000B1ull;  // same bucket as no other
const Key16 kKeyA = KeyFromSeed(71);
const Key16 kKeyB = KeyFromSeed(72);

EncryptionLayer Layer(uint64_t name, const Key16& key, std::vector<uint8_t> iv) {
  EncryptionLayer layer;
  layer.keyName = name;
  layer.key = key;
  layer.iv = std::move(iv);
  return layer;
}

std::vector<FramePlan> Encrypted(std::vector<FramePlan> frames,
                                 const std::vector<EncryptionLayer>& layers) {
  for (FramePlan& frame : frames) frame.encryption = layers;
  return frames;
}

StoredFile Single(std::vector<uint8_t> content, uint8_t mode) {
  BltePlan layout;
  layout.frames = SplitFrames(content.size(), content.size(), mode);
  layout.frameTable = false;
  return EncodeFile(std::move(content), layout);
}

StoredFile Framed(std::vector<uint8_t> content, std::vector<FramePlan> frames) {
  BltePlan layout;
  layout.frames = std::move(frames);
  return EncodeFile(std::move(content), layout);
}

// Frames of 4 KiB, every third stored plain and every fourth unchecked.
std::vector<FramePlan> MixedFrames(size_t size) {
  std::vector<FramePlan> frames = SplitFrames(size, 4096, 'Z');
  for (size_t i = 0; i < frames.size(); ++i) {
    if (i % 3 == 1) frames[i].mode = 'N';
    if (i % 4 == 2) frames[i].md5 = testkit::Md5Fault::kZero;
  }
  return frames;
}

struct NamedFile {
  const char* label;
  StoredFile file;
};

std::vector<NamedFile> GoodFiles() {
  const std::vector<uint8_t> abcd{'a', 'b', 'c', 'd'};
  const std::vector<uint8_t> eight = DataLikeBytes(12000, 6);
  return {
      {"four plain bytes", Single(abcd, 'N')},
      {"zlib without frame table", Single(DataLikeBytes(5000, 1), 'Z')},
      {"two frames of 100", Framed(PatternBytes(200, 2), SplitFrames(200, 100, 'N'))},
      {"mixed modes", Framed(DataLikeBytes(50000, 3), MixedFrames(50000))},
      // 12 + 24 * 200 header bytes: more than the first read of 4096.
      {"frame table past the first read",
       Framed(DataLikeBytes(200 * 64, 4), SplitFrames(200 * 64, 64, 'Z'))},
      {"empty", Framed({}, SplitFrames(0, 1, 'N'))},
      {"encrypted",
       Framed(DataLikeBytes(9000, 5), Encrypted(SplitFrames(9000, 4000, 'Z'),
                                                {Layer(kNameA, kKeyA, {1, 2, 3, 4, 5, 6, 7, 8})}))},
      {"encrypted with 4-byte IVs",
       Framed(PatternBytes(3000, 7),
              Encrypted(SplitFrames(3000, 1000, 'N'), {Layer(kNameB, kKeyB, {9, 8, 7, 6})}))},
      {"nested encryption", Framed(eight, Encrypted(SplitFrames(eight.size(), 5000, 'Z'),
                                                    {Layer(kNameA, kKeyA, {1, 1, 1, 1, 1, 1, 1, 1}),
                                                     Layer(kNameB, kKeyB, {2, 2, 2, 2})}))},
      {"large", Framed(DataLikeBytes(300000, 8), SplitFrames(300000, 65536, 'Z'))},
  };
}

std::string UpperHex(const Key16& key) {
  std::string text = FormatHexKey(key);
  std::transform(text.begin(), text.end(), text.begin(), ::toupper);
  return text;
}

// Reads from the file pointer to the end in pieces of `piece` bytes.
std::vector<uint8_t> ReadInPieces(FileHandle file, size_t piece) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(piece);
  for (;;) {
    uint32_t count = 12345;
    EXPECT_TRUE(ReadOpenFile(file, buffer.data(), static_cast<uint32_t>(piece), &count))
        << GetCascError();
    if (count == 0 || count > piece) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + count);
  }
  return out;
}

class StoredFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder();
    files_ = new std::vector<NamedFile>(GoodFiles());
    testkit::InstallationPlan layout;
    for (const NamedFile& named : *files_) testkit::AddStoredFiles(layout, {&named.file, 1});
    testkit::WriteInstallation(folder_->path(), layout);
  }
  static void TearDownTestSuite() {
    delete files_;
    delete folder_;
  }

  void SetUp() override {
    std::vector<StoredFile> stored;
    for (const NamedFile& named : *files_) stored.push_back(named.file);
    storage_ = testkit::OpenWithContentEntries(folder_->path(), stored);
    ASSERT_NE(storage_, nullptr) << GetCascError();
  }
  void TearDown() override {
    if (storage_ != nullptr) CloseStorage(storage_);
  }

  void AddKeys() {
    ASSERT_TRUE(AddDecryptionKey(storage_, kNameA, kKeyA.data()));
    ASSERT_TRUE(AddDecryptionKey(storage_, kNameB, kKeyB.data()));
  }
  static const StoredFile& File(const std::string& label) {
    for (const NamedFile& named : *files_) {
      if (label == named.label) return named.file;
    }
    throw std::invalid_argument(label);
  }
  FileHandle Open(const StoredFile& file) {
    FileHandle handle = nullptr;
    EXPECT_TRUE(OpenFileByName(storage_, FormatHexKey(file.ckey).c_str(), &handle))
        << GetCascError();
    return handle;
  }

  static TempFolder* folder_;
  static std::vector<NamedFile>* files_;
  StorageHandle storage_ = nullptr;
};

TempFolder* StoredFilesTest::folder_ = nullptr;
std::vector<NamedFile>* StoredFilesTest::files_ = nullptr;

TEST_F(StoredFilesTest, EveryFileReadsBackByEitherKeyInEveryPattern) {
  AddKeys();
  for (const NamedFile& named : *files_) {
    const StoredFile& file = named.file;
    for (const std::string& name : {FormatHexKey(file.ckey), UpperHex(file.ekey)}) {
      for (size_t piece : {file.content.size() + 10, size_t{1}, size_t{30}, size_t{4097}}) {
        SCOPED_TRACE(std::string(named.label) + " as " + name + " in pieces of " +
                     std::to_string(piece));
        FileHandle handle = nullptr;
        ASSERT_TRUE(OpenFileByName(storage_, name.c_str(), &handle)) << GetCascError();
        uint64_t size = 0;
        EXPECT_EQ(GetFileContentSize(handle, &size), kErrorSuccess);
        EXPECT_EQ(size, file.content.size());
        EXPECT_TRUE(ReadInPieces(handle, piece) == file.content);
        EXPECT_TRUE(CloseFile(handle));
      }
    }
  }
}

TEST_F(StoredFilesTest, PiecesAcrossAFrameEdgeComeFromTheCacheAndTheNextFrame) {
  const StoredFile& stored = File("two frames of 100");
  FileHandle handle = Open(stored);
  auto* file = reinterpret_cast<TCascFile*>(handle);
  uint8_t piece[30];
  uint32_t count = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ReadOpenFile(handle, piece, 30, &count));
  EXPECT_EQ(file->cacheStart, 0u);
  EXPECT_EQ(file->cacheEnd, 100u);

  // Bytes 90-120: ten from the cached frame 0, twenty from frame 1, which
  // is then cut by the request and becomes the cache.
  ASSERT_TRUE(ReadOpenFile(handle, piece, 30, &count));
  EXPECT_EQ(count, 30u);
  EXPECT_EQ(std::memcmp(piece, stored.content.data() + 90, 30), 0);
  EXPECT_EQ(file->cacheStart, 100u);
  EXPECT_EQ(file->cacheEnd, 200u);
  EXPECT_EQ(file->filePointer, 120u);
  CloseFile(handle);
}

TEST_F(StoredFilesTest, ShortAndEmptyReadsSucceed) {
  FileHandle handle = Open(File("four plain bytes"));
  uint8_t buffer[10];
  uint32_t count = 99;
  EXPECT_TRUE(ReadOpenFile(handle, buffer, 0, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(ReadOpenFile(handle, buffer, 10, &count));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(std::memcmp(buffer, "abcd", 4), 0);
  EXPECT_TRUE(ReadOpenFile(handle, buffer, 10, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(ReadOpenFile(handle, buffer, 10, nullptr));
  CloseFile(handle);
}

TEST_F(StoredFilesTest, AFileKeepsItsStorageAliveAfterTheStorageIsClosed) {
  const StoredFile& stored = File("mixed modes");
  FileHandle handle = Open(stored);
  TCascStorage* storage = StorageFromHandle(storage_);
  EXPECT_EQ(storage->refCount.load(), 2u);
  ASSERT_TRUE(CloseStorage(storage_));
  storage_ = nullptr;
  EXPECT_EQ(storage->refCount.load(), 1u);
  EXPECT_TRUE(ReadInPieces(handle, 7000) == stored.content);
  EXPECT_TRUE(CloseFile(handle));  // frees the storage (the leak checker sees it)
}

TEST_F(StoredFilesTest, EncryptedFramesDecryptWithKeysAddedAtRunTime) {
  FileHandle handle = Open(File("encrypted"));
  uint8_t buffer[100];
  uint32_t count = 1;
  EXPECT_FALSE(ReadOpenFile(handle, buffer, sizeof(buffer), &count));
  EXPECT_EQ(GetCascError(), kErrorUnknownFileKey);
  EXPECT_EQ(count, 0u);

  ASSERT_TRUE(AddDecryptionKey(storage_, kNameA, kKeyA.data()));
  EXPECT_TRUE(ReadInPieces(handle, 1000) == File("encrypted").content);
  CloseFile(handle);

  // The inner layer needs the second key.
  handle = Open(File("nested encryption"));
  EXPECT_FALSE(ReadOpenFile(handle, buffer, sizeof(buffer), &count));
  EXPECT_EQ(GetCascError(), kErrorUnknownFileKey);
  ASSERT_TRUE(AddDecryptionKey(storage_, kNameB, kKeyB.data()));
  EXPECT_TRUE(ReadInPieces(handle, 1000) == File("nested encryption").content);
  CloseFile(handle);
}

TEST_F(StoredFilesTest, TheWholeFileReaderDecodesEverySpanInOnePass) {
  const StoredFile& stored = File("mixed modes");
  TCascFile* file = nullptr;
  ASSERT_EQ(OpenFileByCKey(*StorageFromHandle(storage_), stored.ckey, file), kErrorSuccess);
  SetReadStrategy(*file, ReadStrategy::kWholeFile);
  std::vector<uint8_t> content(stored.content.size());
  uint32_t count = 0;
  // Only the whole file at once.
  EXPECT_FALSE(ReadOpenFile(HandleOf(file), content.data(), 100, &count));
  ASSERT_TRUE(
      ReadOpenFile(HandleOf(file), content.data(), static_cast<uint32_t>(content.size()), &count));
  EXPECT_EQ(count, content.size());
  EXPECT_TRUE(content == stored.content);
  CloseFile(HandleOf(file));
}

// Spans decode into their own place in the output; the count returned must
// cover only bytes from the start that were all decoded.
TEST_F(StoredFilesTest, TheWholeFileReaderStopsAtTheFirstSpanThatFails) {
  TCascStorage& storage = *StorageFromHandle(storage_);
  ASSERT_TRUE(AddDecryptionKey(storage_, kNameB, kKeyB.data()));  // key A stays unknown
  // Reads the file of two spans: `first` and the entry after it.
  auto readWhole = [&](const StoredFile& first, const StoredFile& second,
                       std::vector<uint8_t>& content, uint32_t& count) {
    ContentEntry* entry = storage.contents.FindByCKey(first.ckey.data());
    EXPECT_EQ(entry + 1, storage.contents.FindByCKey(second.ckey.data()));
    entry->spanCount = 2;
    TCascFile* file = nullptr;
    EXPECT_EQ(OpenFileByCKey(storage, first.ckey, file), kErrorSuccess);
    SetReadStrategy(*file, ReadStrategy::kWholeFile);
    const size_t size = first.content.size() + second.content.size();
    content.assign(size, 0);
    count = 0;
    const bool read =
        ReadOpenFile(HandleOf(file), content.data(), static_cast<uint32_t>(size), &count);
    CloseFile(HandleOf(file));
    entry->spanCount = 1;
    return read;
  };
  std::vector<uint8_t> content;
  uint32_t count = 0;

  const StoredFile& keyA = File("encrypted");
  const StoredFile& keyB = File("encrypted with 4-byte IVs");
  EXPECT_FALSE(readWhole(keyA, keyB, content, count)) << "the second span alone must not count";
  EXPECT_EQ(GetCascError(), kErrorUnknownFileKey);
  EXPECT_EQ(count, 0u);

  const StoredFile& keysAB = File("nested encryption");
  EXPECT_TRUE(readWhole(keyB, keysAB, content, count));
  EXPECT_EQ(GetCascError(), kErrorUnknownFileKey);
  ASSERT_EQ(count, keyB.content.size());
  EXPECT_TRUE(std::equal(keyB.content.begin(), keyB.content.end(), content.begin()));
}

TEST_F(StoredFilesTest, ConsecutiveEntriesFormOneFileOfSeveralSpans) {
  AddKeys();
  TCascStorage& storage = *StorageFromHandle(storage_);
  const StoredFile& first = File("two frames of 100");
  const StoredFile& second = File("mixed modes");
  ContentEntry* entry = storage.contents.FindByCKey(first.ckey.data());
  ASSERT_EQ(entry + 1, storage.contents.FindByCKey(second.ckey.data()));
  std::vector<uint8_t> expected = first.content;
  expected.insert(expected.end(), second.content.begin(), second.content.end());

  entry->spanCount = 2;
  for (bool sizesKnown : {true, false}) {
    SCOPED_TRACE(sizesKnown ? "sizes known" : "sizes from the headers");
    if (!sizesKnown) entry[0].contentSize = entry[1].contentSize = kUnknownSize;
    FileHandle handle = Open(first);
    uint64_t size = 0;
    EXPECT_EQ(GetFileContentSize(handle, &size), kErrorSuccess);
    EXPECT_EQ(size, expected.size());
    EXPECT_TRUE(ReadInPieces(handle, 30) == expected);
    CloseFile(handle);
  }
}

TEST_F(StoredFilesTest, BadNamesHandlesAndArguments) {
  FileHandle handle = nullptr;
  const struct {
    const char* name;
    uint32_t error;
  } names[] = {
      {"0123456789abcdef0123456789ABCDEF", kErrorFileNotFound},  // neither key
      {"File42.dat", kErrorFileNotFound},                        // no root knows ids yet
      {"FILE0000002A.dat", kErrorFileNotFound},
      {"0123456789abcdef0123456789abcde", kErrorFileNotFound},  // 31 digits
      {"", kErrorInvalidParameter},
  };
  for (const auto& [name, error] : names) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(OpenFileByName(storage_, name, &handle));
    EXPECT_EQ(GetCascError(), error);
  }
  EXPECT_FALSE(OpenFileByName(storage_, nullptr, &handle));
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
  const std::string ckey = FormatHexKey(File("empty").ckey);
  EXPECT_FALSE(OpenFileByName(storage_, ckey.c_str(), nullptr));
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
  char notAStorage[16] = "CASCFILE";
  EXPECT_FALSE(OpenFileByName(reinterpret_cast<StorageHandle>(notAStorage), ckey.c_str(), &handle));
  EXPECT_EQ(GetCascError(), kErrorInvalidHandle);

  // Every file operation checks the handle; the read also its buffer.
  uint8_t buffer[4];
  uint64_t size = 0;
  for (FileHandle bad :
       {static_cast<FileHandle>(nullptr), reinterpret_cast<FileHandle>(~uintptr_t{0}),
        reinterpret_cast<FileHandle>(notAStorage + 8), reinterpret_cast<FileHandle>(storage_)}) {
    EXPECT_FALSE(ReadOpenFile(bad, buffer, 4, nullptr));
    EXPECT_EQ(GetCascError(), kErrorInvalidHandle);
    EXPECT_EQ(GetFileContentSize(bad, &size), kErrorInvalidHandle);
    EXPECT_FALSE(CloseFile(bad));
    EXPECT_EQ(GetCascError(), kErrorInvalidHandle);
  }
  handle = Open(File("four plain bytes"));
  EXPECT_FALSE(ReadOpenFile(handle, nullptr, 4, nullptr));
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
  EXPECT_EQ(GetFileContentSize(handle, nullptr), kErrorInvalidParameter);
  CloseFile(handle);
}

TEST(FileDataIdNameTest, DecimalAndEightHexDigitForms) {
  const struct {
    const char* name;
    bool isId;
    uint32_t id;
  } cases[] = {
      {"File42.dat", true, 42},       {"File42", true, 42},
      {"File.dat", true, 0},          {"FILE0000002A.dat", true, 42},
      {"FILE0000002a", true, 42},     {"FILE2A.dat", false, 0},
      {"FILEFFFFFFFF.dat", false, 0}, {"FILE0000002A0.dat", false, 0},
      {"file42.dat", false, 0},       {"Filename.dat", false, 0},
      {"File4294967296", false, 0},   {"File4294967295.x", true, 0xFFFFFFFF},
      {"FILE0000002G.dat", false, 0},
  };
  for (const auto& [name, isId, id] : cases) {
    SCOPED_TRACE(name);
    uint32_t parsed = 7;
    EXPECT_EQ(ParseFileDataIdName(name, &parsed), isId);
    if (isId) {
      EXPECT_EQ(parsed, id);
    }
  }
}

}  // namespace
}  // namespace kestrine

// Where spans find their encoded bytes: the shared "data.%03u" archives of a
// storage, and the archives of ".build.config" storages that every open file
// opens for itself.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "encoded/data_archives.h"
#include "encoded/open_file.h"
#include "kestrine.h"
#include "storage/storage.h"
#include "testkit/blte.h"
#include "testkit/build_files.h"
#include "testkit/index_files.h"

namespace kestrine {
namespace {

struct StorageReleaser {
  void operator()(TCascStorage* storage) const { ReleaseStorage(storage); }
};
using StoragePtr = std::unique_ptr<TCascStorage, StorageReleaser>;

// A storage of `kind` whose archives lie in `folder`, with content entries
// for `files` at the places `archives` stored them.
StoragePtr StorageWith(BuildFileKind kind, const std::string& folder,
                       const std::vector<testkit::StoredFile>& files,
                       const testkit::DataArchiveWriter& archives, uint32_t offsetBits) {
  StoragePtr storage(new TCascStorage());
  storage->kind = kind;
  storage->dataPath = storage->archivePath = folder;
  storage->archiveOffsetBits = offsetBits;
  EXPECT_EQ(storage->contents.Create(kUnknownSize, kUnknownSize, 16), kErrorSuccess);
  for (size_t i = 0; i < files.size(); ++i) {
    const testkit::StoredBlob& blob = archives.blobs()[i];
    ContentEntry record;
    record.ckey = files[i].ckey;
    record.ekey = files[i].ekey;
    record.contentSize = static_cast<uint32_t>(files[i].content.size());
    record.encodedSize = blob.encodedSize;
    record.storageOffset = testkit::PackStorageOffset(blob.archive, blob.offset, offsetBits);
    record.flags = EF_CKEY | EF_EKEY | EF_LOCAL;
    storage->contents.Insert(record);
  }
  return storage;
}

std::vector<uint8_t> ReadAll(TCascFile* file, uint32_t* error) {
  std::vector<uint8_t> content(1 << 16);
  uint32_t count = 0;
  *error =
      ReadOpenFile(HandleOf(file), content.data(), static_cast<uint32_t>(content.size()), &count)
          ? kErrorSuccess
          : GetCascError();
  content.resize(count);
  return content;
}

std::vector<testkit::StoredFile> TwoFiles() {
  testkit::BltePlan layout;
  layout.frames = testkit::SplitFrames(10000, 3000, 'Z');
  return {testkit::EncodeFile(testkit::DataLikeBytes(10000, 1), layout),
          testkit::EncodeFile(testkit::DataLikeBytes(10000, 2), layout)};
}

TEST(DataArchivesTest, BuildConfigStoragesOpenAnArchivePerFileByItsSplitName) {
  testkit::TempFolder folder;
  const std::vector<testkit::StoredFile> files = TwoFiles();
  testkit::DataArchiveWriter archives;
  archives.UseArchive(0x102);
  archives.Add(files[0].ekey, files[0].encoded);
  archives.Add(files[1].ekey, files[1].encoded);
  ASSERT_TRUE(testkit::WriteFileBytes(folder / testkit::BuildConfigArchiveName(0x102),
                                      archives.archives().at(0x102)));
  EXPECT_EQ(testkit::BuildConfigArchiveName(0x102), "01-00000002.data");
  StoragePtr storage = StorageWith(BUILD_CONFIG, folder.path().string(), files, archives, 40);

  std::vector<TCascFile*> opened;
  for (const testkit::StoredFile& stored : files) {
    TCascFile* file = nullptr;
    ASSERT_EQ(OpenFileByCKey(*storage, stored.ckey, file), kErrorSuccess);
    uint32_t error = 0;
    EXPECT_TRUE(ReadAll(file, &error) == stored.content) << error;
    EXPECT_TRUE(file->flags & FF_OWN_STREAMS);
    EXPECT_NE(file->spans[0].ownStream, nullptr);
    opened.push_back(file);
  }
  EXPECT_NE(opened[0]->spans[0].stream, opened[1]->spans[0].stream);
  EXPECT_EQ(storage->dataArchives, nullptr);
  for (TCascFile* file : opened) CloseFile(HandleOf(file));

  // A bare zlib stream (no BLTE framing, no record header) read whole.
  const std::vector<uint8_t> content = testkit::DataLikeBytes(7000, 9);
  std::vector<uint8_t> stream = testkit::EncodeFrame(content, testkit::FramePlan{}, 0);
  stream.erase(stream.begin());  // the mode byte
  ASSERT_TRUE(testkit::WriteFileBytes(folder / testkit::BuildConfigArchiveName(3), stream));
  ContentEntry bare;
  bare.ckey = testkit::KeyFromSeed(33);
  bare.storageOffset = testkit::PackStorageOffset(3, 0, 40);
  bare.contentSize = static_cast<uint32_t>(content.size());
  bare.encodedSize = static_cast<uint32_t>(stream.size());
  bare.flags = EF_CKEY | EF_LOCAL | EF_BARE_ZLIB;
  storage->contents.Insert(bare);
  TCascFile* file = nullptr;
  ASSERT_EQ(OpenFileByCKey(*storage, bare.ckey, file), kErrorSuccess);
  uint32_t error = 0;
  EXPECT_TRUE(ReadAll(file, &error) == content) << error;
  CloseFile(HandleOf(file));
}

TEST(DataArchivesTest, DataArchivesAreSharedAndAMissingOneIsNotFound) {
  testkit::TempFolder folder;
  std::vector<testkit::StoredFile> files = TwoFiles();
  testkit::BltePlan single;
  single.frames = testkit::SplitFrames(10, 10, 'N');
  single.frameTable = false;
  files.push_back(testkit::EncodeFile(testkit::DataLikeBytes(10, 3), single));
  testkit::DataArchiveWriter archives;
  archives.UseArchive(7);
  archives.Add(files[0].ekey, files[0].encoded);
  archives.Add(files[1].ekey, files[1].encoded);
  archives.UseArchive(8);  // never written
  archives.Add(files[2].ekey, files[2].encoded);
  ASSERT_TRUE(archives.WriteTo(folder.path().string()));
  std::filesystem::remove(folder / testkit::DataArchiveName(8));
  StoragePtr storage = StorageWith(BUILD_INFO, folder.path().string(), files, archives, 30);

  TCascFile* first = nullptr;
  TCascFile* second = nullptr;
  ASSERT_EQ(OpenFileByCKey(*storage, files[0].ckey, first), kErrorSuccess);
  ASSERT_EQ(OpenFileByEKey(*storage, files[1].ekey, second), kErrorSuccess);
  uint32_t error = 0;
  EXPECT_TRUE(ReadAll(first, &error) == files[0].content) << error;
  EXPECT_TRUE(ReadAll(second, &error) == files[1].content) << error;
  EXPECT_EQ(first->spans[0].stream, second->spans[0].stream);
  EXPECT_EQ(first->spans[0].stream, storage->dataArchives->streams[7].get());
  EXPECT_EQ(first->flags & FF_OWN_STREAMS, 0u);

  TCascFile* missing = nullptr;
  ASSERT_EQ(OpenFileByCKey(*storage, files[2].ckey, missing), kErrorSuccess);
  ReadAll(missing, &error);
  EXPECT_EQ(error, kErrorFileNotFound);
  // Archive numbers end at 4095.
  missing->entries->storageOffset = uint64_t{4096} << 30;
  missing->spans[0].archiveIndex = 4096;
  ReadAll(missing, &error);
  EXPECT_EQ(error, kErrorFileNotFound);
  for (TCascFile* file : {first, second, missing}) CloseFile(HandleOf(file));

  TCascFile* none = nullptr;
  EXPECT_EQ(OpenFileByCKey(*storage, testkit::KeyFromSeed(1), none), kErrorFileNotFound);
}

}  // namespace
}  // namespace kestrine

#include "testkit/cdn_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/md5.h"
#include "online/mime.h"
#include "storage/build_info.h"
#include "storage/config_files.h"
#include "storage/remote_index.h"
#include "storage/storage.h"
#include "testkit/blte.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using namespace testkit;
using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Text(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

// A storage of `count` encoded files listed by the ENCODING manifest, with a
// DOWNLOAD manifest.
InstallationPlan PlanWithFiles(uint32_t count) {
  InstallationPlan plan;
  for (uint32_t i = 0; i < count; ++i) {
    BltePlan blte;
    blte.frames = SplitFrames(300 + 37 * i, 256);
    StoredFile file = EncodeFile(DataLikeBytes(300 + 37 * i, i), blte);
    plan.encoding.entries.push_back({file.ckey, file.content.size(), {file.ekey}});
    plan.files.push_back({file.ekey, std::move(file.encoded)});
  }
  plan.download = DownloadManifest{};
  for (const EncodedFile& file : plan.files) {
    DownloadEntry entry;
    entry.ekey = file.ekey;
    entry.encodedSize = file.encoded.size();
    plan.download->entries.push_back(entry);
  }
  return plan;
}

// The encoded bytes the tree was asked to hold under each EKey.
std::map<Key16, Bytes> ExpectedBytes(const InstallationPlan& plan, const CdnTree& tree) {
  std::map<Key16, Bytes> bytes;
  for (const EncodedFile& file : plan.files) bytes[file.ekey] = file.encoded;
  for (const auto* manifest : {&tree.encodingFile, &tree.downloadFile, &tree.rootFile}) {
    if (*manifest) bytes[(*manifest)->ekey] = (*manifest)->encoded;
  }
  return bytes;
}

TEST(CdnTreeTest, TablesGiveTheWrittenKeysHostsAndPathForEachRegion) {
  TempFolder temp;
  InstallationPlan plan;
  plan.cdn.hosts = "127.0.0.1:1 127.0.0.1:2";
  plan.cdn.versions[1].buildKey = KeyText(KeyFromSeed(5));  // the "eu" row runs another build
  CdnTree tree = WriteCdnTree(temp.path(), plan);
  EXPECT_EQ(tree.versionsFile, temp.path() / "kestest" / "versions");
  EXPECT_EQ(tree.versionsUrlPath, "/kestest/versions");
  EXPECT_EQ(Text(ReadFile(tree.versionsFile)), tree.versionsTable);

  TCascStorage us;
  ASSERT_EQ(ParseVersionsTable(us, tree.versionsTable), 0u);
  EXPECT_EQ(us.region, "us");
  EXPECT_EQ(us.buildConfigKey, KeyList{tree.buildKey});
  EXPECT_EQ(us.cdnConfigKey, KeyList{tree.cdnKey});
  EXPECT_EQ(us.buildNumber, 45678u);
  TCascStorage eu;
  eu.region = "eu";
  ASSERT_EQ(ParseVersionsTable(eu, tree.versionsTable), 0u);
  EXPECT_EQ(eu.buildConfigKey, KeyList{KeyFromSeed(5)});
  EXPECT_EQ(eu.cdnConfigKey, KeyList{tree.cdnKey});

  ASSERT_EQ(ParseCdnsTable(us, Text(ReadFile(tree.cdnsFile))), 0u);
  EXPECT_EQ(us.cdnHosts, "127.0.0.1:1 127.0.0.1:2");
  EXPECT_EQ(us.cdnPath, "tpr/kestest");

  // The hosts of a server started after the tree was written.
  const uint64_t bytesBefore = tree.totalBytes;
  SetCdnHosts(tree, "127.0.0.1:4567");
  TCascStorage later;
  ASSERT_EQ(ParseCdnsTable(later, Text(ReadFile(tree.cdnsFile))), 0u);
  EXPECT_EQ(later.cdnHosts, "127.0.0.1:4567");
  EXPECT_LT(tree.totalBytes, bytesBefore);

  // The Ribbit answers carry the same tables.
  for (const auto& [file, table] : {std::pair{tree.ribbitVersionsFile, tree.versionsTable},
                                    std::pair{tree.ribbitCdnsFile, tree.cdnsTable}}) {
    EXPECT_EQ(file.parent_path().parent_path(), tree.ribbitRoot);
    Bytes data;
    ASSERT_EQ(ParseRibbitAnswer(ReadFile(file), data), 0u) << file;
    EXPECT_EQ(Text(data), table);
  }
}

// Both writers of one plan name the same configurations: a test can compare
// a local installation with the online storage.
TEST(CdnTreeTest, ConfigurationsAreStoredByTheirMd5AsInTheLocalInstallation) {
  TempFolder temp;
  InstallationPlan plan = PlanWithFiles(9);
  plan.cdn.filesPerArchive = 4;
  CdnTree tree = WriteCdnTree(temp.path() / "cdn", plan);
  Installation local = WriteInstallation(temp.path() / "local", plan);
  EXPECT_EQ(tree.buildKey, local.buildKey);
  EXPECT_EQ(tree.cdnKey, local.cdnKey);
  ASSERT_TRUE(tree.encodingFile && local.encodingFile);
  EXPECT_EQ(tree.encodingFile->ekey, local.encodingFile->ekey);

  for (const auto& [path, key] : {std::pair{tree.buildConfigFile, tree.buildKey},
                                  std::pair{tree.cdnConfigFile, tree.cdnKey}}) {
    EXPECT_EQ(path, CdnFilePath(tree.root, "tpr/kestest", CdnFolder::kConfig, key));
    EXPECT_EQ(ComputeMd5(ReadFile(path)), key) << path;
    EXPECT_EQ(ReadFile(path), ReadFile(ConfigFilePath(local.dataDirectory, key)));
  }
  const std::string hex = KeyText(tree.buildKey);
  EXPECT_EQ(tree.buildConfigUrlPath,
            "/tpr/kestest/config/" + hex.substr(0, 2) + "/" + hex.substr(2, 2) + "/" + hex);

  TCascStorage storage;
  ASSERT_EQ(ParseBuildConfig(storage, ReadFile(tree.buildConfigFile)), 0u);
  EXPECT_EQ(storage.encodingEntry.ekey, tree.encodingFile->ekey);
  ASSERT_EQ(ParseCdnConfig(storage, ReadFile(tree.cdnConfigFile)), 0u);
  ASSERT_EQ(tree.archives.size(), 3u);  // 9 files, 4 to an archive
  KeyList archives;
  for (const CdnArchiveFile& archive : tree.archives) archives.push_back(archive.key);
  EXPECT_EQ(storage.archives, archives);
  EXPECT_EQ(local.cdnArchives, archives);
  EXPECT_EQ(storage.archiveGroup, KeyList{tree.archiveGroupKey});
}

// Each archive index parses, and each of its records names exactly the
// bytes of its file inside the archive; loose files lie alone.
TEST(CdnTreeTest, ArchiveIndexesPointAtTheEncodedBytes) {
  TempFolder temp;
  InstallationPlan plan = PlanWithFiles(10);
  plan.cdn.filesPerArchive = 3;
  plan.cdn.looseFiles = {plan.files[4].ekey};
  CdnTree tree = WriteCdnTree(temp.path(), plan);
  const std::map<Key16, Bytes> expected = ExpectedBytes(plan, tree);
  ASSERT_EQ(tree.archives.size(), 3u);

  RemoteArchiveMap map;
  TCascStorage storage;
  std::set<Key16> archived;
  for (uint32_t number = 0; number < tree.archives.size(); ++number) {
    const CdnArchiveFile& archive = tree.archives[number];
    const Bytes data = ReadFile(archive.data);
    EXPECT_EQ(data.size(), archive.dataSize);
    const size_t before = map.size();
    ASSERT_EQ(ParseRemoteArchiveIndex(ReadFile(archive.index), number, map, &storage), 0u);
    EXPECT_EQ(map.size() - before, archive.entryCount);
    for (const RemoteArchiveRecord& record : map.records().subspan(before)) {
      EXPECT_EQ(record.location >> 32, number);
      const uint64_t offset = record.location & 0xFFFFFFFF;
      ASSERT_LE(offset + record.encodedSize, data.size());
      const Bytes stored(data.begin() + offset, data.begin() + offset + record.encodedSize);
      EXPECT_EQ(stored, expected.at(record.key));
      const CdnStoredFile* file = tree.Find(record.key);
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(file->archive, number);
      EXPECT_EQ(file->archiveKey, archive.key);
      EXPECT_EQ(file->offset, offset);
      archived.insert(record.key);
    }
  }
  EXPECT_EQ(archived.size(), 9u);

  // The manifests and the one file asked for are loose, under their EKey.
  size_t loose = 0;
  for (const CdnStoredFile& file : tree.files) {
    if (file.archive) continue;
    ++loose;
    EXPECT_EQ(file.path, CdnFilePath(tree.root, "tpr/kestest", CdnFolder::kData, file.ekey));
    EXPECT_EQ(ReadFile(file.path), expected.at(file.ekey));
  }
  EXPECT_EQ(loose, 4u);  // ENCODING, DOWNLOAD, root and files[4]
  EXPECT_FALSE(tree.Find(plan.files[4].ekey)->archive);
  EXPECT_FALSE(tree.Find(tree.encodingFile->ekey)->archive);
}

TEST(CdnTreeTest, FaultsLeaveFilesOutOrSpoilTheirIndex) {
  TempFolder temp;
  InstallationPlan plan = PlanWithFiles(4);
  plan.cdn.filesPerArchive = 2;
  plan.cdn.patchFiles = {{KeyFromSeed(31), Bytes(40, 'p')}};
  CdnTree healthy = WriteCdnTree(temp.path() / "healthy", plan);
  plan.cdn.faults.missingArchiveIndexes = {1};
  plan.cdn.faults.badIndexChecksums = {0};
  plan.cdn.faults.missingLooseFiles = {healthy.encodingFile->ekey};
  CdnTree tree = WriteCdnTree(temp.path() / "faulty", plan);

  EXPECT_EQ(tree.cdnKey, healthy.cdnKey);  // the archives keep their keys
  ASSERT_EQ(tree.archives.size(), 2u);
  RemoteArchiveMap map;
  EXPECT_EQ(ParseRemoteArchiveIndex(ReadFile(tree.archives[0].index), 0, map, nullptr), 11u);
  EXPECT_FALSE(fs::exists(tree.archives[1].index));
  EXPECT_FALSE(tree.archives[1].indexWritten);
  EXPECT_TRUE(fs::exists(tree.archives[1].data));
  const CdnStoredFile* encoding = tree.Find(tree.encodingFile->ekey);
  EXPECT_FALSE(encoding->written);
  EXPECT_FALSE(fs::exists(encoding->path));

  const CdnStoredFile* patch = tree.Find(KeyFromSeed(31));
  ASSERT_NE(patch, nullptr);
  EXPECT_EQ(patch->folder, CdnFolder::kPatch);
  EXPECT_EQ(patch->urlPath, CdnUrlPath("tpr/kestest", CdnFolder::kPatch, KeyFromSeed(31)));
  EXPECT_EQ(ReadFile(patch->path), Bytes(40, 'p'));
}

// The open of an online storage fetches one index per archive: filler
// archives give a benchmark hundreds of them from a small storage.
TEST(CdnTreeTest, FillerArchivesGiveManyIndexesAndTheTotalsCountEveryFile) {
  TempFolder temp;
  InstallationPlan plan = PlanWithFiles(3);
  plan.cdn.minimumArchives = 200;
  plan.cdn.fillerFilesPerArchive = 2;
  CdnTree tree = WriteCdnTree(temp.path(), plan);
  ASSERT_EQ(tree.archives.size(), 200u);
  EXPECT_FALSE(tree.archives[0].filler);
  EXPECT_TRUE(tree.archives[1].filler);

  RemoteArchiveMap map;
  std::set<Key16> keys;
  for (uint32_t i = 0; i < tree.archives.size(); ++i) {
    ASSERT_EQ(ParseRemoteArchiveIndex(ReadFile(tree.archives[i].index), i, map, nullptr), 0u);
    keys.insert(tree.archives[i].key);
  }
  EXPECT_EQ(keys.size(), 200u);
  EXPECT_EQ(map.size(), 3u + 199 * 2);

  uint64_t bytes = 0;
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(tree.root)) {
    if (!entry.is_regular_file()) continue;
    bytes += entry.file_size();
    ++files;
  }
  EXPECT_EQ(tree.totalBytes, bytes);
  EXPECT_EQ(tree.fileCount, files);
}

}  // namespace
}  // namespace kestrine

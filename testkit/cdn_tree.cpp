#include "testkit/cdn_tree.h"

#include <algorithm>
#include <stdexcept>

#include "common/md5.h"
#include "testkit/index_files.h"
#include "testkit/mime.h"
#include "testkit/storage_content.h"

namespace kestrine::testkit {

namespace fs = std::filesystem;

namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

bool Contains(const std::vector<uint32_t>& numbers, size_t number) {
  return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

const char* FolderName(CdnFolder folder) {
  switch (folder) {
    case CdnFolder::kConfig:
      return "config";
    case CdnFolder::kData:
      return "data";
    case CdnFolder::kPatch:
      return "patch";
  }
  return "";
}

// "<config|data|patch>/ab/cd/<hex><extension>".
std::string RelativeKeyPath(CdnFolder folder, const Key16& key, std::string_view extension) {
  const std::string hex = KeyText(key);
  return std::string(FolderName(folder)) + "/" + hex.substr(0, 2) + "/" + hex.substr(2, 2) + "/" +
         hex + std::string(extension);
}

class TreeWriter {
 public:
  explicit TreeWriter(CdnTree& tree) : tree_(tree) {}

  void Write(const fs::path& path, std::span<const uint8_t> bytes) {
    if (!WriteFileBytes(path.string(), bytes))
      throw std::runtime_error("cannot write " + path.string());
    tree_.totalBytes += bytes.size();
    ++tree_.fileCount;
  }
  void Write(const fs::path& path, std::string_view text) { Write(path, Bytes(text)); }

  // Replaces a file written before (unless a test removed it since).
  void Rewrite(const fs::path& path, std::string_view text) {
    if (fs::exists(path)) {
      tree_.totalBytes -= fs::file_size(path);
      --tree_.fileCount;
    }
    Write(path, text);
  }

  fs::path PathOf(CdnFolder folder, const Key16& key, std::string_view extension = "") const {
    return CdnFilePath(tree_.root, tree_.cdnPath, folder, key, extension);
  }

 private:
  CdnTree& tree_;
};

std::string KeyOrDefault(const std::string& given, const Key16& written) {
  return given.empty() ? KeyText(written) : given;
}

std::string ServersOf(std::string_view hosts) {
  std::string servers;
  size_t start = 0;
  while (start < hosts.size()) {
    size_t end = std::min(hosts.find(' ', start), hosts.size());
    if (end > start) {
      servers += (servers.empty() ? "http://" : " http://") +
                 std::string(hosts.substr(start, end - start)) + "/?maxhosts=4";
    }
    start = end + 1;
  }
  return servers;
}

std::string CdnsText(const std::vector<CdnsRow>& rows, std::string_view path,
                     std::string_view hosts, uint32_t seqn) {
  TableText table;
  table.columns = {"Name!STRING:0", "Path!STRING:0", "Hosts!STRING:0", "Servers!STRING:0",
                   "ConfigPath!STRING:0"};
  table.rows.push_back({"## seqn = " + std::to_string(seqn)});
  for (const CdnsRow& row : rows) {
    const std::string rowHosts = row.hosts.value_or(std::string(hosts));
    table.rows.push_back({row.name, row.path.value_or(std::string(path)), rowHosts,
                          ServersOf(rowHosts), "tpr/configs/data"});
  }
  return FormatTable(table);
}

void WriteTables(CdnTree& tree, TreeWriter& writer, const CdnPlan& plan) {
  tree.versionsTable = VersionsTableText(plan, tree.buildKey, tree.cdnKey);
  tree.cdnsTable = CdnsTableText(plan);
  writer.Write(tree.versionsFile, tree.versionsTable);
  writer.Write(tree.cdnsFile, tree.cdnsTable);
  writer.Write(tree.ribbitVersionsFile, RibbitTableAnswer("versions", tree.versionsTable));
  writer.Write(tree.ribbitCdnsFile, RibbitTableAnswer("cdns", tree.cdnsTable));
}

void WriteConfigs(CdnTree& tree, TreeWriter& writer, const StorageContent& content) {
  tree.buildKey = ComputeMd5(Bytes(content.buildConfig));
  tree.cdnKey = ComputeMd5(Bytes(content.cdnConfig));
  tree.buildConfigFile = writer.PathOf(CdnFolder::kConfig, tree.buildKey);
  tree.cdnConfigFile = writer.PathOf(CdnFolder::kConfig, tree.cdnKey);
  tree.buildConfigUrlPath = CdnUrlPath(tree.cdnPath, CdnFolder::kConfig, tree.buildKey);
  tree.cdnConfigUrlPath = CdnUrlPath(tree.cdnPath, CdnFolder::kConfig, tree.cdnKey);
  writer.Write(tree.buildConfigFile, content.buildConfig);
  writer.Write(tree.cdnConfigFile, content.cdnConfig);
}

std::vector<uint8_t> ArchiveData(const CdnLayout& layout, const CdnArchive& archive,
                                 std::span<const PlacedFile> stored) {
  std::vector<uint8_t> data;
  data.reserve(archive.size);
  for (size_t member : archive.members) {
    std::span<const uint8_t> bytes = layout.BytesOf(member, stored);
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  return data;
}

void WriteArchive(CdnTree& tree, TreeWriter& writer, const StorageContent& content,
                  const CdnFaults& faults, uint32_t number) {
  const CdnArchive& archive = content.cdn.archives[number];
  CdnArchiveFile file;
  file.key = archive.key;
  file.data = writer.PathOf(CdnFolder::kData, archive.key);
  file.index = writer.PathOf(CdnFolder::kData, archive.key, ".index");
  file.dataUrlPath = CdnUrlPath(tree.cdnPath, CdnFolder::kData, archive.key);
  file.indexUrlPath = CdnUrlPath(tree.cdnPath, CdnFolder::kData, archive.key, ".index");
  file.dataSize = archive.size;
  file.indexSize = archive.index.size();
  file.entryCount = archive.members.size();
  file.filler = archive.filler;
  file.dataWritten = !Contains(faults.missingArchives, number);
  file.indexWritten = !Contains(faults.missingArchiveIndexes, number);
  if (file.dataWritten) writer.Write(file.data, ArchiveData(content.cdn, archive, content.stored));
  if (file.indexWritten) {
    std::vector<uint8_t> index = archive.index;
    if (Contains(faults.badIndexChecksums, number)) index.back() ^= 1;  // the checksum's last byte
    writer.Write(file.index, index);
  }
  tree.archives.push_back(std::move(file));
}

CdnStoredFile PlacedAt(const CdnTree& tree, const CdnPlacement& placement) {
  CdnStoredFile file;
  file.ekey = placement.ekey;
  file.size = placement.size;
  file.filler = placement.filler;
  if (placement.archive) {
    const CdnArchiveFile& archive = tree.archives[*placement.archive];
    file.archive = placement.archive;
    file.archiveKey = archive.key;
    file.offset = placement.offset;
    file.path = archive.data;
    file.urlPath = archive.dataUrlPath;
    file.written = archive.dataWritten;
  }
  return file;
}

void WriteLoose(CdnTree& tree, TreeWriter& writer, CdnStoredFile& file,
                std::span<const uint8_t> bytes, const CdnFaults& faults) {
  file.path = writer.PathOf(file.folder, file.ekey);
  file.urlPath = CdnUrlPath(tree.cdnPath, file.folder, file.ekey);
  const auto& missing = faults.missingLooseFiles;
  file.written = std::find(missing.begin(), missing.end(), file.ekey) == missing.end();
  if (file.written) writer.Write(file.path, bytes);
}

void WritePatchFiles(CdnTree& tree, TreeWriter& writer, const CdnPlan& plan) {
  for (const EncodedFile& encoded : plan.patchFiles) {
    CdnStoredFile file;
    file.ekey = encoded.ekey;
    file.size = static_cast<uint32_t>(encoded.encoded.size());
    file.folder = CdnFolder::kPatch;
    WriteLoose(tree, writer, file, encoded.encoded, plan.faults);
    tree.files.push_back(std::move(file));
  }
}

// The archives, then every file in the order of the layout's placements,
// the patch files coming before the fillers.
void WriteEncodedFiles(CdnTree& tree, TreeWriter& writer, const StorageContent& content,
                       const CdnPlan& plan) {
  const CdnLayout& layout = content.cdn;
  for (uint32_t i = 0; i < layout.archives.size(); ++i) {
    WriteArchive(tree, writer, content, plan.faults, i);
  }
  std::vector<CdnStoredFile> fillers;
  for (size_t i = 0; i < layout.placements.size(); ++i) {
    CdnStoredFile file = PlacedAt(tree, layout.placements[i]);
    if (!file.archive) {
      WriteLoose(tree, writer, file, layout.BytesOf(i, content.stored), plan.faults);
    }
    (file.filler ? fillers : tree.files).push_back(std::move(file));
  }
  WritePatchFiles(tree, writer, plan);
  tree.files.insert(tree.files.end(), fillers.begin(), fillers.end());
}

void NameTables(CdnTree& tree, const fs::path& root, const CdnPlan& plan) {
  tree.root = root;
  tree.ribbitRoot = root / "ribbit";
  tree.product = plan.product;
  tree.cdnPath = plan.path;
  tree.hosts = plan.hosts;
  tree.cdnsRows = plan.cdns;
  tree.seqn = plan.seqn;
  tree.versionsRibbitLine = plan.product + "/versions";
  tree.cdnsRibbitLine = plan.product + "/cdns";
  tree.versionsUrlPath = "/" + tree.versionsRibbitLine;
  tree.cdnsUrlPath = "/" + tree.cdnsRibbitLine;
  tree.versionsFile = root / tree.versionsRibbitLine;
  tree.cdnsFile = root / tree.cdnsRibbitLine;
  tree.ribbitVersionsFile = tree.ribbitRoot / tree.versionsRibbitLine;
  tree.ribbitCdnsFile = tree.ribbitRoot / tree.cdnsRibbitLine;
}

}  // namespace

std::string CdnUrlPath(std::string_view cdnPath, CdnFolder folder, const Key16& key,
                       std::string_view extension) {
  return "/" + std::string(cdnPath) + "/" + RelativeKeyPath(folder, key, extension);
}

fs::path CdnFilePath(const fs::path& root, std::string_view cdnPath, CdnFolder folder,
                     const Key16& key, std::string_view extension) {
  return root / cdnPath / RelativeKeyPath(folder, key, extension);
}

const CdnStoredFile* CdnTree::Find(const Key16& ekey) const {
  auto found = std::find_if(files.begin(), files.end(),
                            [&](const CdnStoredFile& file) { return file.ekey == ekey; });
  return found == files.end() ? nullptr : &*found;
}

std::string VersionsTableText(const CdnPlan& plan, const Key16& buildKey, const Key16& cdnKey) {
  TableText table;
  table.columns = {"Region!STRING:0",     "BuildConfig!HEX:16", "CDNConfig!HEX:16",
                   "KeyRing!HEX:16",      "BuildId!DEC:4",      "VersionsName!String:0",
                   "ProductConfig!HEX:16"};
  // The service's sequence number line follows the header; having a single
  // field, it is no row.
  table.rows.push_back({"## seqn = " + std::to_string(plan.seqn)});
  const std::string productConfig = KeyText(KeyFromSeed(700));
  for (const VersionsRow& row : plan.versions) {
    table.rows.push_back({row.region, KeyOrDefault(row.buildKey, buildKey),
                          KeyOrDefault(row.cdnKey, cdnKey), "", row.buildId, row.versionsName,
                          productConfig});
  }
  return FormatTable(table);
}

std::string CdnsTableText(const CdnPlan& plan) {
  return CdnsText(plan.cdns, plan.path, plan.hosts, plan.seqn);
}

std::string RibbitTableAnswer(std::string_view listName, const std::string& table) {
  return WriteMime(RibbitAnswer(listName, table, "kestrine test signature"));
}

CdnTree WriteCdnTree(const fs::path& root, const InstallationPlan& plan) {
  if (plan.kind == BUILD_CONFIG) {
    throw std::invalid_argument("a BUILD_CONFIG storage has no CDN configuration");
  }
  CdnTree tree;
  NameTables(tree, root, plan.cdn);
  fs::create_directories(root);
  StorageContent content = MakeStorageContent(plan);
  TreeWriter writer(tree);
  WriteConfigs(tree, writer, content);
  WriteTables(tree, writer, plan.cdn);
  WriteEncodedFiles(tree, writer, content, plan.cdn);
  tree.archiveGroupKey = content.cdn.archiveGroup;
  tree.encodingFile = std::move(content.encodingFile);
  tree.downloadFile = std::move(content.downloadFile);
  tree.rootFile = std::move(content.rootFile);
  return tree;
}

void SetCdnHosts(CdnTree& tree, std::string_view hosts) {
  tree.hosts = hosts;
  tree.cdnsTable = CdnsText(tree.cdnsRows, tree.cdnPath, tree.hosts, tree.seqn);
  TreeWriter writer(tree);
  writer.Rewrite(tree.cdnsFile, tree.cdnsTable);
  writer.Rewrite(tree.ribbitCdnsFile, RibbitTableAnswer("cdns", tree.cdnsTable));
}

}  // namespace kestrine::testkit

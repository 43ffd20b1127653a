#include "testkit/installation.h"

#include <algorithm>

#include "testkit/blte.h"
#include "testkit/config_archives.h"
#include "testkit/roots.h"

namespace kestrine::testkit {

namespace {

bool HasKey(const ConfigValues& values, std::string_view key) {
  return std::any_of(values.begin(), values.end(),
                     [&](const auto& line) { return line.first == key; });
}

// "name = CKEY EKEY" and "name-size = CONTENT ENCODED".
void NameManifest(ConfigValues& values, const std::string& name, const WrittenManifest& file,
                  std::optional<uint32_t> contentSize) {
  values.emplace_back(name, KeyText(file.ckey) + " " + KeyText(file.ekey));
  values.emplace_back(name + "-size", std::to_string(contentSize.value_or(file.content.size())) +
                                          " " + std::to_string(file.encoded.size()));
}

// The build configuration, with the ENCODING and DOWNLOAD manifests named
// unless it names an ENCODING manifest itself; the manifests to store go
// into `stored`.
std::vector<uint8_t> DefaultRoot() {
  PlainTextRoot root;
  root.lines.push_back(RootLine("kestrine/none.txt", Key16{}));
  return WritePlainTextRoot(root);
}

// A BUILD_CONFIG storage finds a file through its EKey: bytes 9 to 15 hold
// the archive number and offset. The root goes to offset 0 of archive 0
// (in the form asked for); the further files follow it.
void NameConfigFiles(Installation& installation, const InstallationPlan& layout,
                     ConfigValues& values, ConfigArchiveWriter& archives) {
  if (!HasKey(values, "vfs-root")) {
    WrittenManifest root = EncodeManifest(layout.rootFile.value_or(DefaultRoot()));
    if (layout.rootForm == ConfigFileForm::kBareZlib) root.encoded = BareZlibStream(root.content);
    const ConfigFile file =
        archives.AddEncoded("vfs-root", root.content, root.encoded, layout.rootForm, 0);
    root.ekey = file.ekey;
    NameConfigFile(values, file);
    installation.rootFile = std::move(root);
  }
  for (const ConfigFileLayout& file : layout.configFiles) {
    installation.configFiles.push_back(archives.Add(file));
    NameConfigFile(values, installation.configFiles.back());
  }
}

void NameRoot(Installation& installation, const InstallationPlan& layout, ConfigValues& values,
              EncodingManifest& encoding, std::vector<EncodedFile>& stored) {
  if (HasKey(values, "root")) return;
  WrittenManifest root = EncodeManifest(layout.rootFile.value_or(DefaultRoot()));
  encoding.entries.push_back({root.ckey, static_cast<uint32_t>(root.content.size()), {root.ekey}});
  stored.push_back({root.ekey, root.encoded});
  NameManifest(values, "root", root, std::nullopt);
  installation.rootFile = std::move(root);
}

ConfigValues CompleteBuildConfig(Installation& installation, const InstallationPlan& layout,
                                 std::vector<EncodedFile>& stored,
                                 ConfigArchiveWriter& configArchives) {
  ConfigValues values = layout.buildConfig;
  if (layout.kind == BUILD_CONFIG) NameConfigFiles(installation, layout, values, configArchives);
  if (HasKey(values, "encoding")) return values;

  EncodingManifest encoding = layout.encoding;
  if (layout.kind != BUILD_CONFIG) NameRoot(installation, layout, values, encoding, stored);
  if (layout.download) {
    WrittenManifest download = EncodeManifest(WriteDownloadManifest(*layout.download));
    encoding.entries.push_back({download.ckey,
                                layout.downloadContentSize.value_or(download.content.size()),
                                {download.ekey}});
    stored.push_back({download.ekey, download.encoded});
    NameManifest(values, "download", download, layout.downloadContentSize);
    installation.downloadFile = std::move(download);
  }
  WrittenManifest file = EncodeManifest(WriteEncodingManifest(encoding));
  if (layout.storeEncoding) stored.push_back({file.ekey, file.encoded});
  NameManifest(values, "encoding", file, layout.encodingContentSize);
  installation.encodingFile = std::move(file);
  return values;
}

ConfigValues CompleteCdnConfig(const InstallationPlan& layout) {
  ConfigValues values = layout.cdnConfig;
  if (!HasKey(values, "archives")) values.emplace_back("archives", KeyText(KeyFromSeed(900)));
  return values;
}

void WriteArchives(Installation& installation, const InstallationPlan& layout,
                   const std::vector<EncodedFile>& manifests) {
  DataArchiveWriter archives;
  if (layout.manifestsFirst) {
    for (const EncodedFile& file : manifests) archives.Add(file.ekey, file.encoded);
  }
  for (const EncodedFile& file : layout.files) archives.Add(file.ekey, file.encoded);
  if (!layout.manifestsFirst) {
    for (const EncodedFile& file : manifests) archives.Add(file.ekey, file.encoded);
  }
  std::filesystem::create_directories(installation.archiveFolder);
  archives.WriteTo(installation.archiveFolder.string());
  installation.blobs = archives.blobs();

  IndexFolder index;
  index.entries = archives.IndexEntries();
  index.version = layout.indexVersion;
  index.bucketCount = layout.indexBuckets;
  index.scheme = layout.indexScheme;
  index.upperCaseNames = layout.upperCaseIndexNames;
  WriteIndexFolder(installation.archiveFolder.string(), index);
}

void WriteBuildFile(Installation& installation, const InstallationPlan& layout) {
  if (layout.kind == BUILD_DB) {
    installation.buildFile = installation.root / ".build.db";
    WriteTextFile(installation.buildFile,
                  BuildDbText(KeyText(installation.buildKey), KeyText(installation.cdnKey),
                              layout.buildDbTags));
    return;
  }
  std::vector<ProductRow> products = layout.products;
  for (ProductRow& product : products) {
    if (product.buildKey.empty()) product.buildKey = KeyText(installation.buildKey);
    if (product.cdnKey.empty()) product.cdnKey = KeyText(installation.cdnKey);
  }
  installation.buildFile = installation.root / ".build.info";
  WriteTextFile(installation.buildFile,
                FormatTable(BuildInfoTable(products, layout.productColumn)));
}

}  // namespace

WrittenManifest EncodeManifest(std::vector<uint8_t> content) {
  BltePlan blte;
  blte.frames = SplitFrames(content.size(), 4096);
  StoredFile stored = EncodeFile(std::move(content), blte);
  return {stored.ckey, stored.ekey, std::move(stored.content), std::move(stored.encoded)};
}

Installation WriteInstallation(const std::filesystem::path& root, const InstallationPlan& layout) {
  Installation installation;
  installation.root = root;
  std::filesystem::create_directories(root);
  std::vector<EncodedFile> manifests;
  ConfigArchiveWriter configArchives;
  std::string buildConfig =
      BuildConfigText(CompleteBuildConfig(installation, layout, manifests, configArchives));

  if (layout.kind == BUILD_CONFIG) {
    installation.dataDirectory = root / "data";
    installation.buildFile = installation.dataDirectory / ".build.config";
    WriteTextFile(installation.buildFile, buildConfig);
    configArchives.WriteTo(installation.dataDirectory);
    return installation;
  }

  installation.dataDirectory = root / layout.dataDirectory;
  installation.archiveFolder = installation.dataDirectory / "data";
  installation.buildKey = StoreConfigFile(installation.dataDirectory, buildConfig);
  installation.cdnKey =
      StoreConfigFile(installation.dataDirectory, CdnConfigText(CompleteCdnConfig(layout)));
  WriteArchives(installation, layout, manifests);
  WriteBuildFile(installation, layout);
  return installation;
}

}  // namespace kestrine::testkit

#include "testkit/installation.h"

#include <algorithm>

#include "testkit/blte.h"

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
ConfigValues CompleteBuildConfig(Installation& installation, const InstallationSpec& spec,
                                 std::vector<EncodedFile>& stored) {
  ConfigValues values = spec.buildConfig;
  if (HasKey(values, "encoding")) return values;

  EncodingManifest encoding = spec.encoding;
  if (spec.download) {
    WrittenManifest download = EncodeManifest(WriteDownloadManifest(*spec.download));
    encoding.entries.push_back({download.ckey,
                                spec.downloadContentSize.value_or(download.content.size()),
                                {download.ekey}});
    stored.push_back({download.ekey, download.encoded});
    NameManifest(values, "download", download, spec.downloadContentSize);
    installation.downloadFile = std::move(download);
  }
  WrittenManifest file = EncodeManifest(WriteEncodingManifest(encoding));
  if (spec.storeEncoding) stored.push_back({file.ekey, file.encoded});
  NameManifest(values, "encoding", file, spec.encodingContentSize);
  installation.encodingFile = std::move(file);
  return values;
}

ConfigValues CompleteCdnConfig(const InstallationSpec& spec) {
  ConfigValues values = spec.cdnConfig;
  if (!HasKey(values, "archives")) values.emplace_back("archives", KeyText(KeyFromSeed(900)));
  return values;
}

void WriteArchives(Installation& installation, const InstallationSpec& spec,
                   const std::vector<EncodedFile>& manifests) {
  DataArchiveWriter archives;
  for (const EncodedFile& file : spec.files) archives.Add(file.ekey, file.encoded);
  for (const EncodedFile& file : manifests) archives.Add(file.ekey, file.encoded);
  std::filesystem::create_directories(installation.archiveFolder);
  archives.WriteTo(installation.archiveFolder.string());
  installation.blobs = archives.blobs();

  IndexFolder index;
  index.entries = archives.IndexEntries();
  index.version = spec.indexVersion;
  index.bucketCount = spec.indexBuckets;
  index.scheme = spec.indexScheme;
  index.upperCaseNames = spec.upperCaseIndexNames;
  WriteIndexFolder(installation.archiveFolder.string(), index);
}

void WriteBuildFile(Installation& installation, const InstallationSpec& spec) {
  if (spec.kind == BUILD_DB) {
    installation.buildFile = installation.root / ".build.db";
    WriteTextFile(installation.buildFile,
                  BuildDbText(KeyText(installation.buildKey), KeyText(installation.cdnKey),
                              spec.buildDbTags));
    return;
  }
  std::vector<ProductRow> products = spec.products;
  for (ProductRow& product : products) {
    if (product.buildKey.empty()) product.buildKey = KeyText(installation.buildKey);
    if (product.cdnKey.empty()) product.cdnKey = KeyText(installation.cdnKey);
  }
  installation.buildFile = installation.root / ".build.info";
  WriteTextFile(installation.buildFile, FormatTable(BuildInfoTable(products, spec.productColumn)));
}

}  // namespace

WrittenManifest EncodeManifest(std::vector<uint8_t> content) {
  BlteSpec blte;
  blte.frames = SplitFrames(content.size(), 4096);
  StoredFile stored = EncodeFile(std::move(content), blte);
  return {stored.ckey, stored.ekey, std::move(stored.content), std::move(stored.encoded)};
}

Installation WriteInstallation(const std::filesystem::path& root, const InstallationSpec& spec) {
  Installation installation;
  installation.root = root;
  std::filesystem::create_directories(root);
  std::vector<EncodedFile> manifests;
  std::string buildConfig = BuildConfigText(CompleteBuildConfig(installation, spec, manifests));

  if (spec.kind == BUILD_CONFIG) {
    installation.dataDirectory = root / "data";
    installation.buildFile = installation.dataDirectory / ".build.config";
    WriteTextFile(installation.buildFile, buildConfig);
    return installation;
  }

  installation.dataDirectory = root / spec.dataDirectory;
  installation.archiveFolder = installation.dataDirectory / "data";
  installation.buildKey = StoreConfigFile(installation.dataDirectory, buildConfig);
  installation.cdnKey =
      StoreConfigFile(installation.dataDirectory, CdnConfigText(CompleteCdnConfig(spec)));
  WriteArchives(installation, spec, manifests);
  WriteBuildFile(installation, spec);
  return installation;
}

}  // namespace kestrine::testkit

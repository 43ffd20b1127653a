#include "testkit/installation.h"

#include "testkit/config_archives.h"
#include "testkit/storage_content.h"

namespace kestrine::testkit {

namespace {

void WriteArchives(Installation& installation, const InstallationPlan& layout,
                   const StorageContent& content) {
  DataArchiveWriter archives;
  for (const PlacedFile& placed : content.stored) {
    archives.Add(placed.file->ekey, placed.file->encoded);
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

Installation WriteInstallation(const std::filesystem::path& root, const InstallationPlan& layout) {
  Installation installation;
  installation.root = root;
  std::filesystem::create_directories(root);
  StorageContent content = MakeStorageContent(layout);
  installation.encodingFile = std::move(content.encodingFile);
  installation.downloadFile = std::move(content.downloadFile);
  installation.rootFile = std::move(content.rootFile);
  installation.configFiles = std::move(content.configFiles);

  if (layout.kind == BUILD_CONFIG) {
    installation.dataDirectory = root / "data";
    installation.buildFile = installation.dataDirectory / ".build.config";
    WriteTextFile(installation.buildFile, content.buildConfig);
    content.configArchives.WriteTo(installation.dataDirectory);
    return installation;
  }

  installation.dataDirectory = root / layout.dataDirectory;
  installation.archiveFolder = installation.dataDirectory / "data";
  installation.buildKey = StoreConfigFile(installation.dataDirectory, content.buildConfig);
  installation.cdnKey = StoreConfigFile(installation.dataDirectory, content.cdnConfig);
  installation.cdnArchives = content.listedArchives;
  WriteArchives(installation, layout, content);
  WriteBuildFile(installation, layout);
  return installation;
}

}  // namespace kestrine::testkit

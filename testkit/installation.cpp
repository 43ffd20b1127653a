#include "testkit/installation.h"

#include <algorithm>

namespace kestrine::testkit {

namespace {

bool HasKey(const ConfigValues& values, std::string_view key) {
  return std::any_of(values.begin(), values.end(),
                     [&](const auto& line) { return line.first == key; });
}

ConfigValues CompleteBuildConfig(const InstallationSpec& spec) {
  ConfigValues values = spec.buildConfig;
  if (!HasKey(values, "encoding")) {
    values.emplace_back("encoding",
                        KeyText(DefaultEncodingCKey()) + " " + KeyText(DefaultEncodingEKey()));
    values.emplace_back("encoding-size", "4096 4200");
  }
  return values;
}

ConfigValues CompleteCdnConfig(const InstallationSpec& spec) {
  ConfigValues values = spec.cdnConfig;
  if (!HasKey(values, "archives")) values.emplace_back("archives", KeyText(KeyFromSeed(900)));
  return values;
}

void WriteArchives(Installation& installation, const InstallationSpec& spec) {
  DataArchiveWriter archives;
  for (const EncodedFile& file : spec.files) archives.Add(file.ekey, file.encoded);
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

Key16 DefaultEncodingCKey() {
  return KeyFromSeed(901);
}
Key16 DefaultEncodingEKey() {
  return KeyFromSeed(902);
}

Installation WriteInstallation(const std::filesystem::path& root, const InstallationSpec& spec) {
  Installation installation;
  installation.root = root;
  std::filesystem::create_directories(root);
  std::string buildConfig = BuildConfigText(CompleteBuildConfig(spec));

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
  WriteArchives(installation, spec);
  WriteBuildFile(installation, spec);
  return installation;
}

}  // namespace kestrine::testkit

#include "testkit/storage_content.h"

#include <algorithm>

#include "testkit/blte.h"
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

// A plain-text root whose one line names no stored file.
std::vector<uint8_t> DefaultRoot() {
  PlainTextRoot root;
  root.lines.push_back(RootLine("kestrine/none.txt", Key16{}));
  return WritePlainTextRoot(root);
}

// A BUILD_CONFIG storage finds a file through its EKey: bytes 9 to 15 hold
// the archive number and offset. The root goes to offset 0 of archive 0
// (in the form asked for); the further files follow it.
void NameConfigFiles(StorageContent& content, const InstallationPlan& plan, ConfigValues& values) {
  if (!HasKey(values, "vfs-root")) {
    WrittenManifest root = EncodeManifest(plan.rootFile.value_or(DefaultRoot()));
    if (plan.rootForm == ConfigFileForm::kBareZlib) root.encoded = BareZlibStream(root.content);
    const ConfigFile file =
        content.configArchives.AddEncoded("vfs-root", root.content, root.encoded, plan.rootForm, 0);
    root.ekey = file.ekey;
    NameConfigFile(values, file);
    content.rootFile = std::move(root);
  }
  for (const ConfigFileLayout& file : plan.configFiles) {
    content.configFiles.push_back(content.configArchives.Add(file));
    NameConfigFile(values, content.configFiles.back());
  }
}

void NameRoot(StorageContent& content, const InstallationPlan& plan, ConfigValues& values,
              EncodingManifest& encoding) {
  if (HasKey(values, "root")) return;
  WrittenManifest root = EncodeManifest(plan.rootFile.value_or(DefaultRoot()));
  encoding.entries.push_back({root.ckey, static_cast<uint32_t>(root.content.size()), {root.ekey}});
  content.manifests.push_back({root.ekey, root.encoded});
  NameManifest(values, "root", root, std::nullopt);
  content.rootFile = std::move(root);
}

void NameDownload(StorageContent& content, const InstallationPlan& plan, ConfigValues& values,
                  EncodingManifest& encoding) {
  WrittenManifest download = EncodeManifest(WriteDownloadManifest(*plan.download));
  encoding.entries.push_back(
      {download.ckey, plan.downloadContentSize.value_or(download.content.size()), {download.ekey}});
  content.manifests.push_back({download.ekey, download.encoded});
  NameManifest(values, "download", download, plan.downloadContentSize);
  content.downloadFile = std::move(download);
}

// The build configuration, with the root, DOWNLOAD and ENCODING manifests
// named unless it names an ENCODING manifest itself; the manifests to store
// go into content.manifests.
std::string CompleteBuildConfig(StorageContent& content, const InstallationPlan& plan) {
  ConfigValues values = plan.buildConfig;
  if (plan.kind == BUILD_CONFIG) NameConfigFiles(content, plan, values);
  if (!HasKey(values, "encoding")) {
    EncodingManifest encoding = plan.encoding;
    if (plan.kind != BUILD_CONFIG) NameRoot(content, plan, values, encoding);
    if (plan.download) NameDownload(content, plan, values, encoding);
    WrittenManifest file = EncodeManifest(WriteEncodingManifest(encoding));
    if (plan.storeEncoding) content.manifests.push_back({file.ekey, file.encoded});
    NameManifest(values, "encoding", file, plan.encodingContentSize);
    content.encodingFile = std::move(file);
  }
  return BuildConfigText(values);
}

void OrderStoredFiles(StorageContent& content, const InstallationPlan& plan) {
  auto addManifests = [&] {
    for (const EncodedFile& file : content.manifests) content.stored.push_back({&file, true});
  };
  if (plan.manifestsFirst) addManifests();
  for (const EncodedFile& file : plan.files) content.stored.push_back({&file, false});
  if (!plan.manifestsFirst) addManifests();
}

std::string CompleteCdnConfig(StorageContent& content, const InstallationPlan& plan) {
  ConfigValues values = plan.cdnConfig;
  if (!HasKey(values, "archives")) {
    std::string keys;
    for (const CdnArchive& archive : content.cdn.archives) {
      keys += (keys.empty() ? "" : " ") + KeyText(archive.key);
      content.listedArchives.push_back(archive.key);
    }
    values.emplace_back("archives", keys);
  }
  if (!HasKey(values, "archive-group")) {
    values.emplace_back("archive-group", KeyText(content.cdn.archiveGroup));
  }
  return CdnConfigText(values);
}

}  // namespace

WrittenManifest EncodeManifest(std::vector<uint8_t> content) {
  BltePlan blte;
  blte.frames = SplitFrames(content.size(), 4096);
  StoredFile stored = EncodeFile(std::move(content), blte);
  return {stored.ckey, stored.ekey, std::move(stored.content), std::move(stored.encoded)};
}

StorageContent MakeStorageContent(const InstallationPlan& plan) {
  StorageContent content;
  content.buildConfig = CompleteBuildConfig(content, plan);
  if (plan.kind == BUILD_CONFIG) return content;
  OrderStoredFiles(content, plan);
  content.cdn = PlanCdnLayout(plan.cdn, content.stored);
  content.cdnConfig = CompleteCdnConfig(content, plan);
  return content;
}

}  // namespace kestrine::testkit

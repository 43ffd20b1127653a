// What a storage holds wherever it is written: the build and CDN
// configuration texts, the manifests (ENCODING, DOWNLOAD, root) in their
// encoded form, every encoded file in the order of the local data archives,
// and how the content servers hold them. The local installation and the CDN
// tree are both written from it, so they carry the same keys and bytes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "testkit/cdn_archives.h"
#include "testkit/config_archives.h"
#include "testkit/installation.h"

namespace kestrine::testkit {

struct StorageContent {
  StorageContent() = default;
  StorageContent(StorageContent&&) = default;
  StorageContent& operator=(StorageContent&&) = default;
  StorageContent(const StorageContent&) = delete;  // `stored` points into it
  StorageContent& operator=(const StorageContent&) = delete;

  std::string buildConfig;
  std::string cdnConfig;  // empty for BUILD_CONFIG, which has none
  std::vector<EncodedFile> manifests;
  // Every encoded file to store, in local archive order: pointers into
  // `manifests` and the plan's files (the plan must outlive this).
  std::vector<PlacedFile> stored;
  CdnLayout cdn;  // empty for BUILD_CONFIG
  // The archive keys the CDN configuration lists: those of `cdn`, unless the
  // plan's configuration gives its own list (then empty).
  std::vector<Key16> listedArchives;
  std::optional<WrittenManifest> encodingFile;
  std::optional<WrittenManifest> downloadFile;
  std::optional<WrittenManifest> rootFile;
  // BUILD_CONFIG: the files named by the build configuration, in their
  // "%02u-%08x.data" archives.
  std::vector<ConfigFile> configFiles;
  ConfigArchiveWriter configArchives;
};

StorageContent MakeStorageContent(const InstallationPlan& plan);

}  // namespace kestrine::testkit

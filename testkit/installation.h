// Writes a whole local installation from a description: the build file, the
// build and CDN configuration files stored by their MD5, and the index files
// and data archives that hold the encoded files. The same description also
// gives the storage as the content servers hold it (testkit/cdn_tree.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "storage/storage.h"
#include "testkit/build_files.h"
#include "testkit/cdn_plan.h"
#include "testkit/config_archives.h"
#include "testkit/index_files.h"
#include "testkit/manifests.h"

namespace kestrine::testkit {

struct InstallationPlan {
  BuildFileKind kind = BUILD_INFO;  // BUILD_INFO, BUILD_DB or BUILD_CONFIG
  std::string dataDirectory = "Data";
  // ".build.info" rows; empty build and CDN keys are filled with the keys of
  // the configuration files written.
  std::vector<ProductRow> products{ProductRow{}};
  bool productColumn = true;
  std::string buildDbTags = "Windows enUS";
  // Configuration lines. Unless they name the ENCODING manifest themselves,
  // the manifest below is written and named ("encoding" and "encoding-size"),
  // and so is the DOWNLOAD manifest when one is given.
  ConfigValues buildConfig;
  ConfigValues cdnConfig;
  // Files stored in the data archives, with index entries pointing at them.
  std::vector<EncodedFile> files;
  // The manifests written by the installation (ENCODING, DOWNLOAD, root) go
  // behind the files, or before them, so that the last file given ends the
  // archive and a test can cut the archive inside it.
  bool manifestsFirst = false;
  // The ENCODING manifest: its entries (list stored files here to give them
  // content entries), then one for the DOWNLOAD manifest. Stored BLTE-encoded
  // in the archives unless `storeEncoding` is false (then only named). Its
  // size sizes the storage's entry array (size / 38 + 64 entries), which
  // entries given outside the manifests (the local-index hook) share.
  EncodingManifest encoding;
  bool storeEncoding = true;
  // The content size each manifest is listed with (by the configuration and,
  // for DOWNLOAD, by the ENCODING manifest), when not its own.
  std::optional<uint32_t> encodingContentSize;
  std::optional<uint32_t> downloadContentSize;
  // The DOWNLOAD manifest, stored and named when present.
  std::optional<DownloadManifest> download;
  // The root file (decoded), stored and named unless the configuration names
  // a root itself: "root" for the kinds with index files, listed by the
  // ENCODING manifest; "vfs-root" for BUILD_CONFIG, whose EKey then points
  // into the archive "00-00000000.data". Absent: a plain-text root whose one
  // line names no stored file, so that the storage opens with no names.
  std::optional<std::vector<uint8_t>> rootFile;
  // BUILD_CONFIG only: how the root is stored, and further files stored in
  // its archives behind the root, named by the build configuration under
  // their keys.
  ConfigFileForm rootForm = ConfigFileForm::kBlte;
  std::vector<ConfigFileLayout> configFiles;
  uint32_t indexVersion = 1;
  size_t indexBuckets = 16;
  EntryHashScheme indexScheme = EntryHashScheme::kHashlittle2;
  bool upperCaseIndexNames = false;
  // The online storage: patch-service tables and the content servers' tree.
  // Its archive layout also fills the CDN configuration's "archives" and
  // "archive-group" lines (unless cdnConfig gives them), locally too.
  CdnPlan cdn;
};

// A manifest as the installation stores it: BLTE with zlib frames of 4 KiB.
struct WrittenManifest {
  Key16 ckey{};  // MD5 of the content
  Key16 ekey{};  // MD5 of the encoded bytes
  std::vector<uint8_t> content;
  std::vector<uint8_t> encoded;
};
WrittenManifest EncodeManifest(std::vector<uint8_t> content);

struct Installation {
  std::filesystem::path root;
  std::filesystem::path buildFile;
  std::filesystem::path dataDirectory;
  std::filesystem::path archiveFolder;  // index files and data archives
  Key16 buildKey{};
  Key16 cdnKey{};
  // The CDN configuration's "archives" as the tree writer lays them out
  // (empty when the configuration lists its own).
  std::vector<Key16> cdnArchives;
  std::vector<StoredBlob> blobs;  // where each file went
  // The manifests as written (absent when the configuration named its own).
  std::optional<WrittenManifest> encodingFile;
  std::optional<WrittenManifest> downloadFile;
  std::optional<WrittenManifest> rootFile;
  std::vector<ConfigFile> configFiles;  // BUILD_CONFIG: as stored
};

// Writes the installation below `root` (created when missing).
Installation WriteInstallation(const std::filesystem::path& root, const InstallationPlan& layout);

}  // namespace kestrine::testkit

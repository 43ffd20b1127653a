// Writes a whole local installation from a description: the build file, the
// build and CDN configuration files stored by their MD5, and the index files
// and data archives that hold the encoded files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "storage/storage.h"
#include "testkit/build_files.h"
#include "testkit/index_files.h"

namespace kestrine::testkit {

// One encoded file to store in the data archives under its EKey.
struct EncodedFile {
  Key16 ekey{};
  std::vector<uint8_t> encoded;
};

struct InstallationSpec {
  BuildFileKind kind = BUILD_INFO;  // BUILD_INFO, BUILD_DB or BUILD_CONFIG
  std::string dataDirectory = "Data";
  // ".build.info" rows; empty build and CDN keys are filled with the keys of
  // the configuration files written.
  std::vector<ProductRow> products{ProductRow{}};
  bool productColumn = true;
  std::string buildDbTags = "Windows enUS";
  // Configuration lines. An "encoding" line (two keys) and its size are
  // added when absent, so that the configuration is complete.
  ConfigValues buildConfig;
  ConfigValues cdnConfig;
  // Files stored in the data archives, with index entries pointing at them.
  std::vector<EncodedFile> files;
  uint32_t indexVersion = 1;
  size_t indexBuckets = 16;
  EntryHashScheme indexScheme = EntryHashScheme::kHashlittle2;
  bool upperCaseIndexNames = false;
};

struct Installation {
  std::filesystem::path root;
  std::filesystem::path buildFile;
  std::filesystem::path dataDirectory;
  std::filesystem::path archiveFolder;  // index files and data archives
  Key16 buildKey{};
  Key16 cdnKey{};
  std::vector<StoredBlob> blobs;  // where each file went
};

// The encoding line's keys that WriteInstallation adds when none is given.
Key16 DefaultEncodingCKey();
Key16 DefaultEncodingEKey();

// Writes the installation below `root` (created when missing).
Installation WriteInstallation(const std::filesystem::path& root, const InstallationSpec& spec);

}  // namespace kestrine::testkit

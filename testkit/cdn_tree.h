// Writes a storage as the patch service and the content servers hold it, from
// the same description as a local installation (InstallationPlan, with its
// `cdn` part), so that a test can read one storage both ways. Below `root`,
// which a test serves over HTTP (tests/online/cdn_server.py):
//
//   <product>/versions, <product>/cdns    the patch service's tables
//   ribbit/<product>/versions, .../cdns   the same as Ribbit answers (MIME),
//                                         served by tests/online/ribbit_server.py
//                                         with --root <root>/ribbit
//   <path>/config/ab/cd/<key>             build and CDN configuration (key = MD5)
//   <path>/data/ab/cd/<archive key>       archive: BLTE data back to back
//   <path>/data/ab/cd/<archive key>.index its index (entries sorted by EKey)
//   <path>/data/ab/cd/<ekey>              loose encoded file (plain BLTE data)
//   <path>/patch/ab/cd/<ekey>             patch file
//
// where ab and cd are the key's first two bytes in lower-case hex.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hex_key.h"
#include "testkit/installation.h"

namespace kestrine::testkit {

enum class CdnFolder { kConfig, kData, kPatch };

// "/<path>/<config|data|patch>/ab/cd/<hex key><extension>", the URL path on a
// content server.
std::string CdnUrlPath(std::string_view cdnPath, CdnFolder folder, const Key16& key,
                       std::string_view extension = "");
// The same below `root`.
std::filesystem::path CdnFilePath(const std::filesystem::path& root, std::string_view cdnPath,
                                  CdnFolder folder, const Key16& key,
                                  std::string_view extension = "");

struct CdnArchiveFile {
  Key16 key{};
  std::filesystem::path data;
  std::filesystem::path index;
  std::string dataUrlPath;
  std::string indexUrlPath;
  uint64_t dataSize = 0;
  uint64_t indexSize = 0;
  size_t entryCount = 0;
  bool filler = false;  // holds only files that nothing names
  bool dataWritten = true;
  bool indexWritten = true;
};

// Where one encoded file went.
struct CdnStoredFile {
  Key16 ekey{};
  std::optional<uint32_t> archive;  // index into CdnTree::archives; unset: loose
  Key16 archiveKey{};               // of that archive
  uint32_t offset = 0;              // inside the archive (0 when loose)
  uint32_t size = 0;                // encoded bytes
  std::filesystem::path path;       // the archive's data file, or the loose file
  std::string urlPath;              // of that file
  CdnFolder folder = CdnFolder::kData;
  bool written = true;  // false for a loose file the plan's faults left out
  bool filler = false;
};

struct CdnTree {
  std::filesystem::path root;        // the HTTP server's root
  std::filesystem::path ribbitRoot;  // the Ribbit server's root
  std::string product;
  std::string cdnPath;
  std::string hosts;

  // Patch service: "/<product>/versions" and "/<product>/cdns" over HTTP;
  // "<product>/versions" and "<product>/cdns" as Ribbit request lines.
  std::string versionsUrlPath;
  std::string cdnsUrlPath;
  std::string versionsRibbitLine;
  std::string cdnsRibbitLine;
  std::filesystem::path versionsFile;
  std::filesystem::path cdnsFile;
  std::filesystem::path ribbitVersionsFile;
  std::filesystem::path ribbitCdnsFile;
  std::string versionsTable;  // the texts written
  std::string cdnsTable;
  std::vector<CdnsRow> cdnsRows;  // as planned, for SetCdnHosts
  uint32_t seqn = 0;

  Key16 buildKey{};
  Key16 cdnKey{};
  Key16 archiveGroupKey{};
  std::filesystem::path buildConfigFile;
  std::filesystem::path cdnConfigFile;
  std::string buildConfigUrlPath;
  std::string cdnConfigUrlPath;

  std::vector<CdnArchiveFile> archives;  // in the order of the "archives" list
  // Every encoded file: the manifests and the plan's files in local archive
  // order, then the patch files, then the fillers.
  std::vector<CdnStoredFile> files;
  std::optional<WrittenManifest> encodingFile;
  std::optional<WrittenManifest> downloadFile;
  std::optional<WrittenManifest> rootFile;

  uint64_t totalBytes = 0;  // of every file written below root
  size_t fileCount = 0;

  const CdnStoredFile* Find(const Key16& ekey) const;
};

// Writes the tree below `root` (created when missing). Throws
// std::invalid_argument for a BUILD_CONFIG plan, which has no CDN side.
CdnTree WriteCdnTree(const std::filesystem::path& root, const InstallationPlan& plan);

// Rewrites both "cdns" tables (HTTP and Ribbit) with `hosts` in every row
// that did not name its own, e.g. "127.0.0.1:PORT" once the server runs.
void SetCdnHosts(CdnTree& tree, std::string_view hosts);

// The tables as written, from a plan and the keys of its configurations.
std::string VersionsTableText(const CdnPlan& plan, const Key16& buildKey, const Key16& cdnKey);
std::string CdnsTableText(const CdnPlan& plan);
// The Ribbit service's answer carrying a table.
std::string RibbitTableAnswer(std::string_view listName, const std::string& table);

}  // namespace kestrine::testkit

// The part of an installation description that only an online storage uses:
// what the patch service answers (the "versions" and "cdns" tables) and how
// the content servers hold the encoded files (archives with their indexes,
// loose files, patch files), with the faults a test may plant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/hex_key.h"

namespace kestrine::testkit {

// One encoded file to store under its EKey (in the local data archives, or
// in a CDN archive or loose on the content servers).
struct EncodedFile {
  Key16 ekey{};
  std::vector<uint8_t> encoded;
};

// One row of the "versions" table.
struct VersionsRow {
  explicit VersionsRow(std::string regionCode = "us") : region(std::move(regionCode)) {}
  std::string region;
  std::string buildKey;  // 32 hex digits; empty: the build configuration written
  std::string cdnKey;    // empty: the CDN configuration written
  std::string buildId = "45678";
  std::string versionsName = "1.2.3.45678";
};

// One row of the "cdns" table; unset fields take the plan's hosts and path.
struct CdnsRow {
  explicit CdnsRow(std::string rowName = "us") : name(std::move(rowName)) {}
  std::string name;
  std::optional<std::string> path;
  std::optional<std::string> hosts;
};

// Files the tree leaves out or spoils, so that a test can watch a fetch fail.
struct CdnFaults {
  std::vector<uint32_t> missingArchiveIndexes;  // archive numbers without ".index"
  std::vector<uint32_t> badIndexChecksums;      // ".index" whose footer checksum is wrong
  std::vector<uint32_t> missingArchives;        // archive numbers without data
  std::vector<Key16> missingLooseFiles;         // EKeys of loose files not written
};

struct CdnPlan {
  std::string product = "kestest";
  std::string path = "tpr/kestest";  // the CDN path of the "cdns" table
  // Blank-separated "host[:port]" entries of the "cdns" table. A test that
  // starts its server after writing the tree sets them with SetCdnHosts.
  std::string hosts;
  uint32_t seqn = 1;  // of the tables' "## seqn = N" line
  std::vector<VersionsRow> versions{VersionsRow("us"), VersionsRow("eu")};
  std::vector<CdnsRow> cdns{CdnsRow("us"), CdnsRow("eu")};

  // Archived encoded files, in the order of the local archives, fill the CDN
  // archives this many at a time (at least 1).
  size_t filesPerArchive = 4;
  // When the files fill fewer archives, filler archives follow, each holding
  // `fillerFilesPerArchive` small encoded files that nothing names, until
  // there are this many. At least one archive is always written: the CDN
  // configuration must list one.
  size_t minimumArchives = 1;
  size_t fillerFilesPerArchive = 1;
  // Loose files lie alone under their EKey. The manifests (ENCODING,
  // DOWNLOAD, root) are loose unless `looseManifests` is false; the files of
  // InstallationPlan::files go into archives unless listed here by EKey.
  bool looseManifests = true;
  std::vector<Key16> looseFiles;
  // Written loose into the "patch" folder by their EKey.
  std::vector<EncodedFile> patchFiles;
  CdnFaults faults;
};

}  // namespace kestrine::testkit

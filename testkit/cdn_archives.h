// How the content servers hold a storage's encoded files: which go into
// which CDN archive at which offset, which lie loose, and the archives'
// index files and keys. Both the local installation (its CDN configuration
// lists the archives) and the CDN tree lay them out through here, so that
// both name the same archives.
//
// A CDN archive holds plain BLTE data back to back, without the 30-byte
// record headers of local archives. Its key is the MD5 of its index file,
// whose entries are sorted by EKey as the servers' are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/hex_key.h"
#include "testkit/cdn_plan.h"

namespace kestrine::testkit {

// An encoded file to place, and whether it is a manifest.
struct PlacedFile {
  const EncodedFile* file = nullptr;
  bool manifest = false;
};

// Where one encoded file went.
struct CdnPlacement {
  Key16 ekey{};
  std::optional<uint32_t> archive;  // unset: loose
  uint32_t offset = 0;              // inside the archive
  uint32_t size = 0;                // encoded bytes
  bool filler = false;
};

struct CdnArchive {
  Key16 key{};
  std::vector<size_t> members;  // indexes into CdnLayout::placements, by offset
  std::vector<uint8_t> index;   // the ".index" file (as it should be)
  uint64_t size = 0;            // of the archive's data
  bool filler = false;
};

struct CdnLayout {
  // One per file given, in order, then one per filler file.
  std::vector<CdnPlacement> placements;
  std::vector<EncodedFile> fillers;  // bytes of the filler placements
  std::vector<CdnArchive> archives;  // in the order of the "archives" list
  Key16 archiveGroup{};              // the MD5 of the archive keys

  // The encoded bytes of placement `i` (`files` as given to PlanCdnLayout).
  std::span<const uint8_t> BytesOf(size_t i, std::span<const PlacedFile> files) const;
};

// Lays out `files` (local archive order) as `plan` asks.
CdnLayout PlanCdnLayout(const CdnPlan& plan, std::span<const PlacedFile> files);

}  // namespace kestrine::testkit

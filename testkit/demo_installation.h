// The demo installation: a local storage laid out like the classic game's,
// with a plain-text root naming every file under a "SD\" folder in mixed
// case, a real-format sound table, sounds in ".wav" and ".ogg", the music
// and console files, and decoys the import must leave out. The writer also
// returns the bundle the import has to produce from it, so that the demo,
// the end-to-end tests and the import benchmark share one description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "testkit/blte.h"
#include "testkit/installation.h"
#include "testkit/roots.h"

namespace kestrine::testkit {

// How much the demo holds. Content is deterministic for a given size.
struct DemoSize {
  // Assets per directory prefix and extension pair (and extra sounds per
  // copy); 1 gives about 170 bundle records.
  uint32_t copies = 1;
  // Mean content size of an ordinary asset; sizes vary from half to one and
  // a half times this.
  size_t assetSize = 3000;
  // Content size of each of the three music tracks, the large assets.
  size_t musicSize = size_t{2} << 20;
  // False: the records carry names and sizes only, not their data (for
  // storages too large to hold twice in memory).
  bool keepData = true;
  // True: the files are named by a TVFS root (same names, same order where
  // its prefix tree allows) instead of the plain-text one.
  bool tvfsRoot = false;
};

// One record of the bundle the import writes.
struct DemoRecord {
  std::string name;  // asset name
  uint32_t size = 0;
  std::vector<uint8_t> data;  // empty unless DemoSize::keepData
};

struct DemoInstallation {
  Installation installation;
  size_t storageNameCount = 0;      // names in the root, decoys included
  std::vector<DemoRecord> records;  // the expected bundle, sorted by name
  uint64_t contentBytes = 0;        // sum of the records' sizes
};

// Writes the demo installation below `root` (created when missing).
DemoInstallation WriteDemoInstallation(const std::filesystem::path& root,
                                       const DemoSize& size = {});

// The exact bytes of a bundle holding `records` in the given order (their
// data kept: DemoSize::keepData).
std::vector<uint8_t> BundleBytes(std::span<const DemoRecord> records);

// Content encoded the way the demo stores it: frames of 64 KiB, 'N' for
// content that does not compress (`incompressible`), else 'Z' with every
// eighth frame stored plain; small content in one frame, every other one
// without a frame table.
StoredFile EncodeDemoContent(std::vector<uint8_t> content, bool incompressible, uint32_t seed);

// Stores `file` in the archives, lists it in the ENCODING manifest and names
// it `storageName` in `root`.
void AddNamedFile(InstallationPlan& layout, PlainTextRoot& root, const std::string& storageName,
                  const StoredFile& file);

// The bundle name of a storage name: lower case, "/" separators, one leading
// "sd/" folder dropped.
std::string AssetNameOf(const std::string& storageName);

// A sound table naming `names`, each zero-terminated, in order.
std::vector<uint8_t> SoundTableNaming(std::span<const std::string> names);

}  // namespace kestrine::testkit

// A small classic installation for damaging one file at a time: every file
// kind a storage has (build info, build and CDN configuration, index files,
// a data archive holding the ENCODING and DOWNLOAD manifests, a plain-text
// root of several frames and the assets) and assets in every encoded shape
// the import meets (zlib and plain frames, with and without a frame table,
// frames without an MD5, several frames, no content at all).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "testkit/demo_installation.h"
#include "testkit/installation.h"

namespace kestrine::test {

struct DamageGame {
  testkit::Installation installation;
  std::vector<testkit::DemoRecord> records;  // the expected bundle, sorted by name
  std::vector<uint8_t> expectedBundle;
  std::map<Key16, std::string> assetNames;  // storage name of each stored asset, by EKey
  Key16 rootCkey{};
  Key16 rootEkey{};
};

// Writes the installation below `root` (created when missing).
DamageGame WriteDamageGame(const std::filesystem::path& root);

}  // namespace kestrine::test

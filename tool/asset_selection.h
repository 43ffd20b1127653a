// Which storage names the import keeps, and under which asset name.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kestrine {

// One selected asset: the name it is written under and the name it is opened by.
struct AssetEntry {
  std::string assetName;    // NormalizeAssetName of the storage name
  std::string storageName;  // exactly as the search returned it
};

// Directory prefixes of the classic assets, in the order they are tried.
inline constexpr std::array<std::string_view, 11> kClassicDirectories = {
    "arr/", "scripts/", "triggers/", "unit/",     "tileset/", "game/",
    "rez/", "font/",    "console/",  "glue/pal/", "cursor/",
};

// Extensions accepted under those prefixes, in the order they are tried.
inline constexpr std::array<std::string_view, 13> kClassicExtensions = {
    ".dat", ".tbl", ".bin",   ".grp", ".pcx", ".cv5", ".vf4",
    ".vr4", ".vx4", ".vx4ex", ".wpe", ".trg", ".fnt",
};

// Taken one by one, whatever the tables say.
inline constexpr std::array<std::string_view, 3> kMusicNames = {
    "music/terran1.wav", "music/zerg1.wav", "music/protoss1.wav"};
inline constexpr std::array<std::string_view, 3> kConsoleNames = {
    "game/tconsole.dds", "game/zconsole.dds", "game/pconsole.dds"};

inline constexpr std::string_view kSoundTableAssetName = "arr/sfxdata.tbl";
inline constexpr std::string_view kSoundFolder = "sound/";

// Lower-cases ASCII letters, turns '\' into '/' and drops one leading "sd/".
// No other byte changes.
std::string NormalizeAssetName(std::string_view storageName);

// True when the import keeps a file with this (normalised) asset name, before
// the sound filter thins out the sounds.
bool IsClassicAsset(std::string_view assetName);

}  // namespace kestrine

// The game's sound table "arr/sfxdata.tbl" names the sounds the game plays;
// the import keeps only those sound files.
//
// Layout (integers unsigned little-endian, offsets from the start of the file):
//   offset   size  field
//   0        2     count: number of sound names
//   2 + 2i   2     offset of sound name i, for i in [0, count)
//   any      var.  the names: zero-terminated byte strings, anywhere in the file
// Offsets need not be ordered or distinct, nor lie behind the offset array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "kestrine.h"
#include "tool/asset_selection.h"
#include "tool/storage_api.h"

namespace kestrine {

inline constexpr size_t kMaxSoundTableSize = 0x100000;

// Asset names ("sound/" + normalised table name) of the wanted sounds.
using SoundSet = std::unordered_set<std::string>;

// Parses a sound table. Checks run lazily entry by entry; the first failing
// entry raises the import's error ("Truncated sound table", "Invalid sound
// name offset", "Unterminated sound name"); a table under 2 bytes raises
// "Invalid sound table".
SoundSet ParseSoundTable(std::span<const uint8_t> table);

// Opens, reads, closes and parses the sound table `storageName` (empty when
// the search found none). The table is closed on every way out, failures
// included.
SoundSet LoadSoundTable(StorageApi& api, StorageHandle storage, const std::string& storageName);

// Removes the sound entries the table does not name; the rest keep their order.
void FilterSounds(std::vector<AssetEntry>& entries, const SoundSet& wanted);

}  // namespace kestrine

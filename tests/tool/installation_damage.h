// Damages for the files of a written installation: each target is one file,
// or one encoded file inside a data archive, and takes a list of damages,
// each a truncation or a flipped byte at an offset chosen for what lies
// there (headers, key fields, frame tables, frame data), fixed or drawn
// from a seed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "tests/tool/damage_game.h"

namespace kestrine::test {

enum class DamageKind { kTruncate, kFlip };

struct Damage {
  DamageKind kind = DamageKind::kFlip;
  uint64_t offset = 0;  // from the target's start: the bytes kept, or the byte flipped
  uint8_t mask = 0x01;  // the bits a flip inverts
  std::string where;    // what the damage hits
};

struct DamageTarget {
  std::string kind;             // "build info", "index", "asset", ...
  std::string label;            // which one: a file name or an asset's storage name
  std::filesystem::path file;   // relative to the installation folder
  uint64_t begin = 0;           // of the target in `file`
  uint64_t size = 0;            // of the target
  std::optional<Key16> blob;    // an encoded file in an archive
  std::vector<Damage> damages;  // to apply one at a time
};

enum class MatrixSize {
  kQuick,  // a fixed few dozen damages, one or two per file kind
  kWhole   // every fixed damage of every target, plus seeded random ones
};

// The targets of `game` (written below game.installation.root) and their damages.
std::vector<DamageTarget> PlanDamages(const DamageGame& game, MatrixSize size, uint64_t seed);

// Applies `damage` to the installation copy at `copyRoot`, a fresh copy of
// `game`'s. An encoded file that is cut first moves to the end of its archive,
// so that the cut reaches it alone, as a copy that stopped in its last file.
void ApplyDamage(const DamageGame& game, const std::filesystem::path& copyRoot,
                 const DamageTarget& target, const Damage& damage);

}  // namespace kestrine::test

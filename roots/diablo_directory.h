// The directory files of a Diablo III root; the root is one itself. All
// numbers are little-endian u32.
//
//   PART                        CONTENT
//   signature                   0x8007D0C4, or 0xEAF1FE87 (a file of at least 8 bytes)
//   only with 0xEAF1FE87        count A, then A x (CKey 16, SNO id)             20 bytes each
//   only with 0xEAF1FE87        count B, then B x (CKey 16, SNO id, sub-index)  24 bytes each
//   always                      count N, then the named entries
//
// A named entry is a CKey (16 bytes) and a NUL-terminated name. When N is
// not 0 the named entries run to the end of the data, whatever N says; when
// N is 0 there are none.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "common/byte_reader.h"
#include "common/hex_key.h"

namespace kestrine {

inline constexpr uint32_t kDiabloRootSignature = 0x8007D0C4;
inline constexpr uint32_t kDiabloDirectorySignature = 0xEAF1FE87;

// A file known by asset number (A table: no sub-index).
struct DiabloAssetEntry {
  Key16 ckey{};
  uint32_t snoId = 0;
  uint32_t subIndex = 0;
  bool hasSubIndex = false;
};

struct DiabloNamedEntry {
  Key16 ckey{};
  std::string_view name;
};

// The three tables of a directory file, cut from its data. Every table lies
// within the data and every named entry is whole, so the readers below
// cannot fail.
struct DiabloDirectory {
  std::span<const uint8_t> assets;      // A entries
  std::span<const uint8_t> assetParts;  // B entries
  std::span<const uint8_t> named;       // named entries, or empty

  size_t assetCount() const;
  size_t assetPartCount() const;
};

// Checks the header and cuts the tables: 0, or 11 when the signature is
// neither, a count or table runs past the end, or a named entry has no
// terminator before it.
[[nodiscard]] uint32_t ParseDiabloDirectory(std::span<const uint8_t> data,
                                            DiabloDirectory& directory);

// The A entry at `index` (below assetCount()) or B entry (below
// assetPartCount()).
DiabloAssetEntry DiabloAssetAt(const DiabloDirectory& directory, size_t index);
DiabloAssetEntry DiabloAssetPartAt(const DiabloDirectory& directory, size_t index);

// Walks the named entries of a parsed directory in order.
class DiabloNamedEntries {
 public:
  explicit DiabloNamedEntries(const DiabloDirectory& directory) : reader_(directory.named) {}
  // The next entry; false after the last one.
  bool Next(DiabloNamedEntry& entry);

 private:
  ByteReader reader_;
};

}  // namespace kestrine

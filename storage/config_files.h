// Build and CDN configuration files: where a storage keeps them, how they are
// verified, and what their lines fill in the storage.
//
//   OFFSET  SIZE         FIELD
//   0       to line end  line: key, optional blanks and '=', value
//   ...                  further lines; blank lines and indentation vanish
//
// A line ends at LF, CR, the byte 0x85 or the end of the text; a line whose
// last '~' is followed by 'P' ends at that '~'. A line that is empty at that
// point ends the file. The key is the line's first word (at most 79
// characters, ended by a blank or '='); the value follows once blanks and '='
// are skipped. Lines with unknown keys, '#' comments among them, are ignored.
// A key list value is 32-hex-digit keys separated by blanks.
//
// A configuration file is stored as "config\ab\cd\abcd...": folders from the
// key's first two and next two hex digits, named by the 32 digits of its key,
// which is the MD5 of its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/byte_reader.h"
#include "storage/storage.h"

namespace kestrine {

struct ConfigLine {
  std::string_view key;
  std::string_view value;  // without the blanks that end the line
};

// Walks the key/value lines of a configuration text.
class ConfigLineReader {
 public:
  static constexpr size_t kMaxKeyLength = 79;

  explicit ConfigLineReader(std::span<const uint8_t> text) : reader_(text) {}
  // The next line; false when the file ends. A line whose key is longer than
  // kMaxKeyLength is skipped: no key of these files is that long.
  bool Next(ConfigLine& line);

 private:
  ByteReader reader_;
};

// Number of blank-separated keys in `text`, or none when an item is not
// exactly 32 hex digits.
std::optional<size_t> CountHexKeys(std::string_view text);

// Reads `count` blank-separated keys of 32 hex digits from `text` into `keys`
// (replaced only on success). Returns 0, or 11 when the text runs out or an
// item is malformed.
[[nodiscard]] uint32_t ParseHexKeys(std::string_view text, size_t count, KeyList& keys);

// The largest number that a run of decimal digits in `text` forms; 0 when
// there is none. A run too large for 32 bits counts as no number.
uint32_t LargestNumberIn(std::string_view text);

// Storages keyed by full EKeys keep each file's location (archive number and
// offset) in the EKey's last seven bytes, big-endian.
uint64_t OffsetFromEKey(const Key16& ekey);

// Fills one manifest entry from a build-configuration line:
//   "...-config"  accepted, ignored
//   "...-espec"   BUILD_CONFIG storages: value "z" marks a bare zlib stream
//   "...-size"    content size and optional encoded size, in decimal
//   otherwise     CKey, or CKey and EKey; for BUILD_CONFIG storages the EKey
//                 also gives the storage offset (its bytes 9..15, big-endian)
// Returns 0 or 11; on 11 the entry is unchanged.
[[nodiscard]] uint32_t ParseKeyValue(TCascStorage& storage, std::string_view keyName,
                                     std::string_view value, ContentEntry& entry);

// Fills the storage's manifest entries, VFS roots, product code and build
// number from a build configuration. Malformed values are skipped; 11 when
// the ENCODING entry (BUILD_CONFIG storages: the VFS-root entry) lacks its
// CKey or EKey, else 0.
[[nodiscard]] uint32_t ParseBuildConfig(TCascStorage& storage, std::span<const uint8_t> text);

// Fills the storage's archive lists from a CDN configuration; 11 when the
// "archives" list is empty afterwards, else 0.
[[nodiscard]] uint32_t ParseCdnConfig(TCascStorage& storage, std::span<const uint8_t> text);

using ConfigParser = uint32_t (*)(TCascStorage&, std::span<const uint8_t>);

// "<base>\config\ab\cd\<32 hex digits>" for the key.
std::string KeyedConfigPath(std::string_view base, const Key16& key);

// Finds the configuration file named by `key` (one key) under the data
// directory, else under the installation root (2 when in neither), reads it
// (2 on failure), checks that its MD5 is the key (1392 otherwise; an all-zero
// key always passes) and hands it to `parser`, whose result it returns.
[[nodiscard]] uint32_t LoadKeyedConfig(TCascStorage& storage, const KeyList& key,
                                       ConfigParser parser);

}  // namespace kestrine

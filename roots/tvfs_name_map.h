// The "index" name map of storages marked by "data\.build.config".
//
// Such a storage names its files in the TVFS root by a flattened form; a
// text file named "index" in the same root gives each its real path:
//
//   LINE   real/path/of.file|anything
//
// Lines end at CR or LF. A line without "|", or with "|" as its first byte,
// is passed over. The part before the first "|" is the value; the key is the
// value with every "/" and "\" removed. Keys compare whole and ignore case
// (ASCII). A key that repeats makes the whole file unusable: no map at all.
//
// The map is open addressing with linear probing over a power-of-two bucket
// count (256, doubled while below four thirds of the item count). The hash
// starts at 0x7EEE7EEE and takes each key byte, upper-cased, as
//   h = (h << 5) ^ (h >> 24) ^ h ^ byte        (32 bits)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/storage.h"

namespace kestrine {

class TvfsNameMap {
 public:
  // Builds the map from the text of "index". Returns 0; 11 when a key
  // repeats or the map is full; 8 when memory runs out. On failure the map
  // is left empty.
  [[nodiscard]] uint32_t Build(std::span<const uint8_t> text);

  // The real path stored for `path`, which is compared with its "/" and "\"
  // removed. Nothing when the map does not hold it. Allocates nothing.
  std::optional<std::string_view> Find(std::string_view path) const;

  // `path` itself, or the real path the map gives it.
  std::string_view Translate(std::string_view path) const { return Find(path).value_or(path); }

  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }
  size_t bucketCount() const { return buckets_.size(); }
  void Clear();

 private:
  struct Item {
    size_t keyStart = 0;  // in keys_
    size_t keyLength = 0;
    size_t valueStart = 0;  // in values_
    size_t valueLength = 0;
  };
  std::string_view KeyOf(const Item& item) const {
    return {keys_.data() + item.keyStart, item.keyLength};
  }
  // The bucket holding the key of `path` (its separators removed), or the
  // empty bucket where it would go; the bucket count when the map is full.
  size_t Probe(std::string_view path) const;
  uint32_t Add(std::string_view value);

  std::string keys_;
  std::string values_;
  std::vector<Item> items_;
  std::vector<uint32_t> buckets_;  // item index + 1; 0 is empty
};

// The hash of a key (bytes upper-cased as they are taken).
uint32_t NameMapHash(std::string_view key);

// Whether the "index" content may build the map: the storage's ROOT
// manifest entry has a CKey and the content, not empty, has it as its MD5.
bool IsStorageNameIndex(const TCascStorage& storage, std::span<const uint8_t> content);

// Reads the file `indexEntry` names and builds `map` from it when
// IsStorageNameIndex allows. Returns true when a map was built; a missing
// entry, a failed read, a foreign content or a bad map leaves `map` empty.
bool LoadStorageNameMap(TCascStorage& storage, ContentEntry* indexEntry, TvfsNameMap& map);

}  // namespace kestrine

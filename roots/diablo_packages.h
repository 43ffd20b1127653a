// The package list of a Diablo III storage
// ("Base\Data_D3\PC\Misc\Packages.dat"), which gives assets their true
// file extensions:
//
//   FIELD      CONTENT
//   signature  u32 0xAABB0002
//   count      u32
//   names      count NUL-terminated names: group folder, "\", name, ".", extension
//
// The set finds a package name by its key, the name without its extension
// (the part before the last "." behind the last separator), ignoring case.
// It is open addressing with linear probing over a power-of-two bucket count
// (256, doubled while below four thirds of the names); the hash starts at
// 0x7EEE7EEE and takes each key byte, upper-cased, as
//   h = (h << 5) ^ (h >> 24) ^ h ^ byte        (32 bits)
// The first name of a key wins; later ones are refused.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrine {

inline constexpr uint32_t kDiabloPackagesSignature = 0xAABB0002;

class DiabloPackageSet {
 public:
  // Builds the set from the first `count` names of the list (fewer when the
  // data ends first). A list shorter than 8 bytes, of another signature or
  // of count 0 leaves the set empty. The names point into `list`, which must
  // outlive the set.
  void Load(std::span<const uint8_t> list);

  // The package name stored for `key`, or nothing.
  std::optional<std::string_view> Find(std::string_view key) const;

  size_t size() const { return names_.size(); }
  size_t bucketCount() const { return buckets_.size(); }

 private:
  // The bucket holding `key`, or the empty bucket where it would go.
  size_t Probe(std::string_view key) const;

  std::vector<std::string_view> names_;
  std::vector<uint32_t> buckets_;  // name index + 1; 0 is empty
};

// A package name without its extension.
std::string_view PackageKey(std::string_view name);
uint32_t PackageKeyHash(std::string_view key);

}  // namespace kestrine

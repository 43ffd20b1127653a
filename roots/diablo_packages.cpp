#include "roots/diablo_packages.h"

#include "common/byte_reader.h"
#include "common/key_hash_map.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

constexpr uint32_t kHashSeed = 0x7EEE7EEE;
constexpr size_t kHeaderSize = 8;

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// The names present, at most `count`; a name cut off by the end of the data
// is not one.
template <typename Take>
void ForEachName(ByteReader reader, uint32_t count, Take take) {
  for (uint32_t i = 0; i < count && reader.remaining() > 0; ++i) {
    const std::string_view name = AsText(reader.until(0));
    if (!reader.ok()) return;
    take(name);
  }
}

}  // namespace

std::string_view PackageKey(std::string_view name) {
  const size_t separator = name.find_last_of("\\/");
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator)) {
    return name;
  }
  return name.substr(0, dot);
}

uint32_t PackageKeyHash(std::string_view key) {
  uint32_t hash = kHashSeed;
  for (char c : key) hash = (hash << 5) ^ (hash >> 24) ^ hash ^ static_cast<uint8_t>(Upper(c));
  return hash;
}

size_t DiabloPackageSet::Probe(std::string_view key) const {
  const size_t mask = buckets_.size() - 1;
  size_t bucket = PackageKeyHash(key) & mask;
  while (buckets_[bucket] != 0 && !SameKey(PackageKey(names_[buckets_[bucket] - 1]), key)) {
    bucket = (bucket + 1) & mask;
  }
  return bucket;
}

void DiabloPackageSet::Load(std::span<const uint8_t> list) {
  names_.clear();
  buckets_.clear();
  ByteReader reader(list);
  const uint32_t signature = reader.u32le();
  const uint32_t count = reader.u32le();
  if (list.size() < kHeaderSize || signature != kDiabloPackagesSignature || count == 0) return;
  size_t present = 0;
  ForEachName(reader, count, [&](std::string_view) { ++present; });
  // Sized from the names present, never from the count alone.
  names_.reserve(present);
  buckets_.assign(HashBucketCount(present), 0);
  ForEachName(reader, count, [&](std::string_view name) {
    const size_t bucket = Probe(PackageKey(name));
    if (buckets_[bucket] != 0) return;
    names_.push_back(name);
    buckets_[bucket] = static_cast<uint32_t>(names_.size());
  });
}

std::optional<std::string_view> DiabloPackageSet::Find(std::string_view key) const {
  if (names_.empty()) return std::nullopt;
  const size_t bucket = Probe(key);
  if (buckets_[bucket] == 0) return std::nullopt;
  return names_[buckets_[bucket] - 1];
}

}  // namespace kestrine

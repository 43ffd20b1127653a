#include "roots/tvfs_name_map.h"

#include <algorithm>
#include <new>

#include "common/byte_reader.h"
#include "common/errors.h"
#include "common/key_hash_map.h"
#include "common/md5.h"
#include "storage/manifest_file.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

constexpr uint32_t kHashSeed = 0x7EEE7EEE;

bool IsLineBreak(uint8_t c) {
  return c == '\r' || c == '\n';
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether `path` without its separators equals `key`, ignoring case.
bool MatchesFlattened(std::string_view key, std::string_view path) {
  size_t k = 0;
  for (char c : path) {
    if (IsSeparator(c)) continue;
    if (k == key.size() || Upper(key[k]) != Upper(c)) return false;
    ++k;
  }
  return k == key.size();
}

// The hash of `path` without its separators.
uint32_t FlattenedHash(std::string_view path) {
  uint32_t hash = kHashSeed;
  for (char c : path) {
    if (!IsSeparator(c)) hash = (hash << 5) ^ (hash >> 24) ^ hash ^ static_cast<uint8_t>(Upper(c));
  }
  return hash;
}

// Calls `take` with the value of every line that makes an item.
template <typename Take>
uint32_t ForEachValue(std::span<const uint8_t> text, Take take) {
  ByteReader reader(text);
  while (reader.remaining() > 0) {
    SkipTextWhile(reader, IsLineBreak);
    const std::string_view line = ReadTextUntil(reader, IsLineBreak);
    const size_t bar = line.find('|');
    if (bar == 0 || bar == std::string_view::npos) continue;
    if (uint32_t error = take(line.substr(0, bar))) return error;
  }
  return kErrorSuccess;
}

}  // namespace

uint32_t NameMapHash(std::string_view key) {
  return FlattenedHash(key);
}

void TvfsNameMap::Clear() {
  keys_.clear();
  values_.clear();
  items_.clear();
  buckets_.clear();
}

size_t TvfsNameMap::Probe(std::string_view path) const {
  const size_t mask = buckets_.size() - 1;
  const uint32_t hash = FlattenedHash(path);
  for (size_t step = 0, b = hash & mask; step < buckets_.size(); ++step, b = (b + 1) & mask) {
    if (buckets_[b] == 0 || MatchesFlattened(KeyOf(items_[buckets_[b] - 1]), path)) return b;
  }
  return buckets_.size();
}

// Keys and values go into storage reserved for the whole text.
uint32_t TvfsNameMap::Add(std::string_view value) {
  // Like the storage's key maps, the map takes an item only while one
  // bucket stays free, so that every probe ends.
  if (items_.size() + 1 >= buckets_.size()) return kErrorBadFormat;
  const size_t bucket = Probe(value);
  if (bucket == buckets_.size() || buckets_[bucket] != 0) return kErrorBadFormat;
  const size_t keyStart = keys_.size();
  for (char c : value) {
    if (!IsSeparator(c)) keys_.push_back(c);
  }
  items_.push_back({keyStart, keys_.size() - keyStart, values_.size(), value.size()});
  values_ += value;
  buckets_[bucket] = static_cast<uint32_t>(items_.size());
  return kErrorSuccess;
}

uint32_t TvfsNameMap::Build(std::span<const uint8_t> text) {
  Clear();
  try {
    size_t count = 0;
    ForEachValue(text, [&](std::string_view) {
      ++count;
      return kErrorSuccess;
    });
    // Keys and values are parts of the text: together at most its size.
    keys_.reserve(text.size());
    values_.reserve(text.size());
    items_.reserve(count);
    buckets_.assign(HashBucketCount(count), 0);
    const uint32_t result = ForEachValue(text, [&](std::string_view value) { return Add(value); });
    if (result != kErrorSuccess) Clear();
    return result;
  } catch (const std::bad_alloc&) {
    Clear();
    return kErrorNotEnoughMemory;
  }
}

std::optional<std::string_view> TvfsNameMap::Find(std::string_view path) const {
  if (items_.empty()) return std::nullopt;
  const size_t bucket = Probe(path);
  if (bucket == buckets_.size() || buckets_[bucket] == 0) return std::nullopt;
  const Item& item = items_[buckets_[bucket] - 1];
  return std::string_view(values_.data() + item.valueStart, item.valueLength);
}

bool IsStorageNameIndex(const TCascStorage& storage, std::span<const uint8_t> content) {
  const ContentEntry& root = storage.rootEntry;
  return (root.flags & EF_CKEY) != 0 && !content.empty() && ComputeMd5(content) == root.ckey;
}

bool LoadStorageNameMap(TCascStorage& storage, ContentEntry* indexEntry, TvfsNameMap& map) {
  map.Clear();
  if (indexEntry == nullptr) return false;
  std::vector<uint8_t> content;
  try {
    if (LoadManifestFile(storage, indexEntry, content) != kErrorSuccess) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!IsStorageNameIndex(storage, content)) return false;
  return map.Build(content) == kErrorSuccess;
}

}  // namespace kestrine

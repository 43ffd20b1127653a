#include "testkit/roots.h"

#include <algorithm>
#include <cctype>

#include "testkit/index_files.h"

namespace kestrine::testkit {

namespace {

void PutBig(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
  for (size_t i = bytes; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutText(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

PlainRootLine RootLine(std::string name, const Key16& ckey, bool upperCase) {
  std::string key = FormatHexKey(ckey);
  if (upperCase) {
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
  }
  return {std::move(name), std::move(key), std::nullopt, {}};
}

std::vector<uint8_t> WritePlainTextRoot(const PlainTextRoot& root) {
  std::vector<uint8_t> out;
  if (root.leadingHash) out.push_back('#');
  for (const PlainRootLine& line : root.lines) {
    PutText(out, line.name + "|" + line.key);
    if (line.third) PutText(out, "|" + *line.third);
    for (const std::string& field : line.further) PutText(out, "|" + field);
    PutText(out, root.lineBreak);
  }
  return out;
}

std::vector<uint8_t> WriteInstallManifest(const InstallManifest& manifest) {
  std::vector<uint8_t> out;
  PutText(out, manifest.signature);
  out.push_back(manifest.version);
  out.push_back(manifest.hashSize);
  const size_t entryCount = manifest.entryCount.value_or(manifest.entries.size());
  PutBig(out, manifest.tags.size(), 2);
  PutBig(out, entryCount, 4);
  for (const InstallTag& tag : manifest.tags) {
    PutText(out, tag.name);
    out.push_back(0);
    PutBig(out, tag.type, 2);
    std::vector<uint8_t> bitmap((manifest.entries.size() + 7) / 8);
    for (size_t entry : tag.entries)
      bitmap.at(entry / 8) |= static_cast<uint8_t>(0x80 >> (entry % 8));
    out.insert(out.end(), bitmap.begin(), bitmap.end());
  }
  for (const InstallEntry& entry : manifest.entries) {
    PutText(out, entry.name);
    out.push_back(0);
    out.insert(out.end(), entry.ckey.begin(), entry.ckey.end());
    PutBig(out, entry.size, 4);
  }
  out.resize(out.size() - std::min(manifest.truncateBy, out.size()));
  return out;
}

StorageRef MakeMemoryStorage(size_t capacity) {
  StorageRef storage(new TCascStorage);
  // The tables hold encoding size / 38 + 64 entries.
  const uint32_t encodingSize = static_cast<uint32_t>(38 * capacity);
  if (storage->contents.Create(encodingSize, kUnknownSize, 9) != 0) return nullptr;
  return storage;
}

ContentEntry* AddContentEntry(TCascStorage& storage, uint32_t seed, uint16_t flags,
                              uint32_t contentSize, uint32_t encodedSize) {
  ContentEntry record;
  if (flags & EF_CKEY) record.ckey = MakeKey(seed);
  if (flags & EF_EKEY) record.ekey = MakeKey(seed + 0x10000);
  record.flags = flags;
  record.contentSize = contentSize;
  record.encodedSize = encodedSize;
  return storage.contents.Insert(record);
}

}  // namespace kestrine::testkit

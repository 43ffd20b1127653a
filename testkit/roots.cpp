#include "testkit/roots.h"

#include <algorithm>
#include <cctype>

#include "testkit/byte_writer.h"
#include "testkit/index_files.h"

namespace kestrine::testkit {

PlainRootLine RootLine(std::string name, const Key16& ckey, bool upperCase) {
  std::string key = FormatHexKey(ckey);
  if (upperCase) {
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
  }
  return {std::move(name), std::move(key), std::nullopt, {}};
}

std::vector<uint8_t> WritePlainTextRoot(const PlainTextRoot& root) {
  ByteWriter out;
  if (root.leadingHash) out.u8('#');
  for (const PlainRootLine& line : root.lines) {
    out.text(line.name + "|" + line.key);
    if (line.third) out.text("|" + *line.third);
    for (const std::string& field : line.further) out.text("|" + field);
    out.text(root.lineBreak);
  }
  return out.take();
}

std::vector<uint8_t> WriteInstallManifest(const InstallManifest& manifest) {
  ByteWriter out;
  out.text(manifest.signature);
  out.u8(manifest.version);
  out.u8(manifest.hashSize);
  const size_t entryCount = manifest.entryCount.value_or(manifest.entries.size());
  out.u16be(static_cast<uint16_t>(manifest.tags.size()));
  out.u32be(static_cast<uint32_t>(entryCount));
  for (const InstallTag& tag : manifest.tags) {
    out.text(tag.name);
    out.u8(0);
    out.u16be(tag.type);
    std::vector<uint8_t> bitmap((manifest.entries.size() + 7) / 8);
    for (size_t entry : tag.entries)
      bitmap.at(entry / 8) |= static_cast<uint8_t>(0x80 >> (entry % 8));
    out.bytes(bitmap);
  }
  for (const InstallEntry& entry : manifest.entries) {
    out.text(entry.name);
    out.u8(0);
    out.bytes(entry.ckey);
    out.u32be(entry.size);
  }
  out.dropLast(manifest.truncateBy);
  return out.take();
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

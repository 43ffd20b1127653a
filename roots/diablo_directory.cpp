#include "roots/diablo_directory.h"

#include <algorithm>

#include "common/errors.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

constexpr size_t kKeySize = 16;
constexpr size_t kAssetSize = kKeySize + 4;
constexpr size_t kAssetPartSize = kKeySize + 8;
constexpr size_t kMinimumExtendedSize = 8;

// The table of `count` entries of `size` bytes at the reader, consumed. The
// count is checked against the bytes left before anything is multiplied.
bool CutTable(ByteReader& reader, uint32_t count, size_t size, std::span<const uint8_t>& table) {
  if (!reader.ok() || count > reader.remaining() / size) return false;
  table = reader.bytes(size_t{count} * size);
  return true;
}

Key16 ReadKey(ByteReader& reader) {
  Key16 key{};
  const auto bytes = reader.bytes(kKeySize);
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

// Every named entry is a whole key and a terminated name.
bool NamedEntriesAreWhole(std::span<const uint8_t> named) {
  ByteReader reader(named);
  while (reader.remaining() > 0 && reader.ok()) {
    reader.skip(kKeySize);
    reader.until(0);
  }
  return reader.ok();
}

}  // namespace

size_t DiabloDirectory::assetCount() const {
  return assets.size() / kAssetSize;
}

size_t DiabloDirectory::assetPartCount() const {
  return assetParts.size() / kAssetPartSize;
}

uint32_t ParseDiabloDirectory(std::span<const uint8_t> data, DiabloDirectory& directory) {
  directory = {};
  ByteReader reader(data);
  const uint32_t signature = reader.u32le();
  if (!reader.ok()) return kErrorBadFormat;
  if (signature == kDiabloDirectorySignature) {
    if (data.size() < kMinimumExtendedSize) return kErrorBadFormat;
    if (!CutTable(reader, reader.u32le(), kAssetSize, directory.assets) ||
        !CutTable(reader, reader.u32le(), kAssetPartSize, directory.assetParts)) {
      return kErrorBadFormat;
    }
  } else if (signature != kDiabloRootSignature) {
    return kErrorBadFormat;
  }
  const uint32_t namedCount = reader.u32le();
  if (!reader.ok()) return kErrorBadFormat;
  if (namedCount != 0) directory.named = reader.bytes(reader.remaining());
  return NamedEntriesAreWhole(directory.named) ? kErrorSuccess : kErrorBadFormat;
}

DiabloAssetEntry DiabloAssetAt(const DiabloDirectory& directory, size_t index) {
  ByteReader reader(directory.assets.subspan(index * kAssetSize, kAssetSize));
  DiabloAssetEntry entry;
  entry.ckey = ReadKey(reader);
  entry.snoId = reader.u32le();
  return entry;
}

DiabloAssetEntry DiabloAssetPartAt(const DiabloDirectory& directory, size_t index) {
  ByteReader reader(directory.assetParts.subspan(index * kAssetPartSize, kAssetPartSize));
  DiabloAssetEntry entry;
  entry.ckey = ReadKey(reader);
  entry.snoId = reader.u32le();
  entry.subIndex = reader.u32le();
  entry.hasSubIndex = true;
  return entry;
}

bool DiabloNamedEntries::Next(DiabloNamedEntry& entry) {
  if (reader_.remaining() == 0) return false;
  entry.ckey = ReadKey(reader_);
  entry.name = AsText(reader_.until(0));
  return reader_.ok();
}

}  // namespace kestrine

#include "tool/sound_table.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>

#include "common/byte_reader.h"
#include "tool/import_error.h"
#include "tool/verified_read.h"

namespace kestrine {

namespace {

// Storage names, and so asset names, are shorter than kMaxPath: a table name
// whose asset name could not be shorter ("sound/" in front, at most "sd/"
// removed) can never match a file. Such names are checked for their
// terminator but not stored, which keeps a hostile table from costing
// count x file size in copies.
constexpr size_t kLongestMatchingSoundName = kMaxPath;

// Position of the last zero byte, which decides whether a name starting at a
// given offset is terminated at all.
std::optional<size_t> LastZeroByte(std::span<const uint8_t> table) {
  for (size_t i = table.size(); i-- > 0;) {
    if (table[i] == 0) return i;
  }
  return std::nullopt;
}

// Reads the name at `offset`, known to be terminated; nullopt when it is too
// long to match any file.
std::optional<std::string_view> ReadSoundName(std::span<const uint8_t> table, size_t offset) {
  size_t window = std::min(table.size() - offset, kLongestMatchingSoundName + 1);
  ByteReader name(table.subspan(offset, window));
  std::span<const uint8_t> bytes = name.until(0);
  if (!name.ok()) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

uint64_t QuerySoundTableSize(StorageApi& api, FileHandle file) {
  uint64_t size = 0;
  if (uint32_t error = api.GetFileContentSize(file, &size)) {
    SetCascError(error);
    FailImport("Invalid sound table");
  }
  if (size < 2 || size > kMaxSoundTableSize) FailImport("Invalid sound table");
  return size;
}

}  // namespace

SoundSet ParseSoundTable(std::span<const uint8_t> table) {
  ByteReader reader(table);
  uint16_t count = reader.u16le();
  if (!reader.ok()) FailImport("Invalid sound table");

  std::optional<size_t> lastZero = LastZeroByte(table);
  SoundSet wanted;
  for (size_t i = 0; i < count; ++i) {
    if (4 + 2 * i > table.size()) FailImport("Truncated sound table");
    reader.seek(2 + 2 * i);
    size_t offset = reader.u16le();
    if (offset >= table.size()) FailImport("Invalid sound name offset");
    if (!lastZero || offset > *lastZero) FailImport("Unterminated sound name");
    if (std::optional<std::string_view> name = ReadSoundName(table, offset)) {
      wanted.insert(std::string(kSoundFolder) + NormalizeAssetName(*name));
    }
  }
  return wanted;
}

SoundSet LoadSoundTable(StorageApi& api, StorageHandle storage, const std::string& storageName) {
  FileHandle opened = nullptr;
  if (storageName.empty() || !api.OpenFileByName(storage, storageName.c_str(), &opened)) {
    FailImport("Missing original sound table");
  }
  std::vector<uint8_t> table;
  {
    const ApiFile file(opened, ApiCloser{&api});
    uint64_t size = QuerySoundTableSize(api, file.get());
    table.resize(size);
    if (!ReadVerifiedContent(api, file.get(), table.data(), size)) {
      FailImport("Cannot read sound table");
    }
  }  // closed before the parse
  return ParseSoundTable(table);
}

void FilterSounds(std::vector<AssetEntry>& entries, const SoundSet& wanted) {
  std::erase_if(entries, [&](const AssetEntry& entry) {
    return entry.assetName.starts_with(kSoundFolder) && !wanted.contains(entry.assetName);
  });
}

}  // namespace kestrine

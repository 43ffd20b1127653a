#include "storage/config_files.h"

#include <algorithm>
#include <cctype>

#include "common/md5.h"
#include "common/path_builder.h"
#include "common/platform.h"
#include "encoded/stream.h"
#include "online/cdn_cache.h"
#include "storage/match_mask.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

// The highest VFS root number a build configuration may name. Far above any
// real build, and low enough that a hostile "vfs-N" cannot demand gigabytes.
constexpr uint32_t kMaxVfsRoots = 65536;

bool IsBlank(uint8_t c) {
  return c <= ' ';
}

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// 0x85 is NEL, the C1 next-line control.
bool IsConfigLineBreak(uint8_t c) {
  return c == '\n' || c == '\r' || c == 0x85;
}

bool IsBlankOrLineBreak(uint8_t c) {
  return IsBlank(c) || IsConfigLineBreak(c);
}

// A line whose last '~' is followed by 'P' ends at that '~'.
std::string_view CutAtTildeP(std::string_view line) {
  size_t tilde = line.rfind('~');
  if (tilde != std::string_view::npos && tilde + 1 < line.size() && line[tilde + 1] == 'P') {
    return line.substr(0, tilde);
  }
  return line;
}

std::string_view TrimTrailingBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(static_cast<uint8_t>(text.back()))) text.remove_suffix(1);
  return text;
}

// One decimal number; none when there is no digit or it does not fit 32 bits.
std::optional<uint32_t> ReadDecimal(ByteReader& reader) {
  std::string_view digits = ReadTextUntil(reader, [](uint8_t c) { return !IsDigit(c); });
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char digit : digits) {
    value = value * 10 + static_cast<uint64_t>(digit - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

// Reads the next blank-separated item as a key; false unless it is exactly
// 32 hex digits.
bool ReadHexKey(ByteReader& reader, Key16& key) {
  SkipTextWhile(reader, IsBlank);
  return ParseHexKey(ReadTextUntil(reader, IsBlank), key);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// ---- ParseKeyValue ----

uint32_t ParseSizes(std::string_view value, ContentEntry& entry) {
  ByteReader reader(AsBytes(value));
  SkipTextWhile(reader, IsBlank);
  std::optional<uint32_t> contentSize = ReadDecimal(reader);
  if (!contentSize) return kErrorBadFormat;
  SkipTextWhile(reader, IsBlank);
  entry.contentSize = *contentSize;
  entry.encodedSize = ReadDecimal(reader).value_or(kUnknownSize);
  return kErrorSuccess;
}

}  // namespace

uint64_t OffsetFromEKey(const Key16& ekey) {
  ByteReader reader(ekey);
  reader.skip(9);
  uint64_t high = reader.u24be();
  return high << 32 | reader.u32be();
}

namespace {

uint32_t ParseEntryKeys(const TCascStorage& storage, std::string_view value, ContentEntry& entry) {
  std::optional<size_t> count = CountHexKeys(value);
  KeyList keys;
  if (!count || *count == 0 || *count > 2 || ParseHexKeys(value, *count, keys) != 0) {
    return kErrorBadFormat;
  }
  entry.ckey = keys[0];
  entry.flags |= EF_CKEY;
  if (keys.size() == 2) {
    entry.ekey = keys[1];
    entry.flags |= EF_EKEY;
    if (storage.kind == BUILD_CONFIG) {
      entry.storageOffset = OffsetFromEKey(entry.ekey);
      entry.flags |= EF_LOCAL;
    }
  }
  return kErrorSuccess;
}

bool EndsWithAfterName(std::string_view key, std::string_view suffix) {
  return key.size() > suffix.size() && key.ends_with(suffix);
}

// ---- ParseBuildConfig ----

struct ManifestPattern {
  const char* mask;
  std::string_view name;
  ContentEntry TCascStorage::*entry;
};

constexpr ManifestPattern kManifestPatterns[] = {
    {"root*", "root", &TCascStorage::rootEntry},
    {"install*", "install", &TCascStorage::installEntry},
    {"download*", "download", &TCascStorage::downloadEntry},
    {"encoding*", "encoding", &TCascStorage::encodingEntry},
    {"patch*", "patch", &TCascStorage::patchEntry},
    {"size*", "size", &TCascStorage::sizeEntry},
    {"vfs-root*", "vfs-root", &TCascStorage::vfsRootEntry},
};

// A manifest's own lines are its name alone and its "-size", "-espec" and
// "-config" lines. Other keys that merely begin with the name name other
// files ("patch-index" is the patch index, not the patch manifest) and must
// not overwrite the manifest's keys.
bool NamesManifest(std::string_view key, std::string_view name) {
  std::string_view suffix = key.substr(std::min(name.size(), key.size()));
  return suffix.empty() || suffix == "-size" || suffix == "-espec" || suffix == "-config";
}

// A patch line with a single key names the patch manifest's encoded form.
void MoveSinglePatchKey(ContentEntry& entry) {
  if ((entry.flags & (EF_CKEY | EF_EKEY)) != EF_CKEY) return;
  entry.ekey = entry.ckey;
  entry.ckey = {};
  entry.flags = EF_EKEY;
}

bool ParseManifestLine(TCascStorage& storage, const ConfigLine& line) {
  for (const ManifestPattern& pattern : kManifestPatterns) {
    if (!MatchMask(pattern.mask, line.key) || !NamesManifest(line.key, pattern.name)) continue;
    ContentEntry& entry = storage.*pattern.entry;
    if (ParseKeyValue(storage, line.key, line.value, entry) != kErrorSuccess) continue;
    if (pattern.entry == &TCascStorage::patchEntry) MoveSinglePatchKey(entry);
    return true;
  }
  return false;
}

// An element of the VFS-root array grown so far is zero-filled; the element
// a line reaches first starts with unknown location and sizes.
ContentEntry ZeroFilledEntry() {
  ContentEntry entry;
  entry.storageOffset = 0;
  entry.contentSize = 0;
  entry.encodedSize = 0;
  entry.spanCount = 0;
  return entry;
}

// "vfs-N..." fills element N - 1 of the VFS-root array (N from 1 on).
void ParseVfsRootLine(TCascStorage& storage, const ConfigLine& line) {
  if (!line.key.starts_with("vfs-")) return;
  ByteReader reader(AsBytes(line.key.substr(4)));
  std::optional<uint32_t> number = ReadDecimal(reader);
  if (!number || *number == 0 || *number > kMaxVfsRoots) return;
  std::vector<ContentEntry>& roots = storage.vfsRootEntries;
  if (roots.size() < *number) {
    roots.resize(*number - 1, ZeroFilledEntry());
    roots.emplace_back();
  }
  (void)ParseKeyValue(storage, line.key, line.value, roots[*number - 1]);
}

void ParseBuildConfigLine(TCascStorage& storage, const ConfigLine& line, uint32_t& buildNumber) {
  if (MatchMask("build-uid", line.key)) {
    if (storage.productCode.empty()) storage.productCode = line.value;
  } else if (MatchMask("build-name", line.key)) {
    uint32_t number = LargestNumberIn(line.value);
    if (number > 99) buildNumber = number;
  } else if (!ParseManifestLine(storage, line) && MatchMask("vfs-*", line.key)) {
    ParseVfsRootLine(storage, line);
  }
}

std::string_view LastPathComponent(std::string_view path) {
  size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// ---- ParseCdnConfig ----

struct CdnList {
  std::string_view key;
  KeyList TCascStorage::*list;
};

constexpr CdnList kCdnLists[] = {
    {"archive-group", &TCascStorage::archiveGroup},
    {"archives", &TCascStorage::archives},
    {"patch-archives", &TCascStorage::patchArchives},
    {"patch-archive-group", &TCascStorage::patchArchiveGroup},
    {"builds", &TCascStorage::builds},
};

// ---- LoadKeyedConfig ----

std::string FindKeyedConfig(const TCascStorage& storage, const Key16& key) {
  for (const std::string* base : {&storage.dataPath, &storage.rootPath}) {
    if (base->empty()) continue;
    std::string path = KeyedConfigPath(*base, key);
    if (platform::Exists(path) && !platform::IsDirectory(path)) return path;
  }
  return {};
}

bool IsZeroKey(const Key16& key) {
  return std::ranges::all_of(key, [](uint8_t byte) { return byte == 0; });
}

}  // namespace

bool ConfigLineReader::Next(ConfigLine& out) {
  for (;;) {
    SkipTextWhile(reader_, IsBlankOrLineBreak);
    std::string_view line = CutAtTildeP(ReadTextUntil(reader_, IsConfigLineBreak));
    if (line.empty()) return false;

    ByteReader words(AsBytes(line));
    auto endsKey = [](uint8_t c) { return IsBlank(c) || c == '='; };
    std::string_view key = ReadTextUntil(words, endsKey);
    if (key.size() > kMaxKeyLength) continue;
    SkipTextWhile(words, endsKey);
    out.key = key;
    out.value = TrimTrailingBlanks(AsText(words.bytes(words.remaining())));
    return true;
  }
}

std::optional<size_t> CountHexKeys(std::string_view text) {
  ByteReader reader(AsBytes(text));
  size_t count = 0;
  Key16 key;
  for (;;) {
    SkipTextWhile(reader, IsBlank);
    if (reader.remaining() == 0) return count;
    if (!ReadHexKey(reader, key)) return std::nullopt;
    ++count;
  }
}

uint32_t ParseHexKeys(std::string_view text, size_t count, KeyList& keys) {
  // Every key takes 32 characters: a larger count cannot be satisfied.
  if (count > text.size() / 32) return kErrorBadFormat;
  KeyList parsed(count);
  ByteReader reader(AsBytes(text));
  for (Key16& key : parsed) {
    if (!ReadHexKey(reader, key)) return kErrorBadFormat;
  }
  keys = std::move(parsed);
  return kErrorSuccess;
}

uint32_t LargestNumberIn(std::string_view text) {
  ByteReader reader(AsBytes(text));
  uint32_t largest = 0;
  while (reader.remaining() > 0) {
    SkipTextWhile(reader, [](uint8_t c) { return !IsDigit(c); });
    if (std::optional<uint32_t> number = ReadDecimal(reader)) {
      largest = std::max(largest, *number);
    } else {
      SkipTextWhile(reader, IsDigit);  // too long for a number
    }
  }
  return largest;
}

uint32_t ParseKeyValue(TCascStorage& storage, std::string_view keyName, std::string_view value,
                       ContentEntry& entry) {
  if (EndsWithAfterName(keyName, "-config")) return kErrorSuccess;
  if (storage.kind == BUILD_CONFIG && EndsWithAfterName(keyName, "-espec")) {
    if (value == "z") entry.flags |= EF_BARE_ZLIB;
    return kErrorSuccess;
  }
  if (EndsWithAfterName(keyName, "-size")) return ParseSizes(value, entry);
  return ParseEntryKeys(storage, value, entry);
}

uint32_t ParseBuildConfig(TCascStorage& storage, std::span<const uint8_t> text) {
  storage.vfsRootEntries.clear();
  storage.vfsRootEntries.reserve(16);

  uint32_t buildNumber = 0;
  ConfigLineReader lines(text);
  for (ConfigLine line; lines.Next(line);) ParseBuildConfigLine(storage, line, buildNumber);

  if (storage.productCode.empty() && !storage.cdnPath.empty()) {
    storage.productCode = LastPathComponent(storage.cdnPath);
  }
  if (buildNumber != 0) storage.buildNumber = buildNumber;

  const ContentEntry& required =
      storage.kind == BUILD_CONFIG ? storage.vfsRootEntry : storage.encodingEntry;
  bool complete = (required.flags & (EF_CKEY | EF_EKEY)) == (EF_CKEY | EF_EKEY);
  return complete ? kErrorSuccess : kErrorBadFormat;
}

uint32_t ParseCdnConfig(TCascStorage& storage, std::span<const uint8_t> text) {
  ConfigLineReader lines(text);
  for (ConfigLine line; lines.Next(line);) {
    for (const CdnList& list : kCdnLists) {
      if (!EqualsIgnoreCase(line.key, list.key)) continue;
      // A list with one malformed item is dropped whole.
      std::optional<size_t> count = CountHexKeys(line.value);
      if (count) (void)ParseHexKeys(line.value, *count, storage.*list.list);
      break;
    }
  }
  return storage.archives.empty() ? kErrorBadFormat : kErrorSuccess;
}

std::string KeyedConfigPath(std::string_view base, const Key16& key) {
  std::string hex = FormatHexKey(key);
  std::string_view digits = hex;
  return CombinePath({base, "config", digits.substr(0, 2), digits.substr(2, 2), digits});
}

uint32_t LoadKeyedConfig(TCascStorage& storage, const KeyList& key, ConfigParser parser) {
  if (key.empty()) return kErrorFileNotFound;
  std::string path = FindKeyedConfig(storage, key[0]);
  if (path.empty()) {
    // An online storage fetches it into its cache.
    if (!storage.IsOnline()) return kErrorFileNotFound;
    if (uint32_t error = FetchStorageCdnFile(storage, kCdnConfig, key[0], {}, path)) return error;
  }

  WholeFile file;
  if (uint32_t error = ReadWholeLocalFile(path, file)) {
    return error == kErrorNotEnoughMemory ? error : kErrorFileNotFound;
  }
  if (!IsZeroKey(key[0]) && ComputeMd5(file.bytes) != key[0]) {
    // A cached download that is not the file asked for would fail every
    // later open too; the next one fetches it again.
    if (storage.IsOnline()) (void)platform::RemoveFile(path);
    return kErrorFileCorrupt;
  }
  return parser(storage, file.bytes);
}

}  // namespace kestrine

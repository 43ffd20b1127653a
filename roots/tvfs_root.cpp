// The TVFS root. All numbers are big-endian.
//
// Header:
//
//   OFFSET SIZE FIELD
//   0      4    signature "TVFS"
//   4      1    format version, 1
//   5      1    header size, at least 8; fields at or beyond it read as 0
//   6      1    EKey size, 9 or 16
//   7      1    patch-key size, equal to the EKey size
//   8      4    flags (unused)
//   12     8    path table: offset, size
//   20     8    VFS table: offset, size
//   28     8    container-file table (CFT): offset, size
//   36     2    maximum folder depth (unused)
//
// Path table: a sequence of entries, each
//
//   [00]            a separator before the fragment
//   [L, L bytes]    a name fragment, unless the next byte is FF
//   [00]            a separator after the fragment
//   [FF, value]     a node value (4 bytes)
//
// A fragment followed by another entry (a byte neither 00 nor FF) has a
// separator after it and no value. A value with the top bit set is a folder
// whose content (the next low-31-bits minus 4 bytes) is again a sequence of
// entries; otherwise it is the offset of a file's VFS entry. The path keeps
// what value-less entries append, and is cut back after an entry with a
// value. A table of 6 bytes or more that starts with FF opens with the root
// folder's value, which covers the walk.
//
// VFS entry: span count n (1 to 224), then n spans of offset in the file (4,
// unused), content size (4) and the offset of the span's CFT entry (1 to 4
// bytes, as wide as the CFT size needs). CFT entry: EKey, encoded size (4).
//
// A file whose EKey is a "vfs-N" descriptor of the build configuration and
// whose content is itself TVFS is a nested directory, mounted as the
// container "name:" with its files below it.
#include "roots/tvfs_root.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"
#include "common/errors.h"
#include "roots/root_loaders.h"
#include "roots/tvfs_name_map.h"
#include "roots/tvfs_span_record.h"
#include "storage/config_files.h"
#include "storage/index_files.h"
#include "storage/manifest_file.h"

namespace kestrine {

namespace {

constexpr size_t kFullHeaderSize = 38;
constexpr size_t kMinimumHeaderSize = 8;
constexpr uint8_t kVersion = 1;
constexpr uint8_t kSeparatorByte = 0x00;
constexpr uint8_t kValueByte = 0xFF;
constexpr uint32_t kFolderBit = 0x80000000;
constexpr size_t kValueSize = 4;
constexpr size_t kRootRuleMinimum = 6;
constexpr uint8_t kMaxSpanCount = 0xE0;
constexpr size_t kSpanFixedSize = 8;
constexpr size_t kEKeyPrefix = 9;
constexpr size_t kFullEKey = 16;

uint8_t PeekByte(const ByteReader& reader) {
  ByteReader copy = reader;
  return copy.u8();
}

// The table at [offset, offset + size) of the data; false when it runs past.
bool CutTable(std::span<const uint8_t> data, uint32_t offset, uint32_t size,
              std::span<const uint8_t>& table) {
  if (offset > data.size() || size > data.size() - offset) return false;
  table = data.subspan(offset, size);
  return true;
}

uint32_t ReadWidth(ByteReader& reader, uint32_t width) {
  switch (width) {
    case 1:
      return reader.u8();
    case 2:
      return reader.u16be();
    case 3:
      return reader.u24be();
    default:
      return reader.u32be();
  }
}

// A name of key form: 52, 53 or 57 bytes with the first ":" at 12 or 16.
bool IsKeyFormName(std::string_view path) {
  if (path.size() != 52 && path.size() != 53 && path.size() != 57) return false;
  const size_t colon = path.find(':');
  return colon == 12 || colon == 16;
}

struct PathEntry {
  bool separatorBefore = false;
  std::span<const uint8_t> fragment;
  bool hasFragment = false;
  bool separatorAfter = false;
  bool hasValue = false;
  uint32_t value = 0;
};

// 0, or 11 when a fragment or the value runs past the table.
uint32_t ReadPathEntry(ByteReader& reader, PathEntry& entry) {
  entry = {};
  if (PeekByte(reader) == kSeparatorByte) {
    reader.skip(1);
    entry.separatorBefore = true;
  }
  if (reader.remaining() > 0 && PeekByte(reader) != kValueByte) {
    const uint8_t length = reader.u8();
    entry.fragment = reader.bytes(length);
    entry.hasFragment = true;
  }
  if (reader.remaining() > 0 && PeekByte(reader) == kSeparatorByte) {
    reader.skip(1);
    entry.separatorAfter = true;
  } else if (reader.remaining() > 0 && PeekByte(reader) != kValueByte) {
    entry.separatorAfter = entry.hasFragment;  // another entry begins
  }
  if (reader.remaining() > 0 && PeekByte(reader) == kValueByte) {
    reader.skip(1);
    entry.value = reader.u32be();
    entry.hasValue = true;
  }
  return reader.ok() ? kErrorSuccess : kErrorBadFormat;
}

// The content of a folder whose value is `value`, consumed from `reader`.
bool ReadFolderContent(ByteReader& reader, uint32_t value, ByteReader& content) {
  const uint32_t length = value & ~kFolderBit;
  if (length < kValueSize) return false;
  content = reader.sub(length - kValueSize);
  return reader.ok();
}

// The entries the walk covers: the root folder's content, or the whole table.
bool RootEntries(std::span<const uint8_t> pathTable, ByteReader& entries) {
  ByteReader reader(pathTable);
  if (pathTable.size() < kRootRuleMinimum || pathTable[0] != kValueByte) {
    entries = reader;
    return true;
  }
  reader.skip(1);
  const uint32_t value = reader.u32be();
  return (value & kFolderBit) != 0 && ReadFolderContent(reader, value, entries);
}

// Names every file of a TVFS directory, and of the directories nested in it.
class TvfsWalker {
 public:
  TvfsWalker(TCascStorage& storage, TRootHandler_TVFS& root) : storage_(storage), root_(root) {}

  // Walks the directory from its root folder with the current path.
  uint32_t WalkDirectory(const TvfsHeader& header) {
    ByteReader entries;
    if (!RootEntries(header.pathTable, entries)) return kErrorBadFormat;
    return Walk(header, entries);
  }

  // Nested directories are mounted only when set.
  void SetDescend(bool descend) { descend_ = descend; }
  // Paths are entered under their translation through `map` while set.
  void SetNameMap(const TvfsNameMap* map) { nameMap_ = map; }

 private:
  struct Level {
    ByteReader entries;
    size_t pathStart;
  };

  uint32_t Walk(const TvfsHeader& header, const ByteReader& entries) {
    std::vector<Level> levels{{entries, path_.size()}};
    while (!levels.empty()) {
      Level& level = levels.back();
      if (level.entries.remaining() == 0) {
        levels.pop_back();
        if (!levels.empty()) path_.resize(levels.back().pathStart);
        continue;
      }
      PathEntry entry;
      if (uint32_t error = ReadPathEntry(level.entries, entry)) return error;
      AppendToPath(entry);
      if (!entry.hasValue) continue;
      if (entry.value & kFolderBit) {
        ByteReader content;
        if (!ReadFolderContent(level.entries, entry.value, content)) return kErrorBadFormat;
        levels.push_back({content, path_.size()});
        continue;
      }
      if (uint32_t error = HandleFile(header, entry.value)) return error;
      path_.resize(level.pathStart);
    }
    return kErrorSuccess;
  }

  // Separators are written "/"; a "/" or "\" inside a fragment becomes "\".
  void AppendToPath(const PathEntry& entry) {
    if (entry.separatorBefore) path_ += '/';
    for (uint8_t c : entry.fragment) path_ += (c == '/' || c == '\\') ? '\\' : static_cast<char>(c);
    if (entry.separatorAfter) path_ += '/';
  }

  uint32_t HandleFile(const TvfsHeader& header, uint32_t vfsOffset) {
    if (vfsOffset >= header.vfsTable.size()) return kErrorBadFormat;
    ByteReader vfs(header.vfsTable);
    vfs.seek(vfsOffset);
    const uint8_t spanCount = vfs.u8();
    if (spanCount > kMaxSpanCount) return kErrorBadFormat;
    // No span: no content to bind the name to.
    if (spanCount == 0) return kErrorSuccess;
    ByteReader spans = vfs.sub(size_t{spanCount} * (kSpanFixedSize + header.cftOffsetWidth));
    if (!vfs.ok()) return kErrorFileCorrupt;
    return spanCount == 1 ? SingleSpanFile(header, spans) : MultiSpanFile(header, spans, spanCount);
  }

  // The span's record: its EKey and content size; for storages keyed by
  // full EKeys also its location and encoded size.
  uint32_t ReadSpan(const TvfsHeader& header, ByteReader& spans, ContentEntry& record) const {
    spans.skip(4);
    const uint32_t contentSize = spans.u32be();
    const uint32_t cftOffset = ReadWidth(spans, header.cftOffsetWidth);
    ByteReader cft(header.cft);
    cft.seek(cftOffset);
    const auto ekey = cft.bytes(header.ekeySize);
    const uint32_t encodedSize = cft.u32be();
    if (!cft.ok()) return kErrorFileCorrupt;
    record = MakeSpanRecord(storage_, ekey, contentSize, encodedSize);
    return kErrorSuccess;
  }

  // The storage's entry for the record's EKey, or a new one. A new entry
  // keeps the record's flags: for storages keyed by full EKeys they say
  // where the file lies, which no index would tell.
  ContentEntry* EntryFor(const TvfsHeader& header, const ContentEntry& record) {
    if (ContentEntry* entry = storage_.contents.FindByEKey(record.ekey.data())) return entry;
    return AppendSpanEntry(storage_, record, header.ekeySize);
  }

  uint32_t SingleSpanFile(const TvfsHeader& header, ByteReader& spans) {
    ContentEntry record;
    if (uint32_t error = ReadSpan(header, spans, record)) return error;
    ContentEntry* entry = EntryFor(header, record);
    if (entry == nullptr) return kErrorNotEnoughMemory;
    uint32_t result = kErrorSuccess;
    if (MountNested(header, *entry, result)) return result;
    if (entry->contentSize == kUnknownSize) entry->contentSize = record.contentSize;
    if (IsKeyFormName(path_)) return kErrorReparseRoot;
    (void)EnterName(entry);  // a full tree leaves the file nameless
    return kErrorSuccess;
  }

  // The n spans go to n consecutive span records, each a copy of the
  // storage's entry for its EKey; the name is bound to the first. A span
  // whose EKey the storage does not list passes the file over, except on
  // storages keyed by full EKeys, which locate it by the EKey alone.
  uint32_t MultiSpanFile(const TvfsHeader& header, ByteReader& spans, uint8_t spanCount) {
    if (IsNamed(TranslatedPath())) return kErrorSuccess;  // entered by the first walk
    ContentEntry* records = storage_.spanRecords.Append(spanCount);
    std::vector<ContentEntry*> entries(spanCount);
    uint32_t result = ResolveSpans(header, spans, records, entries);
    if (result != kErrorSuccess || entries[0] == nullptr) {
      storage_.spanRecords.DropLast(spanCount);
      return result;
    }
    for (size_t i = 0; i < spanCount; ++i) {
      ContentEntry& entry = *entries[i];
      if (entry.contentSize == kUnknownSize) entry.contentSize = records[i].contentSize;
      if (i == 0) {
        ++entry.refCount;  // the name's reference, counted on the storage's entry
      } else {
        entry.flags |= EF_SPAN_CONTINUATION;
      }
      records[i] = entry;
      records[i].spanCount = i == 0 ? spanCount : 1;
      records[i].refCount = 0;
    }
    if (root_.tree().InsertFile(records, TranslatedPath(), kNoFileId) == nullptr) {
      return kErrorNotEnoughMemory;
    }
    records[0].refCount = 0;
    return kErrorSuccess;
  }

  // Fills the records and finds the storage's entries; entries[0] stays
  // null when the file is passed over.
  uint32_t ResolveSpans(const TvfsHeader& header, ByteReader& spans, ContentEntry* records,
                        std::vector<ContentEntry*>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (uint32_t error = ReadSpan(header, spans, records[i])) return error;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
      entries[i] = storage_.contents.FindByEKey(records[i].ekey.data());
      if (entries[i] != nullptr) continue;
      if (storage_.kind != BUILD_CONFIG) {
        entries[0] = nullptr;
        return kErrorSuccess;
      }
      entries[i] = EntryFor(header, records[i]);
      if (entries[i] == nullptr) return kErrorNotEnoughMemory;
    }
    return kErrorSuccess;
  }

  // True when the file is a nested directory (mounted, or passed over while
  // not descending); `result` is then the nested walk's. A directory being
  // walked already is not mounted again inside itself.
  bool MountNested(const TvfsHeader& header, ContentEntry& entry, uint32_t& result) {
    if (!IsNestedDescriptor(header, entry)) return false;
    const auto inside = std::find(mounted_.begin(), mounted_.end(), &entry);
    if (inside != mounted_.end()) return false;
    std::vector<uint8_t> content;
    if (LoadManifestFile(storage_, &entry, content) != kErrorSuccess) return false;
    TvfsHeader nested;
    if (!content.empty() && ParseTvfsHeader(content, nested) != kErrorSuccess) return false;
    if (!descend_) return true;
    path_ += ':';
    (void)EnterName(&entry);
    if (content.empty()) return true;
    mounted_.push_back(&entry);
    result = WalkDirectory(nested);
    mounted_.pop_back();
    return true;
  }

  // One of the build configuration's "vfs-N" descriptors has this EKey.
  bool IsNestedDescriptor(const TvfsHeader& header, const ContentEntry& entry) const {
    const size_t compared = header.ekeySize == kFullEKey ? kFullEKey : kEKeyPrefix;
    return std::any_of(storage_.vfsRootEntries.begin(), storage_.vfsRootEntries.end(),
                       [&](const ContentEntry& descriptor) {
                         return (descriptor.flags & EF_EKEY) != 0 &&
                                std::equal(entry.ekey.begin(), entry.ekey.begin() + compared,
                                           descriptor.ekey.begin());
                       });
  }

  // A file of this name is in the tree already.
  bool IsNamed(std::string_view name) const {
    const uint32_t node = root_.tree().FindName(name);
    return node != kNoNode && root_.tree().Node(node).entry != nullptr;
  }

  uint32_t EnterName(ContentEntry* entry) {
    return root_.tree().InsertFile(entry, TranslatedPath(), kNoFileId) != nullptr
               ? kErrorSuccess
               : kErrorNotEnoughMemory;
  }

  // The name a path is entered under. Storages keyed by full EKeys map
  // paths through their "index" name map; others keep the path.
  std::string_view TranslatedPath() const {
    return nameMap_ != nullptr ? nameMap_->Translate(path_) : std::string_view(path_);
  }

  TCascStorage& storage_;
  TRootHandler_TVFS& root_;
  std::string path_;
  bool descend_ = true;
  const TvfsNameMap* nameMap_ = nullptr;
  std::vector<const ContentEntry*> mounted_;
};

// The entry of the build configuration's "vfs-root" key, named "vfs-root".
void NameVfsRoot(TCascStorage& storage, TRootHandler_TVFS& root) {
  if ((storage.vfsRootEntry.flags & EF_CKEY) == 0) return;
  ContentEntry* entry = storage.contents.FindByCKey(storage.vfsRootEntry.ckey.data());
  if (entry != nullptr) (void)root.tree().InsertFile(entry, "vfs-root", kNoFileId);
}

// Storages keyed by full EKeys name their files by a flattened form first:
// a walk of the top directory alone, untranslated, enters them and finds the
// "index" file, whose map then gives the real paths to the main walk. The
// names of the first walk stay and come first in a search. Without a map
// the main walk enters the same paths again, which changes nothing.
uint32_t LoadNameMap(TCascStorage& storage, TRootHandler_TVFS& root, const TvfsHeader& header,
                     TvfsNameMap& map) {
  TvfsWalker firstWalk(storage, root);
  firstWalk.SetDescend(false);
  if (uint32_t error = firstWalk.WalkDirectory(header)) return error;
  (void)LoadStorageNameMap(storage, root.LookupName(&storage, "index"), map);
  return kErrorSuccess;
}

uint32_t WalkRoot(TCascStorage& storage, TRootHandler_TVFS& root, const TvfsHeader& header) {
  TvfsNameMap map;
  if (storage.kind == BUILD_CONFIG) {
    if (uint32_t error = LoadNameMap(storage, root, header, map)) return error;
  }
  TvfsWalker walker(storage, root);
  if (!map.empty()) walker.SetNameMap(&map);
  return walker.WalkDirectory(header);
}

}  // namespace

uint32_t CftOffsetWidth(uint32_t cftSize) {
  if (cftSize < 0x100) return 1;
  if (cftSize < 0x10000) return 2;
  if (cftSize < 0x1000000) return 3;
  return 4;
}

uint32_t ParseTvfsHeader(std::span<const uint8_t> data, TvfsHeader& header) {
  if (data.size() < kMinimumHeaderSize) return kErrorBadFormat;
  const size_t headerSize = data[5];
  if (headerSize < kMinimumHeaderSize || headerSize > data.size()) return kErrorBadFormat;
  std::array<uint8_t, kFullHeaderSize> fields{};
  std::copy_n(data.begin(), std::min(headerSize, kFullHeaderSize), fields.begin());
  ByteReader reader(fields);
  const uint32_t signature = reader.u32be();
  const uint8_t version = reader.u8();
  reader.skip(1);
  const uint8_t ekeySize = reader.u8();
  const uint8_t patchKeySize = reader.u8();
  reader.skip(4);
  uint32_t table[6];
  for (uint32_t& field : table) field = reader.u32be();
  if (signature != 0x54564653 || version != kVersion ||
      (ekeySize != kEKeyPrefix && ekeySize != kFullEKey) || patchKeySize != ekeySize) {
    return kErrorBadFormat;
  }
  header.ekeySize = ekeySize;
  header.cftOffsetWidth = CftOffsetWidth(table[5]);
  const bool inside = CutTable(data, table[0], table[1], header.pathTable) &&
                      CutTable(data, table[2], table[3], header.vfsTable) &&
                      CutTable(data, table[4], table[5], header.cft);
  return inside ? kErrorSuccess : kErrorBadFormat;
}

uint32_t LoadTvfsRoot(TCascStorage& storage, std::span<const uint8_t> data,
                      uint32_t /*localeMask*/) {
  TvfsHeader header;
  if (uint32_t error = ParseTvfsHeader(data, header)) return error;
  try {
    auto root = std::make_unique<TRootHandler_TVFS>();
    NameVfsRoot(storage, *root);
    const uint32_t result = WalkRoot(storage, *root, header);
    if (result == kErrorSuccess || result == kErrorReparseRoot) storage.root = std::move(root);
    return result;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

}  // namespace kestrine

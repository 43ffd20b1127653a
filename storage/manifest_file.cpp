#include "storage/manifest_file.h"

#include <memory>
#include <new>

#include "common/md5.h"
#include "encoded/open_file.h"

namespace kestrine {

namespace {

struct FileCloser {
  void operator()(TCascFile* file) const { CloseFile(HandleOf(file)); }
};
using FileGuard = std::unique_ptr<TCascFile, FileCloser>;

// The decoded size: the entry's when known, else what the frame headers say.
// A file that cannot be loaded keeps its own reason (2 when it is nowhere),
// so that a missing manifest reads as missing whether its size was known.
uint32_t ContentSizeOf(TCascFile& file, const ContentEntry& entry, uint32_t& size) {
  uint64_t contentSize = entry.contentSize;
  if (contentSize == kUnknownSize) {
    if (uint32_t error = EnsureFileSpans(file)) return error;
    contentSize = FileContentSize(file);
  }
  if (contentSize >= kUnknownSize) return kErrorFileCorrupt;
  size = static_cast<uint32_t>(contentSize);
  return kErrorSuccess;
}

uint32_t ReadWhole(TCascFile& file, uint32_t size, std::vector<uint8_t>& out) {
  try {
    out.resize(size);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  if (size == 0) return kErrorSuccess;
  uint32_t bytesRead = 0;
  if (!ReadOpenFile(HandleOf(&file), out.data(), size, &bytesRead)) {
    const uint32_t error = GetCascError();
    return error != kErrorSuccess ? error : kErrorFileCorrupt;
  }
  return bytesRead == size ? kErrorSuccess : kErrorFileCorrupt;
}

// The reading rules are lenient (a truncated archive reads as zeros, a frame
// without a checksum may inflate to other bytes), so what was read is held
// against the content key whenever the file has one: one span with a known
// CKey. A file of several spans has no key of its whole content.
bool MatchesContentKey(const TCascFile& file, std::span<const uint8_t> content) {
  const ContentEntry& entry = file.entries[0];
  if (file.spanCount != 1 || (entry.flags & EF_CKEY) == 0) return true;
  return ComputeMd5(content) == entry.ckey;
}

uint32_t LoadInto(TCascStorage& storage, ContentEntry& entry, std::vector<uint8_t>& out) {
  const uint32_t flags = FF_VERIFY_FRAMES | (storage.IsOnline() ? FF_ONLINE : 0);
  TCascFile* opened = nullptr;
  if (uint32_t error = OpenFileByEntry(storage, entry, flags, opened)) return error;
  FileGuard file(opened);
  SetReadStrategy(*file, ReadStrategy::kWholeFile);
  uint32_t size = 0;
  if (uint32_t error = ContentSizeOf(*file, entry, size)) return error;
  if (uint32_t error = ReadWhole(*file, size, out)) return error;
  return MatchesContentKey(*file, out) ? kErrorSuccess : kErrorFileCorrupt;
}

}  // namespace

uint32_t LoadManifestFile(TCascStorage& storage, ContentEntry* entry, std::vector<uint8_t>& out) {
  out.clear();
  if (entry == nullptr) return kErrorFileNotFound;
  uint32_t result = LoadInto(storage, *entry, out);
  if (result != kErrorSuccess) out = {};
  return result;
}

}  // namespace kestrine

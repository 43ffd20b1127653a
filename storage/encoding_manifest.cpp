// ENCODING manifest layout (numbers big-endian):
//
// OFFSET SIZE    FIELD
// 0      2       signature "EN"
// 2      1       version (1)
// 3      1       CKey length (16)
// 4      1       EKey length (16)
// 5      2       CKey page size in KiB
// 7      2       EKey-spec page size in KiB
// 9      4       CKey page count P
// 13     4       EKey-spec page count
// 17     1       (unused)
// 18     4       encoding-spec text size S
// 22     S       encoding-spec text (not interpreted)
// 22+S   P*32    CKey page table: first CKey of the page, MD5 of the page
// ...    P*size  CKey pages; EKey-spec page table and pages follow (not read)
//
// CKey page entry:
// 0      1       EKey count K; zero ends the page (the rest is padding)
// 1      5       content size (40-bit)
// 6      16      CKey
// 22     16*K    EKeys (the first one names the file's encoded form)
//
// Byte 1 is the content size's high byte, not part of the count: reading the
// two as one count would end the page at the first file of 4 GiB or more and
// drop the entries after it. A content size that does not fit the entry's 32
// bits is kept as unknown rather than cut short.
#include "storage/encoding_manifest.h"

#include <algorithm>
#include <vector>

#include "common/byte_reader.h"
#include "storage/config_entries.h"
#include "storage/index_files.h"
#include "storage/manifest_file.h"

namespace kestrine {

namespace {

constexpr size_t kHeaderSize = 22;
constexpr size_t kKeyLength = 16;
constexpr size_t kPageTableEntrySize = 32;
constexpr size_t kEntryFixedSize = 6 + kKeyLength;

struct EncodingHeader {
  size_t pageSize = 0;
  uint32_t pageCount = 0;
  size_t pageTableOffset = 0;
};

bool ReadHeader(std::span<const uint8_t> manifest, EncodingHeader& header) {
  ByteReader r(manifest);
  auto signature = r.bytes(2);
  uint8_t version = r.u8();
  uint8_t ckeyLength = r.u8();
  uint8_t ekeyLength = r.u8();
  header.pageSize = size_t{r.u16be()} * 1024;
  r.skip(2);  // EKey-spec page size
  header.pageCount = r.u32be();
  r.skip(4 + 1);  // EKey-spec page count, unused byte
  header.pageTableOffset = kHeaderSize + size_t{r.u32be()};
  return r.ok() && signature[0] == 'E' && signature[1] == 'N' && version == 1 &&
         ckeyLength == kKeyLength && ekeyLength == kKeyLength;
}

void AddEncodingEntry(TCascStorage& storage, ByteReader entry) {
  ContentEntry* content = storage.contents.Allocate();
  if (content == nullptr) return;  // the array is full: dropped, as every entry then
  entry.skip(1);
  const uint64_t contentSize = entry.u40be();
  content->contentSize =
      contentSize < kUnknownSize ? static_cast<uint32_t>(contentSize) : kUnknownSize;
  std::copy_n(entry.bytes(kKeyLength).data(), kKeyLength, content->ckey.data());
  std::copy_n(entry.bytes(kKeyLength).data(), kKeyLength, content->ekey.data());
  content->flags = EF_CKEY | EF_EKEY | EF_IN_ENCODING;
  LocateEncodedFile(storage, *content);
  storage.contents.EnterCKey(content);
  storage.contents.EnterEKey(content);
}

// True when the page's first entry carries `key` as its CKey.
bool StartsWithKey(ByteReader page, std::span<const uint8_t> key) {
  page.skip(6);
  auto first = page.bytes(kKeyLength);
  return page.ok() && std::equal(key.begin(), key.end(), first.begin(), first.end());
}

// Calls `use` with each whole entry of the page (CKey count, sizes, keys),
// up to the zero count that pads the page's end.
template <typename Use>
void ForEachEntry(ByteReader page, Use use) {
  while (page.remaining() >= 1) {
    ByteReader peek = page;
    const size_t count = peek.u8();
    if (count == 0) return;
    const size_t entrySize = kEntryFixedSize + count * kKeyLength;
    if (entrySize > page.remaining()) return;
    use(page.sub(entrySize));
  }
}

// A page's CKeys are sorted, so the entries and the CKey map are filled in
// order; the index map and the EKey map are read all over. Those reads are
// started for the whole page first, so that their cache misses overlap
// instead of being waited for one entry at a time.
void PrefetchPage(const TCascStorage& storage, ByteReader page) {
  ForEachEntry(page, [&](ByteReader entry) {
    entry.skip(kEntryFixedSize);
    const uint8_t* ekey = entry.bytes(kKeyLength).data();
    PrefetchLocation(storage, ekey);
    storage.contents.ekeyMap().PrefetchBucket(ekey);
  });
}

void WalkPage(TCascStorage& storage, ByteReader page) {
  PrefetchPage(storage, page);
  ForEachEntry(page, [&](ByteReader entry) { AddEncodingEntry(storage, entry); });
}

}  // namespace

uint32_t ParseEncodingManifest(TCascStorage& storage, std::span<const uint8_t> manifest) {
  EncodingHeader header;
  if (!ReadHeader(manifest, header)) return kErrorBadFormat;
  if (header.pageCount == 0) return kErrorSuccess;

  // 64-bit sum: the count comes from the file and may be anything.
  const uint64_t pagesOffset =
      uint64_t{header.pageTableOffset} + uint64_t{header.pageCount} * kPageTableEntrySize;
  ByteReader table(manifest);
  ByteReader pages(manifest);
  if (pagesOffset > manifest.size() || !table.seek(header.pageTableOffset) ||
      !pages.seek(static_cast<size_t>(pagesOffset))) {
    return kErrorFileCorrupt;
  }
  for (uint32_t i = 0; i < header.pageCount; ++i) {
    auto tableKey = table.bytes(kKeyLength);
    table.skip(kPageTableEntrySize - kKeyLength);  // the page's MD5, not checked
    ByteReader page = pages.sub(header.pageSize);
    if (!table.ok() || !pages.ok() || !StartsWithKey(page, tableKey)) return kErrorFileCorrupt;
    WalkPage(storage, page);
  }
  return kErrorSuccess;
}

namespace {

// Locate, insert and read: one attempt at the manifest's bytes.
uint32_t ReadEncodingManifest(TCascStorage& storage, std::vector<uint8_t>& manifest) {
  if (!LocateEncodedFile(storage, storage.encodingEntry)) return kErrorFileNotFound;
  ContentEntry* entry = storage.contents.Insert(storage.encodingEntry);
  return LoadManifestFile(storage, entry, manifest);
}

}  // namespace

uint32_t LoadEncodingManifest(TCascStorage& storage) {
  if (ProgressCancelled(storage, kStageManifest, "ENCODING", 0, 0)) return kErrorCancelled;
  std::vector<uint8_t> manifest;
  uint32_t result =
      WithOnlineFallback(storage, [&] { return ReadEncodingManifest(storage, manifest); });
  if (result != kErrorSuccess) return result;
  result = ParseEncodingManifest(storage, manifest);
  if (result != kErrorSuccess) return result;
  manifest = {};
  InsertConfigEntries(storage);
  return kErrorSuccess;
}

}  // namespace kestrine

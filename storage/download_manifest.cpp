// DOWNLOAD manifest layout (numbers big-endian):
//
// OFFSET SIZE    FIELD
// 0      2       signature "DL"
// 2      1       version V (1 to 3)
// 3      1       EKey length L (at most 16)
// 4      1       checksum flag: non-zero when every entry carries a checksum
// 5      4       entry count N
// 9      2       tag count T
// 11     1       flag-byte count F (V >= 2; none before)
// 12     4       (V = 3, unused)
//
// The header is 11 bytes for V = 1, 12 for V = 2 and 16 for V = 3; the file
// holds at least 16 bytes. N entries follow:
// 0      L       EKey
// L      5       encoded size (40-bit)
// L+5    1       priority
// L+6    4       checksum, when flagged (not used)
// ...    F       flags (not used)
// Then T tags:
// 0      n+1     name, NUL-terminated
// n+1    2       type
// n+3    N/8     bit field (rounded up), one bit per entry, most significant
//                bit first; a field cut by the end of the file counts as far
//                as it goes
#include "storage/download_manifest.h"

#include <algorithm>
#include <new>
#include <vector>

#include "common/byte_reader.h"
#include "storage/index_files.h"
#include "storage/manifest_file.h"

namespace kestrine {

namespace {

constexpr size_t kMinimumSize = 16;
constexpr size_t kTagMaskBits = 64;

struct DownloadHeader {
  uint8_t ekeyLength = 0;
  bool checksums = false;
  uint32_t entryCount = 0;
  uint16_t tagCount = 0;
  uint8_t flagBytes = 0;
  size_t size = 0;

  size_t EntrySize() const { return ekeyLength + 5 + 1 + (checksums ? 4 : 0) + flagBytes; }
};

bool ReadHeader(std::span<const uint8_t> manifest, DownloadHeader& header) {
  if (manifest.size() < kMinimumSize) return false;
  ByteReader r(manifest);
  auto signature = r.bytes(2);
  const uint8_t version = r.u8();
  header.ekeyLength = r.u8();
  header.checksums = r.u8() != 0;
  header.entryCount = r.u32be();
  header.tagCount = r.u16be();
  header.flagBytes = version >= 2 ? r.u8() : 0;
  header.size = version < 2 ? 11 : version == 2 ? 12 : 16;
  return r.ok() && signature[0] == 'D' && signature[1] == 'L' && version < 4 &&
         header.ekeyLength <= 16;
}

// Each tag's bit field, as far as the file holds it.
using BitFields = std::vector<std::span<const uint8_t>>;

uint32_t ReadTags(TCascStorage& storage, ByteReader tags, const DownloadHeader& header,
                  BitFields& bitFields) {
  const size_t fieldSize = (size_t{header.entryCount} + 7) / 8;
  try {
    for (uint32_t t = 0; t < header.tagCount; ++t) {
      auto name = tags.until('\0');
      const uint16_t type = tags.u16be();
      if (!tags.ok()) break;
      bitFields.push_back(tags.bytes(std::min(fieldSize, tags.remaining())));
      storage.downloadTags.push_back(
          DownloadTag{std::string(name.begin(), name.end()), uint32_t{type}});
    }
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

uint64_t TagMaskOf(const BitFields& bitFields, size_t index) {
  uint64_t mask = 0;
  const size_t byte = index / 8;
  const uint8_t bit = static_cast<uint8_t>(0x80 >> (index % 8));
  for (size_t t = 0; t < std::min(bitFields.size(), kTagMaskBits); ++t) {
    if (byte < bitFields[t].size() && (bitFields[t][byte] & bit) != 0) mask |= uint64_t{1} << t;
  }
  return mask;
}

struct DownloadEntry {
  Key16 ekey{};
  uint32_t encodedSize = kUnknownSize;
  uint8_t priority = 0;
};

DownloadEntry ReadEntry(ByteReader r, const DownloadHeader& header) {
  DownloadEntry entry;
  auto ekey = r.bytes(header.ekeyLength);
  std::copy(ekey.begin(), ekey.end(), entry.ekey.begin());
  const uint64_t encodedSize = r.u40be();
  // A size the entry's 32 bits cannot hold stays unknown rather than cut short.
  entry.encodedSize =
      encodedSize < kUnknownSize ? static_cast<uint32_t>(encodedSize) : kUnknownSize;
  entry.priority = r.u8();
  // The checksum and the flag bytes are not used.
  return entry;
}

// The content entry the download entry describes: the known one, updated,
// or a new EKey-only one (null when the array is full).
ContentEntry* ApplyEntry(TCascStorage& storage, const DownloadEntry& download) {
  if (ContentEntry* known = storage.contents.FindByEKey(download.ekey.data())) {
    if (known->flags & EF_EKEY_PARTIAL) known->ekey = download.ekey;
    if (known->encodedSize == kUnknownSize) known->encodedSize = download.encodedSize;
    known->flags = (known->flags & ~EF_EKEY_PARTIAL) | EF_IN_DOWNLOAD;
    known->priority = download.priority;
    return known;
  }
  ContentEntry* created = storage.contents.Allocate();
  if (created == nullptr) return nullptr;
  created->ekey = download.ekey;
  created->encodedSize = download.encodedSize;
  created->flags = EF_EKEY | EF_IN_DOWNLOAD;
  created->priority = download.priority;
  LocateEncodedFile(storage, *created);
  storage.contents.EnterEKey(created);
  return created;
}

}  // namespace

uint32_t ParseDownloadManifest(TCascStorage& storage, std::span<const uint8_t> manifest) {
  DownloadHeader header;
  if (!ReadHeader(manifest, header)) return kErrorBadFormat;

  // The tags follow the entries; entries the file does not hold are skipped.
  const size_t entrySize = header.EntrySize();
  const uint64_t entriesSize = uint64_t{header.entryCount} * entrySize;
  ByteReader entries(manifest.subspan(header.size));
  ByteReader tags = entries;
  tags.skip(std::min<uint64_t>(entriesSize, tags.remaining()));

  BitFields bitFields;
  if (header.tagCount != 0) {
    storage.features |= STF_HAS_TAGS;
    if (uint32_t error = ReadTags(storage, tags, header, bitFields)) return error;
  }

  for (size_t i = 0; i < header.entryCount && entries.remaining() >= entrySize; ++i) {
    ContentEntry* entry = ApplyEntry(storage, ReadEntry(entries.sub(entrySize), header));
    if (entry != nullptr) entry->tagBitMask |= TagMaskOf(bitFields, i);
  }
  storage.entriesAfterDownload = storage.contents.size();
  return kErrorSuccess;
}

uint32_t LoadDownloadManifest(TCascStorage& storage) {
  ContentEntry* entry = (storage.downloadEntry.flags & EF_CKEY)
                            ? storage.contents.FindByCKey(storage.downloadEntry.ckey.data())
                            : nullptr;
  if (ProgressCancelled(storage, kStageManifest, "DOWNLOAD", 0, 0)) return kErrorCancelled;
  std::vector<uint8_t> manifest;
  const uint32_t result =
      WithOnlineFallback(storage, [&] { return LoadManifestFile(storage, entry, manifest); });
  if (result == kErrorFileNotFound || (result == kErrorSuccess && manifest.empty())) {
    storage.entriesAfterDownload = storage.contents.size();
    return kErrorSuccess;
  }
  if (result != kErrorSuccess) return result;
  return ParseDownloadManifest(storage, manifest);
}

}  // namespace kestrine

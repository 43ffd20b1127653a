// Local index files.
//
// Every layout stores the same 18-byte entry:
//
//   OFFSET SIZE FIELD
//   0      9    EKey prefix (the first nine bytes of the EKey)
//   9      5    storage offset, big-endian: archive number above the
//               archive-offset bits, offset inside the archive below them
//   14     4    encoded size, little-endian (the archive's 30-byte record
//               header included)
//
// Current layout (version 7), little-endian:
//
//   OFFSET SIZE FIELD
//   0      4    header hash size H (8 + H within the file)
//   4      4    header hash: hashlittle of the H bytes at offset 8, seed 0
//   8      2    version, 7
//   10     1    bucket, the file's own
//   11     1    extra bytes, 0
//   12     1    size-field length, 4
//   13     1    offset-field length, 5
//   14     1    key length, 9
//   15     1    archive-offset bits
//   16     16   rest of the header, not read
//   32     4    entries size E (files of at least 41 bytes)
//   36     4    entries hash: hashlittle2 carried over the entries, or
//               hashlittle chained over them (both schemes occur)
//   40     E    entries
//
// Paged layout, for large version-7 files whose entries area does not verify:
// from offset 4096, blocks of 512 bytes, each holding up to 21 records of
//
//   OFFSET SIZE FIELD
//   0      4    guard: hashlittle of the next 19 bytes, seed 0, bit 31 set
//   4      18   entry
//   22     1    (covered by the guard, not used)
//   23     1    (padding)
//
// A zero or wrong guard ends its block. Every block up to the end of the file
// is read.
//
// Older layout (version 5), little-endian, at least 48 bytes:
//
//   OFFSET SIZE FIELD
//   0      2    version, 5
//   2      1    bucket, the file's own
//   8      8    a value that is never zero
//   24     1    size-field length, 4
//   25     1    offset-field length, 5
//   26     1    key length, 9
//   27     1    archive-offset bits
//   28     4    entry count of the first list, N1
//   32     4    entry count of the second list, N2
//   36     4    hashlittle of the first list (N1 * 18 bytes at 48), seed 0
//   40     4    hashlittle of the second list (N2 * 18 bytes after it), seed 0
//   44     4    hashlittle of bytes 0..47 with this field zeroed, seed 0
//   48     ...  entries; every whole entry up to the end of the file counts
#include "storage/index_files.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>

#include "common/byte_reader.h"
#include "common/hex_key.h"
#include "common/lookup3.h"
#include "common/path_builder.h"
#include "common/platform.h"
#include "encoded/stream.h"
#include "storage/storage.h"

namespace kestrine {
namespace {

constexpr size_t kMaxIndexFileSize = 32 * 1024 * 1024;
constexpr size_t kMinimumFileSize = 9;

constexpr size_t kV7HeaderSize = 40;  // up to the entries
constexpr size_t kV7EntriesSizeOffset = 32;
constexpr size_t kSmallestUnverifiable = 32;  // below: nothing to fail on
constexpr size_t kLargestUnverifiable = 30751;
constexpr size_t kSmallestPaged = 4097;

constexpr size_t kPagedStart = 4096;
constexpr size_t kPagedBlockSize = 512;
constexpr size_t kPagedRecordSize = 24;
constexpr size_t kPagedGuardedBytes = kIndexEntrySize + 1;
constexpr uint32_t kPagedGuardBit = 0x80000000;

constexpr size_t kV5HeaderSize = 48;
constexpr size_t kV5HeaderHashOffset = 44;

// Storage offsets are 40-bit numbers: more offset bits than that cannot be.
constexpr uint8_t kMaxArchiveOffsetBits = 40;

struct FieldLengths {
  uint8_t size = 0;
  uint8_t offset = 0;
  uint8_t key = 0;
  bool Standard() const { return size == 4 && offset == 5 && key == kIndexKeySize; }
};

uint32_t LastErrorOr(uint32_t fallback) {
  const uint32_t error = GetCascError();
  return error != kErrorSuccess ? error : fallback;
}

void TakeLocationLayout(TCascStorage& storage, uint8_t offsetBits, uint32_t locationPosition) {
  if (storage.archiveOffsetBits == 0 && offsetBits != 0 && offsetBits <= kMaxArchiveOffsetBits) {
    storage.archiveOffsetBits = offsetBits;
  }
  if (storage.locationPosition == 0) storage.locationPosition = locationPosition;
}

// The version-7 header, checked; the archive-offset bits when it passes.
bool CheckV7Header(std::span<const uint8_t> file, size_t bucket, uint8_t* offsetBits) {
  ByteReader r(file);
  const uint32_t hashedSize = r.u32le();
  const uint32_t headerHash = r.u32le();
  if (!r.ok() || hashedSize > r.remaining()) return false;
  if (hashlittle(file.subspan(8, hashedSize).data(), hashedSize, 0) != headerHash) return false;
  const uint16_t version = r.u16le();
  const uint8_t fileBucket = r.u8();
  const uint8_t extraBytes = r.u8();
  FieldLengths lengths{r.u8(), r.u8(), r.u8()};
  *offsetBits = r.u8();
  return r.ok() && version == 7 && fileBucket == bucket && extraBytes == 0 && lengths.Standard();
}

// The version-7 entries area when it is there and its hash matches either
// scheme; empty otherwise.
std::span<const uint8_t> VerifiedV7Entries(std::span<const uint8_t> file) {
  if (file.size() <= kV7HeaderSize) return {};
  ByteReader r(file);
  r.seek(kV7EntriesSizeOffset);
  const uint32_t entriesSize = r.u32le();
  const uint32_t entriesHash = r.u32le();
  if (!r.ok() || entriesSize == 0 || entriesSize > r.remaining()) return {};

  const std::span<const uint8_t> area = r.bytes(entriesSize);
  uint32_t primary = 0;
  uint32_t secondary = 0;
  ByteReader entries(area);
  while (entries.remaining() >= kIndexEntrySize) {
    hashlittle2(entries.bytes(kIndexEntrySize).data(), kIndexEntrySize, &primary, &secondary);
  }
  if (primary == entriesHash) return area;

  uint32_t chained = 0;
  entries = ByteReader(area);
  while (entries.remaining() >= kIndexEntrySize) {
    chained = hashlittle(entries.bytes(kIndexEntrySize).data(), kIndexEntrySize, chained);
  }
  return chained == entriesHash ? area : std::span<const uint8_t>{};
}

struct V5Header {
  uint8_t offsetBits = 0;
  uint8_t keyLength = 0;
};

// The version-5 header, checked, lists and header hash included.
bool CheckV5Header(std::span<const uint8_t> file, size_t bucket, V5Header* header) {
  if (file.size() < kV5HeaderSize) return false;
  ByteReader r(file);
  const uint16_t version = r.u16le();
  const uint8_t fileBucket = r.u8();
  r.seek(8);
  const uint64_t nonZero = r.u64le();
  r.seek(24);
  FieldLengths lengths{r.u8(), r.u8(), r.u8()};
  header->offsetBits = r.u8();
  header->keyLength = lengths.key;
  const uint64_t firstBytes = uint64_t{r.u32le()} * kIndexEntrySize;
  const uint64_t secondBytes = uint64_t{r.u32le()} * kIndexEntrySize;
  const uint32_t firstHash = r.u32le();
  const uint32_t secondHash = r.u32le();
  const uint32_t headerHash = r.u32le();
  if (!r.ok() || version != 5 || fileBucket != bucket || nonZero == 0 || !lengths.Standard()) {
    return false;
  }
  if (firstBytes > r.remaining() || secondBytes > r.remaining() - firstBytes) return false;
  const auto first = r.bytes(firstBytes);
  const auto second = r.bytes(secondBytes);
  if (hashlittle(first.data(), first.size(), 0) != firstHash ||
      hashlittle(second.data(), second.size(), 0) != secondHash) {
    return false;
  }
  std::array<uint8_t, kV5HeaderSize> headerCopy;
  std::copy_n(file.begin(), kV5HeaderSize, headerCopy.begin());
  std::fill_n(headerCopy.begin() + kV5HeaderHashOffset, 4, uint8_t{0});
  return hashlittle(headerCopy.data(), headerCopy.size(), 0) == headerHash;
}

bool NameCharEquals(char a, char b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(a) == lower(b);
}

bool NameLessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto upper = [](char c) {
      return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    };
    return upper(x) < upper(y);
  });
}

// Reads one index file whole, as the open reads its tables: 1 byte to 32 MiB.
uint32_t ReadIndexFile(const std::string& path, std::vector<uint8_t>& data) {
  StreamPtr stream(OpenLocalStream(path, SF_READONLY));
  if (!stream) return LastErrorOr(kErrorFileNotFound);
  uint64_t size = 0;
  if (!GetStreamSize(stream.get(), &size)) return LastErrorOr(kErrorFileNotFound);
  if (size == 0 || size > kMaxIndexFileSize) return kErrorBadFormat;
  try {
    data.resize(size);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  if (!ReadStream(stream.get(), 0, data.data(), data.size())) {
    data.clear();
    return LastErrorOr(kErrorHandleEof);
  }
  return kErrorSuccess;
}

// Feeds the archive folder's file names to the scan in the case-insensitive
// order in which Windows lists them, so that the outcome does not depend on
// the order the OS lists a folder in. Every entry but a folder counts by its
// name: a FIFO or device named like an index file then cannot be opened (2)
// and, like a missing file, ends the buckets used.
uint32_t ScanArchiveFolder(TCascStorage& storage) {
  std::vector<std::string> names;
  const uint32_t error =
      platform::ListDirectory(storage.archivePath, [&](std::string_view name, bool isDirectory) {
        if (!isDirectory) names.emplace_back(name);
        return true;
      });
  if (error != kErrorSuccess) return error;
  std::sort(names.begin(), names.end(), NameLessIgnoringCase);
  for (const std::string& name : names) {
    if (!EnumerateIndexFile(name, storage)) break;
  }
  return kErrorSuccess;
}

}  // namespace

bool IndexMap::Create(uint64_t totalFileBytes) {
  return map_.Create(static_cast<size_t>(totalFileBytes / kIndexEntrySize));
}

bool IndexMap::Insert(const uint8_t* entry) {
  Entries::Bucket bucket;
  std::copy_n(entry, kIndexEntrySize, bucket.entry.begin());
  bucket.used = 1;
  return map_.Insert(entry, bucket);
}

const uint8_t* IndexMap::Find(const uint8_t* ekey) const {
  const Entries::Bucket* found = map_.Find(ekey);
  return found != nullptr ? found->entry.data() : nullptr;
}

bool LocalIndex::MatchName(std::string_view name, IndexNameFormat format, uint32_t* bucket,
                           uint32_t* version) const {
  // '#' stands for one hexadecimal digit.
  const std::string_view pattern =
      format == IndexNameFormat::kHexIdx ? "##########.idx" : "data.i##";
  if (name.size() != pattern.size()) return false;
  uint32_t digits[10] = {};
  size_t digitCount = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '#') {
      if (!NameCharEquals(name[i], pattern[i])) return false;
      continue;
    }
    const int value = HexDigitValue(name[i]);
    if (value < 0) return false;
    digits[digitCount++] = static_cast<uint32_t>(value);
  }
  const size_t bucketDigits = format == IndexNameFormat::kHexIdx ? 2 : 1;
  *bucket = 0;
  *version = 0;
  for (size_t i = 0; i < digitCount; ++i) {
    uint32_t& target = i < bucketDigits ? *bucket : *version;
    target = target << 4 | digits[i];
  }
  return true;
}

bool LocalIndex::EnumerateIndexFile(std::string_view name) {
  uint32_t bucket = 0;
  uint32_t version = 0;
  if (nameFormat_ != IndexNameFormat::kNone) {
    if (!MatchName(name, nameFormat_, &bucket, &version)) return true;
  } else if (MatchName(name, IndexNameFormat::kHexIdx, &bucket, &version)) {
    nameFormat_ = IndexNameFormat::kHexIdx;
  } else if (MatchName(name, IndexNameFormat::kDataI, &bucket, &version)) {
    nameFormat_ = IndexNameFormat::kDataI;
  } else {
    return true;
  }
  if (bucket >= kIndexBucketCount) return false;
  ++namesRecognised_;
  slots_[bucket].version = std::max(slots_[bucket].version, version);
  return true;
}

std::string LocalIndex::IndexFileName(size_t bucket) const {
  char name[64];
  const unsigned version = slots_[bucket].version;
  if (nameFormat_ == IndexNameFormat::kDataI) {
    std::snprintf(name, sizeof(name), "data.i%x%x", static_cast<unsigned>(bucket), version);
  } else {
    std::snprintf(name, sizeof(name), "%02x%08x.idx", static_cast<unsigned>(bucket), version);
  }
  return name;
}

uint32_t LocalIndex::CreateMap(uint64_t totalFileBytes) {
  return map_.Create(totalFileBytes) ? kErrorSuccess : kErrorNotEnoughMemory;
}

uint32_t LocalIndex::ParseIndexFile(TCascStorage& storage, size_t bucket,
                                    std::span<const uint8_t> file) {
  if (file.size() < kMinimumFileSize) return kErrorBadFormat;

  uint8_t offsetBits = 0;
  if (CheckV7Header(file, bucket, &offsetBits)) {
    TakeLocationLayout(storage, offsetBits, kIndexKeySize);
    if (auto entries = VerifiedV7Entries(file); !entries.empty()) {
      ByteReader r(entries);
      while (r.remaining() >= kIndexEntrySize) map_.Insert(r.bytes(kIndexEntrySize).data());
      return kErrorSuccess;
    }
    if (file.size() >= kSmallestUnverifiable && file.size() <= kLargestUnverifiable) {
      return kErrorNotSupported;
    }
    if (file.size() < kSmallestPaged) return kErrorSuccess;
    for (size_t block = kPagedStart; block < file.size(); block += kPagedBlockSize) {
      ByteReader blockReader(file.subspan(block, std::min(kPagedBlockSize, file.size() - block)));
      while (blockReader.remaining() >= kPagedRecordSize) {
        ByteReader record = blockReader.sub(kPagedRecordSize);
        const uint32_t guard = record.u32le();
        const auto guarded = record.bytes(kPagedGuardedBytes);
        if (guard == 0 ||
            guard != (hashlittle(guarded.data(), guarded.size(), 0) | kPagedGuardBit)) {
          break;
        }
        map_.Insert(guarded.data());
      }
    }
    return kErrorSuccess;
  }

  V5Header header;
  if (!CheckV5Header(file, bucket, &header)) return kErrorBadFormat;
  TakeLocationLayout(storage, header.offsetBits, header.keyLength);
  ByteReader r(file);
  r.seek(kV5HeaderSize);
  while (r.remaining() >= kIndexEntrySize) map_.Insert(r.bytes(kIndexEntrySize).data());
  return kErrorSuccess;
}

bool EnumerateIndexFile(std::string_view name, TCascStorage& storage) {
  if (!storage.localIndex) storage.localIndex = std::make_unique<LocalIndex>();
  return storage.localIndex->EnumerateIndexFile(name);
}

uint32_t LoadIndexFiles(TCascStorage& storage) {
  storage.localIndex = std::make_unique<LocalIndex>();
  LocalIndex& index = *storage.localIndex;
  if (uint32_t error = ScanArchiveFolder(storage); error != kErrorSuccess) return error;
  if (index.namesRecognised() == 0) return kErrorFileNotFound;

  // Buckets are used in order up to the first one without a file.
  auto& slots = index.slots();
  size_t loaded = 0;
  uint64_t totalBytes = 0;
  for (; loaded < kIndexBucketCount; ++loaded) {
    IndexFileSlot& slot = slots[loaded];
    slot.path = CombinePath({storage.archivePath, index.IndexFileName(loaded)});
    const uint32_t error = ReadIndexFile(slot.path, slot.data);
    if (error == kErrorFileNotFound) break;
    if (error != kErrorSuccess) return error;
    totalBytes += slot.data.size();
  }

  if (uint32_t error = index.CreateMap(totalBytes); error != kErrorSuccess) return error;
  for (size_t bucket = 0; bucket < loaded; ++bucket) {
    const auto count = static_cast<uint32_t>(loaded);
    if (ProgressCancelled(storage, kStageIndexFiles, nullptr, static_cast<uint32_t>(bucket),
                          count)) {
      return kErrorCancelled;
    }
    const uint32_t error = index.ParseIndexFile(storage, bucket, slots[bucket].data);
    if (error != kErrorSuccess) return error;
  }
  return kErrorSuccess;
}

bool LocateEncodedFile(TCascStorage& storage, ContentEntry& entry) {
  if (storage.IsOnline()) return true;
  if (!storage.localIndex) return false;
  const uint8_t* found = storage.localIndex->map().Find(entry.ekey.data());
  if (found == nullptr) return false;

  // The location sits where the index header put it; it must fit the entry.
  ByteReader r(std::span<const uint8_t>(found, kIndexEntrySize));
  r.seek(storage.locationPosition != 0 ? storage.locationPosition : kIndexKeySize);
  const uint64_t storageOffset = r.u40be();
  const uint32_t encodedSize = r.u32le();
  if (!r.ok()) return false;
  entry.storageOffset = storageOffset;
  entry.encodedSize = encodedSize;
  entry.flags |= EF_LOCAL;
  return true;
}

void PrefetchLocation(const TCascStorage& storage, const uint8_t* ekey) {
  if (storage.localIndex) storage.localIndex->map().PrefetchBucket(ekey);
}

}  // namespace kestrine

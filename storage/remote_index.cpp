// Remote archive index files. Multi-byte numbers are big-endian. The file
// ends with a 20-byte footer:
//
//   OFFSET SIZE FIELD (from the end of the file)
//   -20    1    version, 1
//   -19    2    zero
//   -17    1    block size in KiB
//   -16    1    offset-field length O
//   -15    1    size-field length Z
//   -14    1    key length K
//   -13    1    checksum length, 8
//   -12    4    element count (not used)
//   -8     8    first 8 bytes of the MD5 of the footer with this field zeroed
//
// The data area is a run of blocks from the start of the file, as many as
// (file size - 36) / (block size + 16) whole ones. Each block holds entries of
//
//   OFFSET SIZE FIELD
//   0      K    EKey (or its first K bytes)
//   K      Z    encoded size
//   K+Z    O    offset inside the archive
//
// A zero key or an entry that would cross the block's end ends the block; so
// does, with O = 4, an offset above 0x0FFFFFFF. Of a size or offset field
// wider than four bytes the low four bytes are used.
#include "storage/remote_index.h"

#include <algorithm>
#include <array>
#include <new>

#include "common/byte_reader.h"
#include "common/md5.h"
#include "kestrine.h"
#include "storage/storage.h"

namespace kestrine {
namespace {

constexpr size_t kFooterSize = 20;
constexpr size_t kChecksumSize = 8;
constexpr size_t kBlockCountReserve = 36;  // footer and the block table's own 16 bytes
constexpr size_t kBlockOverhead = 16;
constexpr size_t kFirstCapacity = 65536;
constexpr uint32_t kLargestOffsetOfFourBytes = 0x0FFFFFFF;

struct Footer {
  size_t blockBytes = 0;
  uint8_t offsetLength = 0;
  uint8_t sizeLength = 0;
  uint8_t keyLength = 0;
  size_t EntrySize() const { return size_t{keyLength} + sizeLength + offsetLength; }
};

// Reads the footer and checks it. Field lengths that a record cannot hold are
// refused too: a key above 16 bytes, and an offset field of 8 bytes, which
// would leave the archive number no room in the location.
bool ReadFooter(std::span<const uint8_t> file, Footer* footer) {
  if (file.size() < kFooterSize) return false;
  const auto bytes = file.last(kFooterSize);
  ByteReader r(bytes);
  const uint8_t version = r.u8();
  const uint16_t zero = r.u16be();
  footer->blockBytes = size_t{r.u8()} * 1024;
  footer->offsetLength = r.u8();
  footer->sizeLength = r.u8();
  footer->keyLength = r.u8();
  const uint8_t checksumLength = r.u8();
  r.skip(4);
  const auto checksum = r.bytes(kChecksumSize);
  if (!r.ok() || version != 1 || zero != 0 || checksumLength != kChecksumSize) return false;
  if (footer->keyLength == 0 || footer->keyLength > 16) return false;
  if (footer->offsetLength == 0 || footer->offsetLength >= 8 || footer->sizeLength > 8) {
    return false;
  }

  std::array<uint8_t, kFooterSize> zeroed;
  std::copy(bytes.begin(), bytes.end(), zeroed.begin());
  std::fill(zeroed.end() - kChecksumSize, zeroed.end(), uint8_t{0});
  const Md5Digest digest = ComputeMd5(zeroed);
  return std::equal(checksum.begin(), checksum.end(), digest.begin());
}

// A big-endian field of `length` bytes; its low 32 bits.
uint32_t ReadField(ByteReader& r, size_t length) {
  uint32_t value = 0;
  for (size_t i = 0; i < length; ++i) value = value << 8 | r.u8();
  return value;
}

bool IsZero(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

uint32_t ParseBlock(ByteReader block, const Footer& footer, uint32_t archiveNumber,
                    RemoteArchiveMap& map) {
  while (block.remaining() >= footer.EntrySize()) {
    const auto key = block.bytes(footer.keyLength);
    if (IsZero(key)) break;
    RemoteArchiveRecord record;
    std::copy(key.begin(), key.end(), record.key.begin());
    record.encodedSize = ReadField(block, footer.sizeLength);
    const uint32_t offset = ReadField(block, footer.offsetLength);
    if (footer.offsetLength == 4 && offset > kLargestOffsetOfFourBytes) break;
    record.location = uint64_t{archiveNumber} << (8 * footer.offsetLength) | offset;
    if (uint32_t error = map.Append(record); error != kErrorSuccess) return error;
  }
  return kErrorSuccess;
}

}  // namespace

uint32_t RemoteArchiveMap::Append(const RemoteArchiveRecord& record) {
  try {
    if (records_.size() == records_.capacity()) {
      records_.reserve(records_.empty() ? kFirstCapacity : records_.capacity() * 2);
    }
    records_.push_back(record);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

uint32_t RemoteArchiveMap::BuildHashMap() {
  if (!map_.Create(records_.size(), Records{&records_})) return kErrorNotEnoughMemory;
  for (size_t i = 0; i < records_.size(); ++i) {
    map_.Insert(records_[i].key.data(), static_cast<uint32_t>(i + 1));
  }
  return kErrorSuccess;
}

const RemoteArchiveRecord* RemoteArchiveMap::Find(const uint8_t* key) const {
  const uint32_t* found = map_.Find(key);
  return found != nullptr ? &records_[*found - 1] : nullptr;
}

uint32_t ParseRemoteArchiveIndex(std::span<const uint8_t> file, uint32_t archiveNumber,
                                 RemoteArchiveMap& map, TCascStorage* storage) {
  Footer footer;
  if (!ReadFooter(file, &footer)) return kErrorBadFormat;
  if (storage != nullptr) {
    if (storage->archiveOffsetBits == 0) storage->archiveOffsetBits = 8 * footer.offsetLength;
    if (storage->locationPosition == 0) storage->locationPosition = footer.keyLength;
  }
  if (footer.blockBytes == 0 || file.size() < kBlockCountReserve) return kErrorSuccess;

  const size_t blockCount =
      (file.size() - kBlockCountReserve) / (footer.blockBytes + kBlockOverhead);
  ByteReader r(file);
  for (size_t i = 0; i < blockCount; ++i) {
    if (uint32_t error = ParseBlock(r.sub(footer.blockBytes), footer, archiveNumber, map);
        error != kErrorSuccess) {
      return error;
    }
  }
  return kErrorSuccess;
}

}  // namespace kestrine

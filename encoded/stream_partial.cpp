// Partial streams: a local file that holds some blocks of a larger stream, in
// any order, behind a header and a map of where each block lies.
//
//   OFFSET  SIZE    FIELD
//   0       4       version, 2
//   4       32      build number as decimal text, NUL-padded; starts with 3 digits
//   36      4       flags, written as 0
//   40      8       stream size S
//   48      4       block size, a non-zero power of two
//   52      20 * N  block map, N = ceil(S / block size) records:
//                     +0  4  flags: 3 (both low bits) = present; readable if either is set
//                     +4  8  offset of the block's data in this file
//                     +12 8  zero
//   ...             block data
//
// All numbers little-endian. The file is longer than header and map together.
// With a master stream the file is a cache: missing blocks are fetched from
// the master and appended, and the map is written back on close.
#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "common/byte_reader.h"
#include "encoded/stream_internal.h"

namespace kestrine {

namespace {

constexpr size_t kHeaderSize = 52;
constexpr size_t kRecordSize = 20;
constexpr size_t kBuildTextSize = 32;
constexpr uint32_t kVersion = 2;
constexpr uint32_t kPresent = 3;
constexpr uint32_t kCacheBlockSize = 16384;
constexpr uint32_t kCacheBuildNumber = 10958;

struct BlockRecord {
  uint32_t flags = 0;
  uint64_t offset = 0;
};

struct PartialHeader {
  uint32_t buildNumber = 0;
  uint64_t streamSize = 0;
  uint32_t blockSize = 0;
  std::vector<BlockRecord> records;
};

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// The decimal number at the start of the field: at least three digits, and
// no more than a u32 holds.
bool ParseBuildText(std::span<const uint8_t> text, uint32_t* buildNumber) {
  if (text.size() < 3 || !IsDigit(text[0]) || !IsDigit(text[1]) || !IsDigit(text[2])) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > UINT32_MAX) return false;
  }
  *buildNumber = static_cast<uint32_t>(value);
  return true;
}

bool IsPowerOfTwo(uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// The header and block map of the base file, or nothing when they do not
// describe a partial file of this size.
std::optional<PartialHeader> LoadHeader(BaseProvider& file) {
  const uint64_t fileSize = file.size();
  if (fileSize <= kHeaderSize) return std::nullopt;
  std::array<uint8_t, kHeaderSize> bytes;
  if (file.Read(0, bytes.data(), bytes.size()) != kErrorSuccess) return std::nullopt;
  ByteReader reader(bytes);
  PartialHeader header;
  uint32_t version = reader.u32le();
  std::span<const uint8_t> buildText = reader.bytes(kBuildTextSize);
  reader.skip(4);  // flags
  header.streamSize = reader.u64le();
  header.blockSize = reader.u32le();
  if (!reader.ok() || version != kVersion || !ParseBuildText(buildText, &header.buildNumber) ||
      !IsPowerOfTwo(header.blockSize) || header.blockSize > kMaxBlockSize) {
    return std::nullopt;
  }
  const uint64_t count = BlocksFor(header.streamSize, header.blockSize);
  if (count >= (fileSize - kHeaderSize) / kRecordSize + 1) return std::nullopt;
  if (kHeaderSize + count * kRecordSize >= fileSize) return std::nullopt;

  std::vector<uint8_t> map(count * kRecordSize);
  if (file.Read(kHeaderSize, map.data(), map.size()) != kErrorSuccess) return std::nullopt;
  ByteReader mapReader(map);
  header.records.resize(count);
  for (BlockRecord& record : header.records) {
    record.flags = mapReader.u32le();
    record.offset = mapReader.u64le();
    mapReader.skip(8);
  }
  if (!mapReader.ok()) return std::nullopt;
  return header;
}

void PutLe(uint8_t* out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

class PartialLayer final : public BlockLayer {
 public:
  explicit PartialLayer(std::vector<BlockRecord> records) : records_(std::move(records)) {}

  bool BlockCheck(const TStream& /*stream*/, uint64_t block) const override {
    return (records_[block].flags & kPresent) != 0;
  }

  bool BlockRead(TStream& stream, uint64_t start, uint64_t end, uint8_t* buffer, uint64_t block,
                 bool present) override {
    return present ? ReadPresent(stream, start, end, buffer, block)
                   : FetchMissing(stream, start, end, buffer, block);
  }

  void Close(TStream& stream) override {
    if (!stream.modified) return;
    std::vector<uint8_t> bytes(kHeaderSize + records_.size() * kRecordSize, 0);
    PutLe(&bytes[0], kVersion, 4);
    std::snprintf(reinterpret_cast<char*>(&bytes[4]), kBuildTextSize, "%u", stream.buildNumber);
    PutLe(&bytes[40], stream.streamSize, 8);
    PutLe(&bytes[48], stream.blockSize, 4);
    for (size_t i = 0; i < records_.size(); ++i) {
      PutLe(&bytes[kHeaderSize + i * kRecordSize], records_[i].flags, 4);
      PutLe(&bytes[kHeaderSize + i * kRecordSize + 4], records_[i].offset, 8);
    }
    (void)stream.base->Write(0, bytes.data(), bytes.size());
  }

 private:
  // Each block from where its record says.
  bool ReadPresent(TStream& stream, uint64_t start, uint64_t end, uint8_t* buffer, uint64_t block) {
    for (uint64_t at = start; at < end; at += stream.blockSize, ++block) {
      size_t length = static_cast<size_t>(std::min<uint64_t>(stream.blockSize, end - at));
      if (stream.base->Read(records_[block].offset, buffer + (at - start), length) !=
          kErrorSuccess) {
        return false;
      }
    }
    return true;
  }

  // The run from the master, appended to the file and recorded. A short last
  // block is appended padded to a whole block: the data area stays a multiple
  // of the block size, which is how a reopened cache is recognised as sound.
  bool FetchMissing(TStream& stream, uint64_t start, uint64_t end, uint8_t* buffer,
                    uint64_t block) {
    const size_t length = static_cast<size_t>(end - start);
    if (!stream.master || !ReadStream(stream.master.get(), start, buffer, length)) return false;
    const size_t padded =
        static_cast<size_t>(BlocksFor(length, stream.blockSize)) * stream.blockSize;
    std::fill(buffer + length, buffer + padded, 0);
    const uint64_t appendAt = stream.base->size();
    if (stream.base->Write(appendAt, buffer, padded) != kErrorSuccess) return true;
    for (uint64_t at = 0; at < length; at += stream.blockSize, ++block) {
      records_[block] = {kPresent, appendAt + at};
    }
    stream.modified = true;
    return true;
  }

  std::vector<BlockRecord> records_;
};

void UseHeader(TStream& stream, PartialHeader header, bool modified) {
  stream.streamSize = header.streamSize;
  stream.blockSize = header.blockSize;
  stream.buildNumber = header.buildNumber;
  stream.blockCount = header.records.size();
  stream.complete = !modified && std::all_of(header.records.begin(), header.records.end(),
                                             [](const BlockRecord& record) {
                                               return (record.flags & kPresent) == kPresent;
                                             });
  stream.modified = modified;
  stream.layer = std::make_unique<PartialLayer>(std::move(header.records));
}

// Whether an existing cache file can be kept for a master of `masterSize`.
bool CacheFileFits(uint64_t fileSize, uint64_t masterSize, uint64_t mapEnd) {
  if (fileSize < mapEnd) return false;
  uint64_t dataBytes = fileSize - mapEnd;
  return dataBytes % kCacheBlockSize == 0 || dataBytes == masterSize;
}

uint32_t OpenPartialCache(TStream& stream) {
  uint64_t masterSize;
  if (uint32_t error = MasterStreamSize(stream, &masterSize)) return error;
  const uint64_t count = BlocksFor(masterSize, kCacheBlockSize);
  const uint64_t mapEnd = kHeaderSize + count * kRecordSize;

  uint32_t error = stream.base->Open(stream.fileName, true);
  if (error == kErrorFileNotFound) error = stream.base->Create(stream.fileName);
  if (error != kErrorSuccess) return error;

  if (CacheFileFits(stream.base->size(), masterSize, mapEnd)) {
    // A header that describes another stream belongs to another master.
    std::optional<PartialHeader> header = LoadHeader(*stream.base);
    if (header && header->streamSize == masterSize) {
      UseHeader(stream, std::move(*header), false);
      return kErrorSuccess;
    }
  }
  if (uint32_t resizeError = stream.base->Resize(mapEnd)) return resizeError;
  PartialHeader fresh{kCacheBuildNumber, masterSize, kCacheBlockSize, {}};
  fresh.records.resize(count);
  UseHeader(stream, std::move(fresh), true);
  return kErrorSuccess;
}

}  // namespace

uint32_t OpenPartialStream(TStream& stream) {
  if (stream.master) return OpenPartialCache(stream);
  if (uint32_t error = stream.base->Open(stream.fileName, !stream.readOnly())) return error;
  std::optional<PartialHeader> header = LoadHeader(*stream.base);
  if (!header) return kErrorBadFormat;
  UseHeader(stream, std::move(*header), false);
  return kErrorSuccess;
}

}  // namespace kestrine

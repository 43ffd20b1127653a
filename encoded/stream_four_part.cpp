// Four-part streams ("blk4-"): one stream stored in up to 30 part files
// "<name>.0", "<name>.1", ... each a run of block records:
//
//   OFFSET             SIZE   FIELD
//   k * 16416          16384  data of block (part * 8192 + k)
//   k * 16416 + 16384  32     trailer, skipped
//
// A part holds at most 8192 records (0x8040000 bytes). A part with fewer
// whole records is the last one; a final partial record there holds its
// length less 32 bytes of data.
#include <algorithm>
#include <string>
#include <vector>

#include "encoded/stream_internal.h"

namespace kestrine {

namespace {

constexpr uint32_t kBlockSize = 16384;
constexpr uint64_t kRecordSize = 16416;
constexpr uint64_t kTrailerSize = kRecordSize - kBlockSize;
constexpr uint64_t kRecordsPerPart = 8192;
constexpr uint32_t kMaxParts = 30;

class FourPartLayer final : public BlockLayer {
 public:
  explicit FourPartLayer(std::vector<std::unique_ptr<BaseProvider>> laterParts)
      : laterParts_(std::move(laterParts)) {}

  bool BlockCheck(const TStream& /*stream*/, uint64_t /*block*/) const override { return true; }

  // Piece by piece, each block from its part's record.
  bool BlockRead(TStream& stream, uint64_t start, uint64_t end, uint8_t* buffer, uint64_t block,
                 bool /*present*/) override {
    for (uint64_t at = start; at < end; at += kBlockSize, ++block) {
      uint64_t part = block / kRecordsPerPart;
      if (part > laterParts_.size()) return false;
      BaseProvider& file = part == 0 ? *stream.base : *laterParts_[part - 1];
      size_t length = static_cast<size_t>(std::min<uint64_t>(kBlockSize, end - at));
      uint64_t offset = (block % kRecordsPerPart) * kRecordSize;
      if (file.Read(offset, buffer + (at - start), length) != kErrorSuccess) return false;
    }
    return true;
  }

  void Close(TStream& /*stream*/) override { laterParts_.clear(); }

 private:
  std::vector<std::unique_ptr<BaseProvider>> laterParts_;  // parts 1 and up
};

std::string PartName(std::string_view baseName, uint32_t part) {
  return std::string(baseName) + "." + std::to_string(part);
}

// Adds a part's blocks to the stream; false when the part ends the set.
bool CountPart(TStream& stream, uint64_t partSize) {
  uint64_t records = std::min(partSize / kRecordSize, kRecordsPerPart);
  stream.blockCount += records;
  stream.streamSize += records * kBlockSize;
  if (records == kRecordsPerPart) return true;
  uint64_t rest = partSize - records * kRecordSize;
  if (rest > kTrailerSize) {
    stream.blockCount += 1;
    stream.streamSize += rest - kTrailerSize;
  }
  return false;
}

}  // namespace

uint32_t OpenFourPartStream(TStream& stream) {
  std::string_view baseName = stream.fileName;
  if (baseName.ends_with(".0")) baseName.remove_suffix(2);
  const bool writable = !stream.readOnly();
  if (stream.base->Open(PartName(baseName, 0), writable) != kErrorSuccess) {
    return kErrorFileNotFound;
  }
  std::vector<std::unique_ptr<BaseProvider>> laterParts;
  bool more = CountPart(stream, stream.base->size());
  for (uint32_t part = 1; more && part < kMaxParts; ++part) {
    auto file = MakeBaseProvider(stream.flags);
    if (file->Open(PartName(baseName, part), writable) != kErrorSuccess) break;
    more = CountPart(stream, file->size());
    laterParts.push_back(std::move(file));
  }
  stream.blockSize = kBlockSize;
  stream.complete = true;
  stream.layer = std::make_unique<FourPartLayer>(std::move(laterParts));
  return kErrorSuccess;
}

}  // namespace kestrine

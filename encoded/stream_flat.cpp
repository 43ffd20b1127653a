// Flat streams: the stream's bytes lie in the local file at their own
// offsets. A plain file is a flat stream without a layer. A file that is
// filled block by block (from a master stream, or by a downloader) carries a
// bitmap of its present blocks and a footer behind its data:
//
//   OFFSET        SIZE  FIELD
//   0             S     data; block k at k * block size
//   S             B     bitmap: bit k of byte k / 8 (LSB first) = block k present,
//                       B = (ceil(S / block size) + 7) / 8
//   S + B         4     signature "ptv3"
//   S + B + 4     4     version, 3
//   S + B + 8     4     build number
//   S + B + 12    8     stream size S
//   S + B + 20    4     block size
//
// All numbers little-endian. A file whose size is not exactly S + B + 24 has
// no bitmap and reads as plain bytes.
#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "common/byte_reader.h"
#include "encoded/stream_internal.h"

namespace kestrine {

namespace {

constexpr size_t kFooterSize = 24;
constexpr uint32_t kFooterVersion = 3;
constexpr uint8_t kFooterSignature[4] = {'p', 't', 'v', '3'};
// A stream that caches a master keeps 16 KiB blocks and this build number.
constexpr uint32_t kCacheBlockSize = 16384;
constexpr uint32_t kCacheBuildNumber = 10958;

struct Bitmap {
  uint64_t streamSize = 0;
  uint32_t blockSize = 0;
  uint32_t buildNumber = 0;
  std::vector<uint8_t> bits;
};

uint64_t BitmapBytes(uint64_t streamSize, uint32_t blockSize) {
  return (BlocksFor(streamSize, blockSize) + 7) / 8;
}

bool AllBlocksPresent(const std::vector<uint8_t>& bits, uint64_t blockCount) {
  for (uint64_t block = 0; block < blockCount; ++block) {
    if (((bits[block / 8] >> (block % 8)) & 1) == 0) return false;
  }
  return true;
}

// The footer and bitmap of the base file, or nothing when it has none.
std::optional<Bitmap> LoadBitmap(BaseProvider& file) {
  const uint64_t fileSize = file.size();
  if (fileSize <= kFooterSize) return std::nullopt;
  std::array<uint8_t, kFooterSize> footer;
  if (file.Read(fileSize - kFooterSize, footer.data(), footer.size()) != kErrorSuccess) {
    return std::nullopt;
  }
  ByteReader reader(footer);
  std::span<const uint8_t> signature = reader.bytes(4);
  uint32_t version = reader.u32le();
  Bitmap bitmap;
  bitmap.buildNumber = reader.u32le();
  bitmap.streamSize = reader.u64le();
  bitmap.blockSize = reader.u32le();
  if (!reader.ok() || !std::equal(signature.begin(), signature.end(), kFooterSignature) ||
      version != kFooterVersion || bitmap.blockSize == 0 || bitmap.blockSize > kMaxBlockSize ||
      bitmap.streamSize >= fileSize) {
    return std::nullopt;
  }
  const uint64_t bitmapBytes = BitmapBytes(bitmap.streamSize, bitmap.blockSize);
  if (fileSize - bitmap.streamSize != bitmapBytes + kFooterSize) return std::nullopt;
  bitmap.bits.resize(bitmapBytes);
  if (file.Read(bitmap.streamSize, bitmap.bits.data(), bitmap.bits.size()) != kErrorSuccess) {
    return std::nullopt;
  }
  return bitmap;
}

void PutLe(uint8_t* out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

class FlatLayer final : public BlockLayer {
 public:
  explicit FlatLayer(std::vector<uint8_t> bits) : bits_(std::move(bits)) {}

  bool BlockCheck(const TStream& /*stream*/, uint64_t block) const override {
    return ((bits_[block / 8] >> (block % 8)) & 1) != 0;
  }

  bool BlockRead(TStream& stream, uint64_t start, uint64_t end, uint8_t* buffer, uint64_t block,
                 bool present) override {
    const size_t length = static_cast<size_t>(end - start);
    if (present) return stream.base->Read(start, buffer, length) == kErrorSuccess;
    if (!stream.master || !ReadStream(stream.master.get(), start, buffer, length)) return false;
    // The cache is a convenience: a failed write only means fetching again.
    if (stream.base->Write(start, buffer, length) == kErrorSuccess) {
      uint64_t last = block + BlocksFor(length, stream.blockSize);
      for (; block < last; ++block) bits_[block / 8] |= static_cast<uint8_t>(1u << (block % 8));
      stream.modified = true;
    }
    return true;
  }

  void Close(TStream& stream) override {
    if (!stream.modified) return;
    std::array<uint8_t, kFooterSize> footer;
    std::copy(std::begin(kFooterSignature), std::end(kFooterSignature), footer.begin());
    PutLe(&footer[4], kFooterVersion, 4);
    PutLe(&footer[8], stream.buildNumber, 4);
    PutLe(&footer[12], stream.streamSize, 8);
    PutLe(&footer[20], stream.blockSize, 4);
    if (stream.base->Write(stream.streamSize, bits_.data(), bits_.size()) != kErrorSuccess) return;
    (void)stream.base->Write(stream.streamSize + bits_.size(), footer.data(), footer.size());
  }

 private:
  std::vector<uint8_t> bits_;
};

void UseBitmap(TStream& stream, Bitmap bitmap, bool modified) {
  stream.streamSize = bitmap.streamSize;
  stream.blockSize = bitmap.blockSize;
  stream.buildNumber = bitmap.buildNumber;
  stream.blockCount = BlocksFor(bitmap.streamSize, bitmap.blockSize);
  stream.complete = !modified && AllBlocksPresent(bitmap.bits, stream.blockCount);
  stream.modified = modified;
  stream.layer = std::make_unique<FlatLayer>(std::move(bitmap.bits));
}

// The local file caches the master: its data part has the master's offsets,
// and the bitmap says which blocks have been fetched.
uint32_t OpenFlatCache(TStream& stream) {
  uint64_t masterSize;
  if (uint32_t error = MasterStreamSize(stream, &masterSize)) return error;
  const uint64_t bitmapBytes = BitmapBytes(masterSize, kCacheBlockSize);
  if (masterSize > UINT64_MAX - bitmapBytes - kFooterSize) return kErrorInvalidParameter;
  const uint64_t fileSize = masterSize + bitmapBytes + kFooterSize;

  uint32_t error = stream.base->Open(stream.fileName, true);
  if (error == kErrorFileNotFound) error = stream.base->Create(stream.fileName);
  if (error != kErrorSuccess) return error;

  if (stream.base->size() == fileSize) {
    std::optional<Bitmap> bitmap = LoadBitmap(*stream.base);
    if (bitmap && bitmap->streamSize == masterSize) {
      UseBitmap(stream, std::move(*bitmap), false);
      return kErrorSuccess;
    }
  } else if (uint32_t resizeError = stream.base->Resize(fileSize)) {
    return resizeError;
  }
  Bitmap fresh{masterSize, kCacheBlockSize, kCacheBuildNumber, {}};
  fresh.bits.assign(bitmapBytes, 0);
  UseBitmap(stream, std::move(fresh), true);
  return kErrorSuccess;
}

}  // namespace

uint32_t OpenFlatStream(TStream& stream) {
  if (stream.master) return OpenFlatCache(stream);
  if (uint32_t error = stream.base->Open(stream.fileName, !stream.readOnly())) return error;
  if ((stream.flags & SF_BITMAP) != 0) {
    if (std::optional<Bitmap> bitmap = LoadBitmap(*stream.base)) {
      UseBitmap(stream, std::move(*bitmap), false);
    }
  }
  return kErrorSuccess;
}

}  // namespace kestrine

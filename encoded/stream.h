// TStream: the byte source under every read of the storage layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrine {

// Open flags. The provider and block-layer bits come from the name's prefixes.
inline constexpr uint32_t SF_PROVIDER_MASK = 0x03;  // 0 file, 1 map, 2 http, 3 ribbit
inline constexpr uint32_t SF_LAYER_MASK = 0xF0;     // 0x00 flat, 0x10 part, 0x20 mpqe, 0x30 blk4
inline constexpr uint32_t SF_READONLY = 0x100;
inline constexpr uint32_t SF_SHAREWRITE = 0x200;
inline constexpr uint32_t SF_BITMAP = 0x400;
inline constexpr uint32_t SF_ZEROFILL = 0x800;

struct TStream;

// Opens "[layer-][provider:]name[*master]". Null with the last error set.
TStream* OpenStream(std::string_view name, uint32_t flags);
// Reads at `offset` (or at the stream position when absent); the position
// becomes offset + length.
bool ReadStream(TStream* stream, std::optional<uint64_t> offset, void* buffer, size_t length);
bool WriteStream(TStream* stream, std::optional<uint64_t> offset, const void* buffer,
                 size_t length);
bool ResizeStream(TStream* stream, uint64_t newSize);
bool GetStreamSize(TStream* stream, uint64_t* size);
bool GetStreamPosition(TStream* stream, uint64_t* position);
uint64_t GetStreamFileTime(TStream* stream);
// Accepts null.
void CloseStream(TStream* stream);

struct StreamCloser {
  void operator()(TStream* stream) const { CloseStream(stream); }
};
using StreamPtr = std::unique_ptr<TStream, StreamCloser>;

// A whole file read into memory by ReadWholeFile.
struct WholeFile {
  static constexpr uint64_t kIdListFlag = 0x1;  // text starts with up to ten digits and ';'
  std::vector<uint8_t> bytes;
  uint64_t readPosition = 0;
  uint64_t flags = 0;
};

// Opens `name` read-only and reads it whole: 1 byte at least, size - 1 at
// most 0x2FFFFFFF. Returns 0 or the error number.
[[nodiscard]] uint32_t ReadWholeFile(std::string_view name, WholeFile& file);

}  // namespace kestrine

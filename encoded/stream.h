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

// Opens "[layer-][provider:[//]]name[*master]". Layers: "flat-" (default),
// "part-", "mpqe-", "blk4-"; providers: "file:" (default), "map:", "http:",
// "ribbit:" (read-only; the request is made by the first read or size query,
// whose failure is one of the transfer's numbers, see online/transfer.h).
// Null with the last error set: 2 / 3 not found, 11 bad partial header, 87
// bad name or flags (also a network name without a host), 6002 no key for
// an encrypted archive, 8 out of memory, or the OS error of the local file.
TStream* OpenStream(std::string_view name, uint32_t flags);
// Opens the local file at `path` as written, in the flat layer. Unlike
// OpenStream it reads no prefix and no "*master" from the text, so that an
// installation in a folder named "part-1" or "Star*Craft" opens like any other.
TStream* OpenLocalStream(std::string_view path, uint32_t flags);
// Reads at `offset` (or at the stream position when absent); the position
// becomes offset + length. Fails with 38 past the end (a plain stream opened
// with SF_ZEROFILL returns zeros there instead) and with 1006 when a block
// stream cannot get a block.
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
  static constexpr uint64_t kIdListFlag = 0x1;  // 33+ bytes starting with 1 to 10 digits and ';'
  std::vector<uint8_t> bytes;
  uint64_t readPosition = 0;
  uint64_t flags = 0;
};

// Opens `name` read-only and reads it whole: 1 byte at least, size - 1 at
// most 0x2FFFFFFF, else 11. Returns 0 or the error number (also left as the
// last error); `file` is changed only on success.
[[nodiscard]] uint32_t ReadWholeFile(std::string_view name, WholeFile& file);
// The same for a local path taken as written (see OpenLocalStream).
[[nodiscard]] uint32_t ReadWholeLocalFile(std::string_view path, WholeFile& file);

}  // namespace kestrine

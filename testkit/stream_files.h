// Writers of the stream containers, from parameters: flat files with a block
// bitmap and "ptv3" footer, partial files with header and block map,
// four-part sets, and encrypted archives. Each can be made malformed in the
// ways a reader has to refuse.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine::testkit {

// `size` reproducible bytes that differ from block to block and from seed to
// seed, so that a block read from the wrong place shows.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

void WriteBinaryFile(const std::string& path, std::span<const uint8_t> bytes);
std::vector<uint8_t> ReadBinaryFile(const std::string& path);

// Data, then the bitmap of the present blocks, then the 24-byte footer.
struct FlatBitmapFile {
  std::vector<uint8_t> data;
  uint32_t blockSize = 16384;
  uint32_t buildNumber = 10958;
  std::vector<bool> present;  // per block; empty: every block present
  uint8_t absentFill = 0xCC;  // written in place of the data of absent blocks
  // Footer fields as written; unset ones follow the data.
  std::string signature = "ptv3";
  uint32_t version = 3;
  std::optional<uint64_t> footerStreamSize;
  std::optional<uint32_t> footerBlockSize;
};
std::vector<uint8_t> BuildFlatBitmapFile(const FlatBitmapFile& file);

// The 52-byte header, the block map and the present blocks' data, stored in
// reverse block order so that a block read from its stream offset shows.
struct PartialFile {
  std::vector<uint8_t> data;  // the whole stream
  uint32_t blockSize = 16384;
  uint32_t version = 2;
  std::string buildText = "10958";          // up to 32 characters
  std::vector<bool> present;                // per block; empty: every block present
  uint32_t presentFlags = 3;                // block-map flags of a present block
  std::optional<uint64_t> streamSizeField;  // unset: data.size()
  std::optional<uint32_t> blockSizeField;   // unset: blockSize
};
std::vector<uint8_t> BuildPartialFile(const PartialFile& file);
// The size of the header and block map of a partial file of this shape.
uint64_t PartialMapEnd(uint64_t streamSize, uint32_t blockSize);

// Four-part sets: "<base>.0", "<base>.1", ... of 16416-byte records (16384
// data bytes, 32 trailer bytes). Only the listed blocks are written, with
// FourPartByte content; the others are holes that read as zeros, so a set
// with a full first part (128 MiB) costs little disk.
inline constexpr uint64_t kFourPartBlockSize = 16384;
inline constexpr uint64_t kFourPartRecordSize = 16416;
inline constexpr uint64_t kFourPartRecordsPerPart = 8192;
uint8_t FourPartByte(uint64_t streamOffset);
// Returns the number of parts written.
uint32_t WriteFourPartSet(const std::string& basePath, uint64_t streamSize,
                          const std::vector<uint64_t>& writtenBlocks);
// The bytes [offset, offset + length) of such a set.
std::vector<uint8_t> FourPartContent(uint64_t offset, size_t length,
                                     const std::vector<uint64_t>& writtenBlocks);

// `plain` encrypted with Salsa20/20 under the 32-character key and the
// 8-character nonce, block counter = offset / 64.
std::vector<uint8_t> EncryptArchive(std::span<const uint8_t> plain, std::string_view key32,
                                    std::string_view nonce8);

}  // namespace kestrine::testkit

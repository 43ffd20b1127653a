// Writers of BLTE-encoded files from parameters: frames stored plain ('N'),
// zlib-compressed ('Z') or encrypted ('E', nested to any depth), with or
// without a frame table, and the faults a reader must notice (wrong or zero
// MD5s, damaged zlib streams, bad table fields, truncated frames). Also the
// content entries an encoding manifest would give for stored files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/hex_key.h"

namespace kestrine {
struct TCascStorage;
}

namespace kestrine::testkit {

// One encryption layer around a frame. The IV written is `iv`; the bytes are
// encrypted with it XORed with the frame index, as a reader decrypts them.
struct EncryptionLayer {
  uint64_t keyName = 0;
  Key16 key{};
  std::vector<uint8_t> iv;  // 4 or 8 bytes; empty: 01 02 .. 08
  uint8_t type = 'S';
  uint8_t keyNameSize = 8;  // written as is; 8 name bytes follow only for 8
};

enum class Md5Fault { kNone, kZero, kWrong };

struct FramePlan {
  size_t contentSize = 0;
  uint8_t mode = 'Z';                       // the innermost mode ('N', 'Z', or any byte)
  std::vector<EncryptionLayer> encryption;  // outermost first
  int zlibLevel = 6;
  // Faults.
  Md5Fault md5 = Md5Fault::kNone;
  std::optional<uint32_t> contentSizeField;  // in the frame table
  bool corruptZlib = false;                  // damage inside the deflate data
  size_t truncateZlibBy = 0;                 // bytes cut from the zlib stream
  std::vector<uint8_t> zlibTail;             // bytes behind the zlib stream
  size_t truncateBy = 0;                     // bytes cut from the encoded frame
};

struct BltePlan {
  std::vector<FramePlan> frames;  // content sizes add up to the content
  bool frameTable = true;         // false: header size 0 and exactly one frame
  // Faults.
  uint8_t tableFlags = 0x0F;
  std::optional<uint32_t> headerSizeField;
  std::optional<uint32_t> frameCountField;
};

// Frames of `frameSize` content bytes (the last one takes the rest) covering
// `contentSize` bytes, all in `mode`. No content gives one empty frame.
std::vector<FramePlan> SplitFrames(size_t contentSize, size_t frameSize, uint8_t mode = 'Z');

// One encoded frame: mode byte and payload.
std::vector<uint8_t> EncodeFrame(std::span<const uint8_t> content, const FramePlan& frame,
                                 uint32_t frameIndex);
// The whole BLTE data. Throws std::invalid_argument when the frames do not
// cover the content or a table-less container has several frames.
std::vector<uint8_t> WriteBlte(std::span<const uint8_t> content, const BltePlan& layout);

// A file as stored: its content, its encoded form and both keys.
struct StoredFile {
  Key16 ckey{};  // MD5 of the content
  Key16 ekey{};  // MD5 of the encoded bytes
  std::vector<uint8_t> content;
  std::vector<uint8_t> encoded;
  // The sizes its content entry gets; unset: the real ones.
  std::optional<uint32_t> entryContentSize;
  uint16_t entryFlags = 0;  // EF_* added to the entry
};

StoredFile EncodeFile(std::vector<uint8_t> content, const BltePlan& layout);
// Content stored as it is, without BLTE framing.
StoredFile PlainFile(std::vector<uint8_t> content);

// Compressible bytes, somewhat like game data: runs, small numbers, text.
std::vector<uint8_t> DataLikeBytes(size_t size, uint32_t seed);

// What an encoding manifest gives the storage for each file: a content entry
// with both keys and the content size, located through the local index (call
// while it is loaded, e.g. from the local-index hook). Returns how many were
// located.
size_t InsertContentEntries(TCascStorage& storage, std::span<const StoredFile> files);

// "%02u-%08x.data", the archive names of storages marked by ".build.config".
std::string BuildConfigArchiveName(uint32_t archive);

}  // namespace kestrine::testkit

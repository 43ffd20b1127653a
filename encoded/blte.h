// BLTE containers: how an encoded file splits its content into frames, and
// the loading of one span's frame list from its data archive.
//
// Local archive record (at the archive offset):
//   OFFSET SIZE FIELD
//   0      30   record header, skipped (absent in loose files fetched online)
//   30     ...  BLTE data
//
// BLTE data (numbers big-endian):
//   OFFSET SIZE   FIELD
//   0      4      signature "BLTE"
//   4      4      header size H (0: one frame, no table)
//   8      1      frame-table flags, 0x0F            (only when H != 0)
//   9      3      frame count N                      (only when H != 0)
//   12     24*N   frame table, H = 12 + 24 * N       (only when H != 0)
//   H or 8 ...    the frames' encoded bytes, in table order, without gaps
//
// Frame-table record:
//   OFFSET SIZE FIELD
//   0      4    encoded size
//   4      4    content size
//   8      16   MD5 of the frame's encoded bytes (all zero: not checked)
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/hex_key.h"
#include "encoded/stream.h"
#include "storage/content_entry.h"

namespace kestrine {

struct TCascFile;

inline constexpr uint32_t kArchiveHeaderSize = 30;
inline constexpr uint32_t kBlteFrameRecordSize = 24;
inline constexpr uint32_t kFirstHeaderRead = 4096;

struct TFrame {
  Key16 md5{};  // of the encoded bytes; all zero: not checked
  uint64_t contentStart = 0;
  uint64_t contentEnd = 0;
  uint64_t dataOffset = 0;  // of the encoded bytes in the span's stream
  uint32_t encodedSize = 0;
  uint32_t contentSize = 0;
};

// One encoded file of an open file.
struct TFileSpan {
  uint64_t contentStart = 0;
  uint64_t contentEnd = 0;
  std::vector<TFrame> frames;
  TStream* stream = nullptr;  // shared archive stream, or ownStream
  StreamPtr ownStream;        // a stream of this span only (FF_OWN_STREAMS)
  uint32_t archiveIndex = 0;
  uint64_t archiveOffset = 0;  // up to 40 bits in BUILD_CONFIG storages
  uint32_t headerSize = 0;     // archive offset to the first frame's bytes
  uint32_t frameCount = 0;
};

// Where an encoded file's frame table starts and how many records it has.
struct BlteLayout {
  uint32_t tableOffset = 0;  // bytes before the frame table (or the only frame)
  uint32_t frameCount = 0;   // 0 for one frame without table
};

// Finds the BLTE header in `head` (the first bytes of an encoded file of
// `encodedSize` bytes) at 0 or behind the archive record header. False when
// there is none, or its frame-table fields do not agree.
bool ParseBlteHeader(std::span<const uint8_t> head, uint32_t encodedSize, BlteLayout* layout);

// Builds the span's frames from the table in `head` (which holds the whole
// header), sets its header size and completes an unknown content size.
// Returns 0, or 11 for a table that runs past `head`, frames that claim more
// bytes than the entry's encoded size, or content of 4 GiB or more.
[[nodiscard]] uint32_t BuildFramesFromTable(TFileSpan& span, ContentEntry& entry,
                                            const BlteLayout& layout,
                                            std::span<const uint8_t> head);

// Opens the span's data source (when it has none) and builds its frames,
// completing the entry's unknown sizes. Returns 0 or the error number:
// 2 no data source (online sources are not in this build), 8 memory, 11
// neither BLTE nor plain or a bad frame table, 1392 a failed header read.
[[nodiscard]] uint32_t LoadFileSpan(TCascFile& file, TFileSpan& span, ContentEntry& entry);

}  // namespace kestrine

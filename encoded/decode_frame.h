// Decoding one BLTE frame: its encoded bytes (mode byte and payload) into its
// content.
//
// Encoded frame:
//   OFFSET SIZE FIELD
//   0      1    mode: 'N' plain, 'Z' zlib stream, 'E' encrypted
//   1      ...  payload
//
// 'E' payload (all after the mode byte):
//   OFFSET   SIZE FIELD
//   0        1    key-name size K: 8, or 0 for the key name 0
//   1        K    key name (read little-endian)
//   1+K      1    IV size V: 4 or 8
//   2+K      V    IV (a 4-byte IV is widened with zeros)
//   2+K+V    1    encryption type: 'S' Salsa20, 'A' (not supported)
//   3+K+V    ...  the encrypted bytes; decrypted, a complete encoded frame
//                 again (which may itself be 'E')
#pragma once

#include <cstdint>
#include <span>

#include "encoded/blte.h"
#include "storage/content_entry.h"

namespace kestrine {

class DecryptionKeyTable;

// What a frame's decoding depends on besides its bytes.
struct FrameDecodeContext {
  const DecryptionKeyTable* keys = nullptr;  // null: every key is unknown
  uint16_t entryFlags = 0;                   // EF_PLAIN and EF_BARE_ZLIB are read
  bool verifyFrames = true;                  // check frame MD5s that are not all zero
};

// Decodes `encoded` (exactly the frame's encoded size) into `out` (at least
// the frame's content size; exactly that many bytes are written). `frameIndex`
// is the frame's position in its span, mixed into the IV of encrypted frames.
// Returns 0 or: 8 memory, 50 unsupported key-name size, IV size, encryption
// type or mode, 122 a plain payload longer than the content, 1392 MD5
// mismatch, truncated frame or failed inflate, 6002 unknown key.
[[nodiscard]] uint32_t DecodeFrameBytes(const FrameDecodeContext& context, const TFrame& frame,
                                        std::span<const uint8_t> encoded, uint8_t* out,
                                        uint32_t frameIndex);

struct TCascFile;

// DecodeFrameBytes with the open file's flags and its storage's keys.
[[nodiscard]] uint32_t DecodeFrame(const TCascFile& file, const ContentEntry& entry,
                                   const TFrame& frame, std::span<const uint8_t> encoded,
                                   uint8_t* out, uint32_t frameIndex);

}  // namespace kestrine

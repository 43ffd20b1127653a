// The storage's record per stored (encoded) file.
#pragma once

#include <cstdint>

#include "common/hex_key.h"

namespace kestrine {

// Content entry flags.
inline constexpr uint16_t EF_LOCAL = 0x0001;           // location known from the local index
inline constexpr uint16_t EF_CKEY = 0x0002;            // CKey known
inline constexpr uint16_t EF_EKEY = 0x0004;            // EKey known
inline constexpr uint16_t EF_EKEY_PARTIAL = 0x0008;    // only the first 9 EKey bytes known
inline constexpr uint16_t EF_IN_ENCODING = 0x0010;     // listed by the encoding manifest
inline constexpr uint16_t EF_IN_DOWNLOAD = 0x0020;     // listed by the download manifest
inline constexpr uint16_t EF_MANIFEST = 0x0040;        // a manifest named in the file tree
inline constexpr uint16_t EF_ROOT_DIRECTORY = 0x0100;  // a directory file the root names as folder
inline constexpr uint16_t EF_SPAN_CONTINUATION = 0x0200;  // a later span of a file of several
inline constexpr uint16_t EF_REMOTE_ARCHIVE = 0x0400;     // PATCH entry of an online storage
inline constexpr uint16_t EF_PLAIN = 0x0800;              // stored without BLTE framing
inline constexpr uint16_t EF_BARE_ZLIB = 0x2000;          // one bare zlib stream

inline constexpr uint64_t kUnknownOffset = ~uint64_t{0};
inline constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

struct ContentEntry {
  Key16 ckey{};                             // MD5 of the content; zero when unknown
  Key16 ekey{};                             // key of the encoded form; zero when unknown
  uint64_t storageOffset = kUnknownOffset;  // archive number << bits | offset in archive
  uint64_t tagBitMask = 0;                  // bit t: download tag t lists the file
  uint32_t contentSize = kUnknownSize;
  uint32_t encodedSize = kUnknownSize;
  uint32_t refCount = 0;  // names attached by the file tree
  uint16_t flags = 0;     // EF_*
  uint8_t spanCount = 1;  // consecutive entries forming one file
  uint8_t priority = 0;   // from the download manifest
};

}  // namespace kestrine

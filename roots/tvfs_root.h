// TRootHandler_TVFS: the TVFS root, a byte-packed directory of the storage's
// files. Its layout and the walk that names the files are described in
// roots/tvfs_root.cpp.
#pragma once

#include <cstdint>
#include <span>

#include "roots/file_tree_root.h"

namespace kestrine {

inline constexpr uint32_t kTvfsRootFeatures = 0x1;

class TRootHandler_TVFS final : public TFileTreeRoot {
 public:
  TRootHandler_TVFS() : TFileTreeRoot(0) { SetFeatures(kTvfsRootFeatures); }
};

// The header of a TVFS directory, with its three tables cut from the data.
struct TvfsHeader {
  uint8_t ekeySize = 0;  // 9 or 16
  std::span<const uint8_t> pathTable;
  std::span<const uint8_t> vfsTable;
  std::span<const uint8_t> cft;
  uint32_t cftOffsetWidth = 0;  // bytes of a span's CFT offset: 1 to 4
};

// Bytes of a CFT offset for a CFT of `cftSize` bytes.
uint32_t CftOffsetWidth(uint32_t cftSize);

// Reads the header of the root or of a nested directory: 0, or 11 when the
// data is no TVFS directory or a table runs past its end.
[[nodiscard]] uint32_t ParseTvfsHeader(std::span<const uint8_t> data, TvfsHeader& header);

}  // namespace kestrine

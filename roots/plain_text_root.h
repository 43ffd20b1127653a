// TRootHandler_SC1: the plain-text root of the classic game.
#pragma once

#include <cstdint>
#include <span>

#include "roots/file_tree_root.h"

namespace kestrine {

class TRootHandler_SC1 final : public TFileTreeRoot {
 public:
  TRootHandler_SC1() : TFileTreeRoot(0) { SetFeatures(kRootFeaturesNamed); }
};

// True when the first line of the text (of fewer than 32 fields) has two or
// three fields and a second field of exactly 32 characters.
bool IsPlainTextRoot(std::span<const uint8_t> data);

}  // namespace kestrine

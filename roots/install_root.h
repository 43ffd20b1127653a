// TRootHandler_Install: the names of the INSTALL manifest, the root of last
// resort when no root loader accepts a storage's root file.
#pragma once

#include "roots/file_tree_root.h"

namespace kestrine {

class TRootHandler_Install final : public TFileTreeRoot {
 public:
  TRootHandler_Install() : TFileTreeRoot(0) { SetFeatures(kRootFeaturesNamed); }
};

}  // namespace kestrine

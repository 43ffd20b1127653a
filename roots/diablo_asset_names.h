// The names of the files a Diablo III directory knows only by asset number
// (SNO id), built from the table of contents, the package list and the
// built-in table of asset groups.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "roots/diablo_core_toc.h"
#include "roots/diablo_packages.h"

namespace kestrine {

// One row of the built-in table of asset groups.
struct DiabloAssetGroup {
  const char* folder;     // null: the group has no entry
  const char* extension;  // without the "."
};

// Rows 0 to 66; rows without an entry have a null folder.
inline constexpr uint32_t kDiabloAssetGroupCount = 67;
const DiabloAssetGroup& DiabloAssetGroupAt(uint32_t group);

// The name of the file of (SNO id, sub-index) below its directory:
//   known group     the package name for "folder\base" when the set holds one,
//                   else "folder\base.extension"
//   unknown group   "AssetNN\base.aNN", NN the group number in two or more digits
// where base is the record's name, followed by "\" and the sub-index in four
// or more digits when there is one. Nothing when the table of contents holds
// no record of that id.
std::optional<std::string> DiabloAssetName(const DiabloSnoTable& snoTable,
                                           const DiabloPackageSet& packages, uint32_t snoId,
                                           std::optional<uint32_t> subIndex);

}  // namespace kestrine

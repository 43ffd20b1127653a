// TDiabloRoot: the root of Diablo III storages, a small directory of
// directory files. Each directory names some files and lists most only by
// asset number (SNO id); their names come from the table of contents and
// their extensions from the package list, both ordinary files of the
// storage. The formats are described in roots/diablo_directory.h,
// roots/diablo_core_toc.h and roots/diablo_packages.h.
#pragma once

#include <cstdint>
#include <span>

#include "roots/file_tree_root.h"
#include "roots/load_root.h"

namespace kestrine {

class TDiabloRoot final : public TFileTreeRoot {
 public:
  TDiabloRoot() : TFileTreeRoot(0) { SetFeatures(kRootFeaturesNamed); }
};

// The two files the names of numbered assets come from, by full name.
inline constexpr char kDiabloCoreTocName[] = "Base\\CoreTOC.dat";
inline constexpr char kDiabloPackagesName[] = "Base\\Data_D3\\PC\\Misc\\Packages.dat";

// LoadDiabloRoot with `read` reading the directories, the table of contents
// and the package list. Returns 0 (the handler installed), 2 when the root
// names no "Base\CoreTOC.dat", 11 for a root or directory file that is no
// directory or runs short, or for a table of contents that does, 8 when
// memory runs out (also while reading a directory or the package list), or
// the error of reading the table of contents.
[[nodiscard]] uint32_t LoadDiabloRootWith(TCascStorage& storage, std::span<const uint8_t> data,
                                          const StoredFileReader& read);

}  // namespace kestrine

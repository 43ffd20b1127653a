// The loaders of the root formats. Each takes the decoded root (or INSTALL
// manifest) and the locale mask, and either installs its handler as the
// storage's root and returns 0, or returns an error number and leaves the
// root null: 11 when the data is not its format, 8 when memory runs out.
#pragma once

#include <cstdint>
#include <span>

#include "storage/storage.h"

namespace kestrine {

using RootLoader = uint32_t (*)(TCascStorage& storage, std::span<const uint8_t> data,
                                uint32_t localeMask);

// Plain text: one "name|CKey" line per file (roots/plain_text_root.cpp).
[[nodiscard]] uint32_t LoadPlainTextRoot(TCascStorage& storage, std::span<const uint8_t> data,
                                         uint32_t localeMask);
// The INSTALL manifest as a root of last resort (roots/install_root.cpp).
[[nodiscard]] uint32_t LoadInstallRoot(TCascStorage& storage, std::span<const uint8_t> data,
                                       uint32_t localeMask);

// "TVFS" roots (roots/tvfs_root.cpp). Besides 0, 8 and 11: 1392 for spans
// or CFT entries outside their tables, and 1011 (the handler installed) when
// a name of key form asks the open to load the root again.
[[nodiscard]] uint32_t LoadTvfsRoot(TCascStorage& storage, std::span<const uint8_t> data,
                                    uint32_t localeMask);

// "TSFM" roots, and headerless ones as the last resort for a root without a
// signature (roots/wow_root.cpp). Besides 0 and 8: 11 for data in none of
// the three layouts or a block that runs past the end.
[[nodiscard]] uint32_t LoadWowRoot(TCascStorage& storage, std::span<const uint8_t> data,
                                   uint32_t localeMask);

// Diablo III roots, signed 0x8007D0C4 (roots/diablo_root.cpp). Besides 0,
// 8 and 11: 2 when no directory names "Base\CoreTOC.dat", and the error of
// reading that file.
[[nodiscard]] uint32_t LoadDiabloRoot(TCascStorage& storage, std::span<const uint8_t> data,
                                      uint32_t localeMask);

// Formats this build does not read yet; each answers 11, so that the open
// falls through to the plain-text root, the WoW root and the install
// manifest.
[[nodiscard]] uint32_t LoadMndxRoot(TCascStorage& storage, std::span<const uint8_t> data,
                                    uint32_t localeMask);
// Tried first for any root without a known signature.
[[nodiscard]] uint32_t LoadOwRoot(TCascStorage& storage, std::span<const uint8_t> data,
                                  uint32_t localeMask);

}  // namespace kestrine

// TRootHandler_WoW: the root of World of Warcraft storages. It stores no
// names: files are listed by file id, CKey and (mostly) the 64-bit name hash,
// in blocks that carry locale and content flags. Nodes are entered nameless,
// reachable by id and by name hash; a list file handed to a search gives
// them names later.
#pragma once

#include <cstdint>
#include <span>

#include "roots/file_tree_root.h"

namespace kestrine {

struct WholeFile;

// Content flags of a block.
inline constexpr uint32_t kWowContentNoNameHash = 0x10000000;  // new layout: no name hashes
inline constexpr uint32_t kWowContentSecondPass = 0x80000000;  // read in the second pass
inline constexpr uint32_t kWowContentSkipped = 0x100 | 0x80;   // never entered

// Feature words of the headed layouts and of the headerless one.
inline constexpr uint32_t kWowFeaturesHeaded = 0xF2;
inline constexpr uint32_t kWowFeaturesHeaderless = 0xCA;

// How a block lists its files: old, each CKey followed by its name hash;
// new, all CKeys and then all name hashes.
enum class WowEntryLayout : uint32_t { kOld = 0, kNew = 1 };

class TRootHandler_WoW final : public TFileTreeRoot {
 public:
  TRootHandler_WoW(WowEntryLayout layout, uint32_t unnamedFiles);

  // Applies the search's list file once, then searches the tree.
  ContentEntry* SearchNext(TCascSearch& search, SearchResult& result) override;

  // Enters the files of the blocks in `blocks` that the pass and the locale
  // mask select (see wow_root.cpp). 0, 11 when a block runs past the end,
  // or 8 when memory runs out.
  [[nodiscard]] uint32_t ReadBlocks(TCascStorage& storage, std::span<const uint8_t> blocks,
                                    uint32_t blockVersion, uint32_t pass, uint32_t localeMask);

  WowEntryLayout entryLayout() const { return layout_; }
  uint32_t unnamedFileCount() const { return unnamedFiles_; }
  // Files of the blocks met by the latest ReadBlocks.
  uint32_t filesSeen() const { return filesSeen_; }

 private:
  WowEntryLayout layout_;
  uint32_t unnamedFiles_;
  uint32_t filesSeen_ = 0;
};

// Attaches the names of a list file to the nodes of a WoW root's tree, from
// the file's read position on (which advances). Under the old entry layout
// every line is a name looked up by its hash; this reads the file to its end.
// Then, when the file was recognised as "id;name" lines, each names the node
// of its id when the node has no name yet and no hash or the name's.
void ApplyWowListFile(FileTree& tree, WowEntryLayout layout, WholeFile& listFile);

}  // namespace kestrine

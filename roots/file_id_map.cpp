#include "roots/file_id_map.h"

#include <algorithm>

namespace kestrine {

struct FileIdMap::Leaf {
  std::array<uint32_t, kSlotsPerPage> nodes{};
};
struct FileIdMap::Level3 {
  std::array<std::unique_ptr<Leaf>, kSlotsPerPage> pages;
};
struct FileIdMap::Level2 {
  std::array<std::unique_ptr<Level3>, kSlotsPerPage> pages;
};
struct FileIdMap::Level1 {
  std::array<std::unique_ptr<Level2>, kSlotsPerPage> pages;
};

namespace {

size_t Slot(uint32_t id, int level) {
  return (id >> (8 * (3 - level))) & 0xFF;
}

// The page in `slot`, created when missing.
template <typename Page>
Page& PageAt(std::unique_ptr<Page>& slot, size_t& pageCount) {
  if (!slot) {
    slot = std::make_unique<Page>();
    ++pageCount;
  }
  return *slot;
}

// The first id of the page after the one holding `id` at `level` (0: the
// pages below a first-level slot, 2: a leaf).
uint64_t PastPage(uint64_t id, int level) {
  const uint64_t span = uint64_t{1} << (8 * (3 - level));
  return (id / span + 1) * span;
}

}  // namespace

FileIdMap::FileIdMap() : root_(std::make_unique<Level1>()), pageCount_(1) {}
FileIdMap::~FileIdMap() = default;
FileIdMap::FileIdMap(FileIdMap&&) noexcept = default;
FileIdMap& FileIdMap::operator=(FileIdMap&&) noexcept = default;

void FileIdMap::Set(uint32_t id, uint32_t node) {
  if (id == kNoFileId) return;
  Level2& level2 = PageAt(root_->pages[Slot(id, 0)], pageCount_);
  Level3& level3 = PageAt(level2.pages[Slot(id, 1)], pageCount_);
  Leaf& leaf = PageAt(level3.pages[Slot(id, 2)], pageCount_);
  leaf.nodes[Slot(id, 3)] = node;
  if (id >= idLimit_) idLimit_ = id + 1;
}

uint32_t FileIdMap::Get(uint32_t id) const {
  if (id == kNoFileId || !root_) return 0;
  const Level2* level2 = root_->pages[Slot(id, 0)].get();
  if (level2 == nullptr) return 0;
  const Level3* level3 = level2->pages[Slot(id, 1)].get();
  if (level3 == nullptr) return 0;
  const Leaf* leaf = level3->pages[Slot(id, 2)].get();
  return leaf != nullptr ? leaf->nodes[Slot(id, 3)] : 0;
}

// Each step descends from the first level: a missing page moves the id past
// everything the page would have held, an empty leaf slot past that id.
uint64_t FileIdMap::NextId(uint64_t from, uint64_t* steps) const {
  uint64_t taken = 0;
  uint64_t id = from;
  while (id < idLimit_) {
    const auto at = static_cast<uint32_t>(id);
    ++taken;
    const Level2* level2 = root_->pages[Slot(at, 0)].get();
    if (level2 == nullptr) {
      id = PastPage(id, 0);
      continue;
    }
    const Level3* level3 = level2->pages[Slot(at, 1)].get();
    if (level3 == nullptr) {
      id = PastPage(id, 1);
      continue;
    }
    const Leaf* leaf = level3->pages[Slot(at, 2)].get();
    if (leaf == nullptr) {
      id = PastPage(id, 2);
      continue;
    }
    if (leaf->nodes[Slot(at, 3)] != 0) break;
    ++id;
  }
  if (steps != nullptr) *steps += taken;
  return std::min<uint64_t>(id, idLimit_);
}

}  // namespace kestrine

#include "roots/file_id_map.h"

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

}  // namespace kestrine

// Sparse map from a 32-bit file id to a node of the file tree.
//
// Four levels of 256-slot pages: the first is indexed by bits 24..31 of the
// id, the second by bits 16..23, the third by bits 8..15 and the leaves by
// bits 0..7. Pages are created on demand, so a root that numbers its files
// densely in a few ranges costs a few pages. A leaf slot holds a node index;
// 0 means empty (node 0 is the root folder, which never carries an id).
//
// Ids are enumerated in ascending order by NextId, which steps over a
// missing page in one slot read: walking all ids reads at most 256 slots per
// page that exists, so its cost follows the files, not the highest id.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace kestrine {

inline constexpr uint32_t kNoFileId = 0xFFFFFFFF;

class FileIdMap {
 public:
  static constexpr size_t kSlotsPerPage = 256;

  FileIdMap();
  ~FileIdMap();
  FileIdMap(FileIdMap&&) noexcept;
  FileIdMap& operator=(FileIdMap&&) noexcept;

  // Enters (or replaces) the node of `id`; kNoFileId is never entered.
  // Creates missing pages, which throws std::bad_alloc when memory runs out;
  // the map is unchanged then except for empty pages.
  void Set(uint32_t id, uint32_t node);
  // The node index of `id`, or 0 when there is none.
  uint32_t Get(uint32_t id) const;

  // The smallest id at or above `from` that holds a node; idLimit() when
  // there is none. Adds its steps (one per empty slot or missing page passed,
  // and one for the id found) to `*steps` when given.
  uint64_t NextId(uint64_t from, uint64_t* steps = nullptr) const;

  // Highest id entered plus one; 0 when empty.
  uint32_t idLimit() const { return idLimit_; }
  size_t pageCount() const { return pageCount_; }

 private:
  struct Leaf;
  struct Level3;
  struct Level2;
  struct Level1;

  std::unique_ptr<Level1> root_;
  size_t pageCount_ = 0;
  uint32_t idLimit_ = 0;
};

}  // namespace kestrine

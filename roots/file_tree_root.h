// TFileTreeRoot: the root handler over a file tree, base of every concrete
// root handler. Lookups, enumeration and search are the tree's; a concrete
// handler parses its root format into the tree.
#pragma once

#include <cstdint>

#include "roots/file_tree.h"
#include "roots/root_handler.h"

namespace kestrine {

// Feature bits the loaders of roots that carry full names set. Nothing in
// this library reads them.
inline constexpr uint32_t kRootFeaturesNamed = 0x3;

class TFileTreeRoot : public TRootHandler {
 public:
  // treeFlags: FTREE_* (the optional node fields). Throws std::bad_alloc.
  explicit TFileTreeRoot(uint32_t treeFlags) : tree_(treeFlags) {}

  [[nodiscard]] uint32_t InsertName(const char* name, ContentEntry* entry) override;
  ContentEntry* LookupName(TCascStorage* storage, const char* name) const override;
  ContentEntry* LookupFileId(TCascStorage* storage, uint32_t fileId) const override;
  ContentEntry* NameAtIndex(uint64_t index, char* buffer, size_t size) const override;
  ContentEntry* SearchNext(TCascSearch& search, SearchResult& result) override;
  bool DescribeEntry(const ContentEntry* entry, FileDescription& description) const override;
  size_t AdoptNames(const TRootHandler& other) override;
  uint64_t IndexLimit() const override { return tree_.IndexLimit(); }
  // Files entered by name and files entered by id alone.
  size_t FileCount() const override { return tree_.fileCount() + tree_.idFileCount(); }
  uint64_t NextIndex(uint64_t from) const override { return tree_.NextIndex(from); }

  FileTree& tree() { return tree_; }
  const FileTree& tree() const { return tree_; }
  uint32_t features() const { return features_; }
  void SetFeatures(uint32_t features) { features_ = features; }

 private:
  uint32_t features_ = 0;
  FileTree tree_;
};

}  // namespace kestrine

// The in-memory file tree that every root handler fills: one node per file
// and per folder, a buffer of name fragments, a hash map from the 64-bit hash
// of a normalised full path to its node and, for roots that number their
// files, a map from file id to node. Full paths are never stored; they are
// rebuilt from the fragments along the parent chain.
//
// Node layout (nodes lie back to back in one array, `nodeSize` apart):
//
//   OFFSET SIZE FIELD
//   0      8    name hash: NameHash of the normalised full path; 0 when none
//   8      8    content entry; null for folders
//   16     4    parent node index; 0xFFFFFFFF for the root
//   20     4    offset of the node's own name fragment in the name buffer
//   24     2    fragment length (fragments carry no terminator)
//   26     2    node flags: FTN_FOLDER, FTN_CONTAINER
//   28     4    file id          (only when the tree keeps file ids)
//   ...    4    locale flags     (only when the tree keeps locale flags)
//   ...    4    content flags    (only when the tree keeps content flags)
//
// The node size is 28 bytes plus 4 per optional field, rounded up to 8. An
// absent optional field reads as 0xFFFFFFFF. Node 0 is the root folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "roots/file_id_map.h"
#include "storage/content_entry.h"

namespace kestrine {

// Node flags.
inline constexpr uint16_t FTN_FOLDER = 0x1;
// The separator written after this node in a full path is ":" instead of
// "\": the node is a container whose files are mounted below it.
inline constexpr uint16_t FTN_CONTAINER = 0x2;
// The folder's entry is the directory file that lists its contents: it can
// be looked up and opened by the folder's name, but searches pass it over.
inline constexpr uint16_t FTN_DIRECTORY_FILE = 0x4;

// Construction flags: which optional node fields the tree keeps.
inline constexpr uint32_t FTREE_FILE_IDS = 0x1;
inline constexpr uint32_t FTREE_LOCALE_FLAGS = 0x2;
inline constexpr uint32_t FTREE_CONTENT_FLAGS = 0x4;

inline constexpr uint32_t kNoNode = 0xFFFFFFFF;
inline constexpr uint32_t kNoValue = 0xFFFFFFFF;  // an absent optional field

// The fixed head of a node; the optional fields follow it at byte 28.
struct FileTreeNode {
  uint64_t nameHash;
  ContentEntry* entry;
  uint32_t parent;
  uint32_t nameOffset;
  uint16_t nameLength;
  uint16_t flags;
};
static_assert(offsetof(FileTreeNode, flags) + sizeof(uint16_t) == 28);

// Names compare case-insensitively for ASCII letters and with "/" equal to
// "\"; every other byte, 0x80..0xFF included, is compared as it is.
char NormaliseNameChar(char c);

// Only this many leading bytes of a name identify it.
inline constexpr size_t kMaxHashedName = 260;

// The 64-bit name hash: lookup3 hashlittle2 over the normalised first 260
// bytes, both seeds 0; the primary result in the high half.
uint64_t NameHash(std::string_view name);
// The same over bytes that are normalised already, all of them.
uint64_t NormalisedHash(std::string_view normalised);

class FileTree {
 public:
  static constexpr size_t kInitialNodes = 16384;
  static constexpr size_t kInitialNameBytes = 16384;

  // flags: FTREE_*. Throws std::bad_alloc when the first arrays cannot be had.
  explicit FileTree(uint32_t flags);
  FileTree(const FileTree&) = delete;
  FileTree& operator=(const FileTree&) = delete;

  // Makes room for `nodes` more nodes, so that a loader that knows how many
  // files it will enter grows the node array and rebuilds the hash map once
  // instead of at every doubling. False when memory runs out (the tree is
  // then as it was).
  bool Reserve(size_t nodes) { return MakeRoom(nodes, 0); }

  // Enters `name` for `entry`; with an id when the tree keeps ids and `id` is
  // not kNoFileId. A name already present returns its node and changes
  // nothing, except that a node without an entry (a folder made for an
  // earlier, deeper name) takes this entry. Creates the folders of the name.
  // Null when memory runs out; the tree is then as it was.
  FileTreeNode* InsertFile(ContentEntry* entry, std::string_view name, uint32_t id);

  // The node of `id` if there is one; otherwise a new node without a name
  // holding the three values. The entry's reference count grows for a new
  // node. Null for kNoFileId, a tree without ids, or when memory runs out.
  FileTreeNode* InsertFileId(ContentEntry* entry, uint32_t id, uint32_t localeFlags,
                             uint32_t contentFlags);

  // Gives a node made by InsertFileId its name: its folders and fragment are
  // created, and when it has no hash yet it gets the name's and is entered
  // in the hash map. False when memory runs out.
  bool AttachName(uint32_t node, std::string_view name);

  // Makes a node a folder whose own entry is its directory file
  // (FTN_DIRECTORY_FILE), so that searches pass it over.
  void MarkDirectoryFile(uint32_t node);

  // Gives a node the hash, in place of any it had, and enters it in the hash
  // map (when there is room and the hash is not there yet). A slot that held
  // the node under a former hash keeps it, but no longer matches that hash.
  void SetNameHash(uint32_t node, uint64_t hash);

  // Writes the node's full path, always NUL-terminated; a path that does not
  // fit is cut at a fragment boundary. Returns the length written.
  size_t BuildPath(uint32_t node, char* buffer, size_t size) const;

  // Lookups; kNoNode when absent.
  uint32_t FindName(std::string_view name) const { return FindHash(NameHash(name)); }
  uint32_t FindHash(uint64_t hash) const;
  // Fetches the first bucket of `hash` ahead of a FindHash or an insertion.
  void PrefetchHash(uint64_t hash) const {
    __builtin_prefetch(&buckets_[hash & (buckets_.size() - 1)]);
  }
  // Fetches the entry of `node` ahead of its use (no-op past the last node).
  void PrefetchEntry(uint32_t node) const {
    if (node < count_) __builtin_prefetch(NodeHead(node)->entry);
  }
  uint32_t FindFileId(uint32_t id) const;
  // The node an enumeration visits at `index`: the node of that file id when
  // the tree keeps ids, otherwise node `index` of the array.
  uint32_t NodeAtIndex(uint64_t index) const;
  // Exclusive upper bound of the indices NodeAtIndex answers.
  uint64_t IndexLimit() const;
  // The first index at or above `from` where NodeAtIndex may answer a node;
  // IndexLimit() when none. With ids it is the next id entered, found
  // without visiting the ids of empty pages; adds the id map's steps to
  // `*steps` when given.
  uint64_t NextIndex(uint64_t from, uint64_t* steps = nullptr) const;

  const FileTreeNode& Node(uint32_t index) const { return *NodeHead(index); }
  uint32_t FileId(uint32_t node) const { return Optional(node, fileIdAt_); }
  uint32_t LocaleFlags(uint32_t node) const { return Optional(node, localeAt_); }
  uint32_t ContentFlags(uint32_t node) const { return Optional(node, contentAt_); }
  std::string_view Fragment(uint32_t node) const;

  bool keepsFileIds() const { return fileIdAt_ != 0; }
  size_t nodeSize() const { return nodeSize_; }
  size_t nodeCount() const { return count_; }
  size_t nodeCapacity() const { return capacity_; }
  size_t nameBytesUsed() const { return names_.size(); }
  size_t bucketCount() const { return buckets_.size(); }
  size_t hashItems() const { return hashItems_; }
  size_t folderCount() const { return folderCount_; }
  size_t fileCount() const { return fileCount_; }
  // Nodes entered by InsertFileId, named or not.
  size_t idFileCount() const { return idFileCount_; }
  uint32_t idLimit() const { return ids_ ? ids_->idLimit() : 0; }
  size_t idPageCount() const { return ids_ ? ids_->pageCount() : 0; }

  // Node size for the construction flags: 28 + 4 per optional field, to 8.
  static size_t NodeSizeFor(uint32_t flags);
  // Smallest power of two not below 4 * capacity / 3, at least 256.
  static size_t BucketCountFor(size_t nodeCapacity);

 private:
  FileTreeNode* NodeHead(uint32_t index) const {
    return reinterpret_cast<FileTreeNode*>(nodes_.get() + size_t{index} * nodeSize_);
  }
  uint32_t Optional(uint32_t node, size_t at) const;
  void SetOptional(uint32_t node, size_t at, uint32_t value);

  // Makes sure `nodes` more nodes and `nameBytes` more fragment bytes can be
  // added without allocating. False (tree unchanged) when memory runs out.
  bool MakeRoom(size_t nodes, size_t nameBytes);
  void RebuildHashMap();
  // Appends a node with its first six fields zero and its optional fields
  // absent; room must have been made.
  uint32_t NewNode();
  void EnterHash(uint32_t node);
  void SetFragment(uint32_t node, std::string_view fragment);
  uint32_t NewFolder(uint64_t hash, uint32_t parent, std::string_view fragment, bool container);
  // Writes the fragments of `chain` (the node first, its parents after it)
  // from the root down; see BuildPath.
  size_t WritePath(std::span<const uint32_t> chain, char* buffer, size_t size) const;
  // `prefix` is scratch with room for the whole name.
  void Attach(uint32_t node, std::string_view name, std::string& prefix);
  // Attach's shortcut for a name in the folder of the previous one; false
  // when it does not apply.
  bool AttachInLastFolder(uint32_t node, std::string_view name, std::string& prefix);
  void RememberFolder(std::string_view name, std::string_view normalised, size_t fragmentStart,
                      uint32_t parent);
  // Gives a node its parent and fragment and, when it has none, the hash of
  // its normalised full name.
  void AttachFile(uint32_t node, uint32_t parent, std::string_view fragment,
                  std::string_view normalisedName);
  FileTreeNode* AdoptFolder(uint32_t node, ContentEntry* entry, uint32_t id);
  // Nodes Attach may create for `name` at most.
  static size_t FoldersIn(std::string_view name);

  std::unique_ptr<std::byte[]> nodes_;
  size_t capacity_ = 0;
  size_t count_ = 0;
  size_t nodeSize_ = 0;
  std::vector<char> names_;
  std::unique_ptr<FileIdMap> ids_;
  // A bucket keeps the high half of its node's hash (the low half chose the
  // bucket), so that probing past other names does not read their nodes.
  struct HashBucket {
    uint32_t node = kNoNode;  // kNoNode when empty
    uint32_t tag = 0;
  };
  static uint32_t TagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }

  std::vector<HashBucket> buckets_;
  size_t hashItems_ = 0;
  size_t fileIdAt_ = 0;  // byte positions of the optional fields; 0 = absent
  size_t localeAt_ = 0;
  size_t contentAt_ = 0;
  size_t folderCount_ = 0;
  size_t fileCount_ = 0;
  size_t idFileCount_ = 0;
  // The folder the previous name was attached to, and its normalised path
  // with the trailing separator.
  std::string lastFolderPath_;
  uint32_t lastFolder_ = kNoNode;
};

}  // namespace kestrine

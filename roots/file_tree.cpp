#include "roots/file_tree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

#include "common/lookup3.h"

namespace kestrine {

namespace {

constexpr size_t kNodeHeadSize = 28;
constexpr size_t kMinimumBuckets = 256;
constexpr size_t kMaxFragmentLength = 0xFFFF;
// Parent chains up to this deep are kept on the stack while a path is built.
constexpr size_t kShallowChain = 64;

bool IsPlainSeparator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace

char NormaliseNameChar(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c == '/' ? '\\' : c;
}

uint64_t NormalisedHash(std::string_view normalised) {
  uint32_t primary = 0;
  uint32_t secondary = 0;
  hashlittle2(normalised.data(), normalised.size(), &primary, &secondary);
  return (uint64_t{primary} << 32) | secondary;
}

uint64_t NameHash(std::string_view name) {
  char normalised[kMaxHashedName];
  const size_t length = std::min(name.size(), kMaxHashedName);
  for (size_t i = 0; i < length; ++i) normalised[i] = NormaliseNameChar(name[i]);
  return NormalisedHash({normalised, length});
}

size_t FileTree::NodeSizeFor(uint32_t flags) {
  size_t size = kNodeHeadSize;
  for (uint32_t field : {FTREE_FILE_IDS, FTREE_LOCALE_FLAGS, FTREE_CONTENT_FLAGS}) {
    if (flags & field) size += sizeof(uint32_t);
  }
  return (size + 7) & ~size_t{7};
}

size_t FileTree::BucketCountFor(size_t nodeCapacity) {
  const size_t wanted = nodeCapacity * 4 / 3;
  size_t count = kMinimumBuckets;
  while (count < wanted) count *= 2;
  return count;
}

FileTree::FileTree(uint32_t flags) : nodeSize_(NodeSizeFor(flags)) {
  size_t at = kNodeHeadSize;
  if (flags & FTREE_FILE_IDS) {
    fileIdAt_ = at, at += sizeof(uint32_t);
    ids_ = std::make_unique<FileIdMap>();
  }
  if (flags & FTREE_LOCALE_FLAGS) localeAt_ = at, at += sizeof(uint32_t);
  if (flags & FTREE_CONTENT_FLAGS) contentAt_ = at;

  nodes_ = std::make_unique<std::byte[]>(kInitialNodes * nodeSize_);
  capacity_ = kInitialNodes;
  names_.reserve(kInitialNameBytes);
  buckets_.assign(BucketCountFor(capacity_), HashBucket{});

  FileTreeNode* root = NodeHead(NewNode());
  root->parent = kNoNode;
  root->nameOffset = kNoNode;
  root->flags = FTN_FOLDER;
}

uint32_t FileTree::Optional(uint32_t node, size_t at) const {
  if (at == 0 || node >= count_) return kNoValue;
  uint32_t value;
  std::memcpy(&value, nodes_.get() + size_t{node} * nodeSize_ + at, sizeof value);
  return value;
}

void FileTree::SetOptional(uint32_t node, size_t at, uint32_t value) {
  if (at == 0) return;
  std::memcpy(nodes_.get() + size_t{node} * nodeSize_ + at, &value, sizeof value);
}

std::string_view FileTree::Fragment(uint32_t node) const {
  const FileTreeNode* head = NodeHead(node);
  if (head->nameLength == 0 || size_t{head->nameOffset} + head->nameLength > names_.size()) {
    return {};
  }
  return {names_.data() + head->nameOffset, head->nameLength};
}

// The hash map holds at most three quarters of the node capacity in buckets
// (BucketCountFor), so rebuilding it whenever the node array grows keeps its
// load under two thirds; it never needs to grow on its own.
bool FileTree::MakeRoom(size_t nodes, size_t nameBytes) {
  const size_t neededNames = names_.size() + nameBytes;
  const size_t neededNodes = count_ + nodes;
  if (neededNames > UINT32_MAX || neededNodes >= kNoNode) return false;
  try {
    if (neededNames > names_.capacity()) {
      size_t capacity = std::max(names_.capacity(), kInitialNameBytes);
      while (capacity < neededNames) capacity *= 2;
      names_.reserve(capacity);
    }
    if (neededNodes > capacity_) {
      size_t capacity = capacity_;
      while (capacity < neededNodes) capacity *= 2;
      std::vector<HashBucket> buckets(BucketCountFor(capacity));
      auto grown = std::make_unique_for_overwrite<std::byte[]>(capacity * nodeSize_);
      std::memcpy(grown.get(), nodes_.get(), count_ * nodeSize_);
      nodes_ = std::move(grown);
      capacity_ = capacity;
      buckets_ = std::move(buckets);
      RebuildHashMap();
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Every node with a hash is entered again, in array order. Where two nodes
// share a hash the earlier one may now win, so the remembered folder goes.
void FileTree::RebuildHashMap() {
  lastFolder_ = kNoNode;
  std::fill(buckets_.begin(), buckets_.end(), HashBucket{});
  hashItems_ = 0;
  for (uint32_t node = 0; node < count_; ++node) {
    if (NodeHead(node)->nameHash != 0) EnterHash(node);
  }
}

uint32_t FileTree::NewNode() {
  const uint32_t index = static_cast<uint32_t>(count_++);
  new (nodes_.get() + size_t{index} * nodeSize_) FileTreeNode{};
  for (size_t at : {fileIdAt_, localeAt_, contentAt_}) SetOptional(index, at, kNoValue);
  return index;
}

void FileTree::EnterHash(uint32_t node) {
  if (hashItems_ + 1 >= buckets_.size()) return;
  const uint64_t hash = NodeHead(node)->nameHash;
  const size_t mask = buckets_.size() - 1;
  for (size_t bucket = hash & mask;; bucket = (bucket + 1) & mask) {
    HashBucket& slot = buckets_[bucket];
    if (slot.node == kNoNode) {
      slot = {node, TagOf(hash)};
      ++hashItems_;
      return;
    }
    if (slot.tag == TagOf(hash) && NodeHead(slot.node)->nameHash == hash) return;
  }
}

uint32_t FileTree::FindHash(uint64_t hash) const {
  if (hashItems_ == 0) return kNoNode;
  const size_t mask = buckets_.size() - 1;
  for (size_t bucket = hash & mask;; bucket = (bucket + 1) & mask) {
    const HashBucket slot = buckets_[bucket];
    if (slot.node == kNoNode) return kNoNode;
    if (slot.tag == TagOf(hash) && NodeHead(slot.node)->nameHash == hash) return slot.node;
  }
}

uint32_t FileTree::FindFileId(uint32_t id) const {
  if (!ids_ || id == kNoFileId) return kNoNode;
  const uint32_t node = ids_->Get(id);
  return node != 0 ? node : kNoNode;
}

uint32_t FileTree::NodeAtIndex(uint64_t index) const {
  if (ids_) return index < kNoFileId ? FindFileId(static_cast<uint32_t>(index)) : kNoNode;
  return index < count_ ? static_cast<uint32_t>(index) : kNoNode;
}

uint64_t FileTree::IndexLimit() const {
  return ids_ ? ids_->idLimit() : count_;
}

uint64_t FileTree::NextIndex(uint64_t from, uint64_t* steps) const {
  if (ids_) return ids_->NextId(from, steps);
  return std::min<uint64_t>(from, count_);
}

void FileTree::SetFragment(uint32_t node, std::string_view fragment) {
  fragment = fragment.substr(0, kMaxFragmentLength);
  FileTreeNode* head = NodeHead(node);
  head->nameOffset = static_cast<uint32_t>(names_.size());
  head->nameLength = static_cast<uint16_t>(fragment.size());
  names_.insert(names_.end(), fragment.begin(), fragment.end());
}

uint32_t FileTree::NewFolder(uint64_t hash, uint32_t parent, std::string_view fragment,
                             bool container) {
  const uint32_t folder = NewNode();
  FileTreeNode* head = NodeHead(folder);
  head->nameHash = hash;
  head->parent = parent;
  head->flags = FTN_FOLDER | (container ? FTN_CONTAINER : 0);
  SetFragment(folder, fragment);
  EnterHash(folder);
  ++folderCount_;
  return folder;
}

size_t FileTree::FoldersIn(std::string_view name) {
  return std::count_if(name.begin(), name.end(),
                       [](char c) { return IsPlainSeparator(c) || c == ':'; });
}

// Scans the name from the left, keeping the normalised prefix read so far.
// At each separator the prefix names a folder: found through its hash, or
// created with the bytes since the previous separator as its fragment. A
// plain separator is hashed without itself, ":" with itself, so "x:" is
// both the name of a container file and the folder its contents hang from.
//
// A plain separator right after ":" would name the container a second time
// and be lost from the path; it is read as part of the next fragment instead.
// A node found at a separator that is not a folder yet (a file whose name is
// also a folder's) becomes one, so that the paths below it keep their
// separator.
void FileTree::Attach(uint32_t node, std::string_view name, std::string& prefix) {
  if (AttachInLastFolder(node, name, prefix)) return;
  prefix.clear();
  uint32_t parent = 0;
  size_t fragmentStart = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool container = c == ':';
    const bool afterContainer = i > 0 && name[i - 1] == ':' && fragmentStart == i;
    if (!container && (!IsPlainSeparator(c) || afterContainer)) {
      prefix.push_back(NormaliseNameChar(c));
      continue;
    }
    if (container) prefix.push_back(':');
    const std::string_view fragment = name.substr(fragmentStart, i - fragmentStart);
    const uint64_t hash = NormalisedHash(prefix);
    const uint32_t found = FindHash(hash);
    if (found == node) {
      FileTreeNode* head = NodeHead(node);
      head->flags |= FTN_FOLDER | (container ? FTN_CONTAINER : 0);
      head->parent = parent;
      SetFragment(node, fragment);
      ++folderCount_;
      return;
    }
    if (found != kNoNode) {
      FileTreeNode* head = NodeHead(found);
      if ((head->flags & FTN_FOLDER) == 0) {
        head->flags |= FTN_FOLDER | (container ? FTN_CONTAINER : 0);
        ++folderCount_;
      }
      parent = found;
    } else {
      parent = NewFolder(hash, parent, fragment, container);
    }
    if (!container) prefix.push_back('\\');
    fragmentStart = i + 1;
  }
  RememberFolder(name, prefix, fragmentStart, parent);
  AttachFile(node, parent, name.substr(fragmentStart), prefix);
}

void FileTree::AttachFile(uint32_t node, uint32_t parent, std::string_view fragment,
                          std::string_view normalisedName) {
  FileTreeNode* head = NodeHead(node);
  head->parent = parent;
  SetFragment(node, fragment);
  if (head->nameHash == 0) {
    head->nameHash = NormalisedHash(normalisedName.substr(0, kMaxHashedName));
    EnterHash(node);
  }
}

// Names are mostly entered folder by folder (list files are sorted), so the
// folder of the previous name is kept with its normalised path: a name in
// the same folder takes it as its parent without hashing and looking up each
// of its folders again. Names with containers always take the full walk.
void FileTree::RememberFolder(std::string_view name, std::string_view normalised,
                              size_t fragmentStart, uint32_t parent) {
  lastFolder_ = kNoNode;
  if (fragmentStart == 0 || name.find(':') != std::string_view::npos) return;
  lastFolderPath_.assign(normalised.substr(0, fragmentStart));
  lastFolder_ = parent;
}

bool FileTree::AttachInLastFolder(uint32_t node, std::string_view name, std::string& prefix) {
  const size_t folderEnd = lastFolderPath_.size();
  if (lastFolder_ == kNoNode || lastFolder_ == node || name.size() <= folderEnd ||
      name.find(':') != std::string_view::npos) {
    return false;
  }
  for (size_t i = 0; i < folderEnd; ++i) {
    if (NormaliseNameChar(name[i]) != lastFolderPath_[i]) return false;
  }
  const std::string_view fragment = name.substr(folderEnd);
  if (std::any_of(fragment.begin(), fragment.end(), IsPlainSeparator)) return false;
  prefix.assign(lastFolderPath_);
  for (char c : fragment) prefix.push_back(NormaliseNameChar(c));
  AttachFile(node, lastFolder_, fragment, prefix);
  return true;
}

FileTreeNode* FileTree::InsertFile(ContentEntry* entry, std::string_view name, uint32_t id) {
  const uint64_t hash = NameHash(name);
  if (const uint32_t existing = FindHash(hash); existing != kNoNode) {
    if (NodeHead(existing)->entry == nullptr && entry != nullptr) {
      return AdoptFolder(existing, entry, id);
    }
    return NodeHead(existing);
  }
  if (!keepsFileIds()) id = kNoFileId;
  std::string prefix;
  try {
    prefix.reserve(name.size());
    if (!MakeRoom(1 + FoldersIn(name), name.size())) return nullptr;
    // Index pages come before the node, so that nothing below can fail.
    if (id != kNoFileId) ids_->Set(id, static_cast<uint32_t>(count_));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  const uint32_t node = NewNode();
  FileTreeNode* head = NodeHead(node);
  head->nameHash = hash;
  head->entry = entry;
  SetOptional(node, fileIdAt_, id);
  EnterHash(node);
  Attach(node, name, prefix);
  if (entry != nullptr) ++entry->refCount;
  ++fileCount_;
  return NodeHead(node);
}

// A folder made for deeper names before its own name arrived becomes that
// file as well: it takes the entry and, when the tree keeps ids, the id.
FileTreeNode* FileTree::AdoptFolder(uint32_t node, ContentEntry* entry, uint32_t id) {
  if (keepsFileIds() && id != kNoFileId && FileId(node) == kNoValue) {
    try {
      ids_->Set(id, node);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    SetOptional(node, fileIdAt_, id);
  }
  FileTreeNode* head = NodeHead(node);
  head->entry = entry;
  ++entry->refCount;
  ++fileCount_;
  return head;
}

FileTreeNode* FileTree::InsertFileId(ContentEntry* entry, uint32_t id, uint32_t localeFlags,
                                     uint32_t contentFlags) {
  if (!ids_ || id == kNoFileId) return nullptr;
  if (const uint32_t existing = ids_->Get(id); existing != 0) return NodeHead(existing);
  try {
    if (!MakeRoom(1, 0)) return nullptr;
    ids_->Set(id, static_cast<uint32_t>(count_));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  const uint32_t node = NewNode();
  NodeHead(node)->entry = entry;
  SetOptional(node, fileIdAt_, id);
  SetOptional(node, localeAt_, localeFlags);
  SetOptional(node, contentAt_, contentFlags);
  if (entry != nullptr) ++entry->refCount;
  ++idFileCount_;
  return NodeHead(node);
}

bool FileTree::AttachName(uint32_t node, std::string_view name) {
  if (node == 0 || node >= count_) return false;
  std::string prefix;
  try {
    prefix.reserve(name.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!MakeRoom(FoldersIn(name), name.size())) return false;
  Attach(node, name, prefix);
  return true;
}

void FileTree::MarkDirectoryFile(uint32_t node) {
  if (node == 0 || node >= count_) return;
  FileTreeNode* head = NodeHead(node);
  if ((head->flags & FTN_FOLDER) == 0) ++folderCount_;
  head->flags |= FTN_FOLDER | FTN_DIRECTORY_FILE;
}

void FileTree::SetNameHash(uint32_t node, uint64_t hash) {
  if (node == 0 || node >= count_ || NodeHead(node)->nameHash == hash) return;
  NodeHead(node)->nameHash = hash;
  EnterHash(node);
}

// Paths are built from the root down; the parent chain is walked first and
// bounded by the node count, so even a damaged chain cannot loop. Chains of
// usual depth stay on the stack: a search builds one path per file.
size_t FileTree::BuildPath(uint32_t node, char* buffer, size_t size) const {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = '\0';
  if (node >= count_) return 0;
  std::array<uint32_t, kShallowChain> shallow;
  std::vector<uint32_t> deep;
  size_t depth = 0;
  for (uint32_t at = node; at < count_ && NodeHead(at)->parent != kNoNode;
       at = NodeHead(at)->parent) {
    if (depth == count_) break;
    if (depth == kShallowChain) deep.assign(shallow.begin(), shallow.end());
    if (depth < kShallowChain) {
      shallow[depth] = at;
    } else {
      deep.push_back(at);
    }
    ++depth;
  }
  const uint32_t* chain = depth <= kShallowChain ? shallow.data() : deep.data();
  return WritePath(std::span(chain, depth), buffer, size);
}

size_t FileTree::WritePath(std::span<const uint32_t> chain, char* buffer, size_t size) const {
  size_t length = 0;
  for (size_t i = chain.size(); i-- > 0;) {
    const FileTreeNode* head = NodeHead(chain[i]);
    const std::string_view fragment = Fragment(chain[i]);
    if (length + fragment.size() >= size) break;
    std::copy(fragment.begin(), fragment.end(), buffer + length);
    length += fragment.size();
    // A folder's separator belongs to the paths below it; a folder that is
    // also a file is named without it. A container's ":" is part of its name.
    const bool container = (head->flags & FTN_CONTAINER) != 0;
    const bool folder = (head->flags & FTN_FOLDER) != 0;
    if (!container && !(folder && (i > 0 || head->entry == nullptr))) continue;
    if (length + 1 >= size) break;
    buffer[length++] = container ? ':' : '\\';
  }
  buffer[length] = '\0';
  return length;
}

}  // namespace kestrine

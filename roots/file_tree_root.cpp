#include "roots/file_tree_root.h"

#include "common/errors.h"
#include "roots/search.h"
#include "storage/match_mask.h"

namespace kestrine {

namespace {

// Names offered by AdoptNames are built into a buffer of this size.
constexpr size_t kAdoptNameBuffer = 512;
// How many nodes ahead a search fetches the entries of.
constexpr uint32_t kPrefetchDistance = 16;

}  // namespace

// A tree with ids numbers a name it is given without one just past its
// highest id (one id is skipped, as the roots that number files expect).
uint32_t TFileTreeRoot::InsertName(const char* name, ContentEntry* entry) {
  if (name == nullptr) return kErrorInvalidParameter;
  uint32_t id = kNoFileId;
  if (tree_.keepsFileIds() && tree_.idLimit() < kNoFileId - 1) id = tree_.idLimit() + 1;
  return tree_.InsertFile(entry, name, id) != nullptr ? kErrorSuccess : kErrorCanNotComplete;
}

ContentEntry* TFileTreeRoot::LookupName(TCascStorage* /*storage*/, const char* name) const {
  if (name == nullptr) return nullptr;
  const uint32_t node = tree_.FindName(name);
  return node != kNoNode ? tree_.Node(node).entry : nullptr;
}

ContentEntry* TFileTreeRoot::LookupFileId(TCascStorage* /*storage*/, uint32_t fileId) const {
  const uint32_t node = tree_.FindFileId(fileId);
  return node != kNoNode ? tree_.Node(node).entry : nullptr;
}

ContentEntry* TFileTreeRoot::NameAtIndex(uint64_t index, char* buffer, size_t size) const {
  const uint32_t node = tree_.NodeAtIndex(index);
  if (node == kNoNode) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return nullptr;
  }
  tree_.BuildPath(node, buffer, size);
  return tree_.Node(node).entry;
}

// Nodes without an entry (folders, and containers whose own name was never
// inserted) are passed over: a null result would end the search early. So
// are folders whose entry is their directory file: the files it lists are
// what a search reports.
ContentEntry* TFileTreeRoot::SearchNext(TCascSearch& search, SearchResult& result) {
  const uint64_t limit = IndexLimit();
  while ((search.nextIndex = tree_.NextIndex(search.nextIndex, &search.steps)) < limit) {
    const uint32_t node = tree_.NodeAtIndex(search.nextIndex++);
    if (node == kNoNode || tree_.Node(node).entry == nullptr) continue;
    if (tree_.Node(node).flags & FTN_DIRECTORY_FILE) continue;
    // Roots that number their files mostly enter them in id order, so the
    // nodes a few steps on are likely the next results: their entries,
    // spread over the entry array, are fetched ahead.
    tree_.PrefetchEntry(node + kPrefetchDistance);
    tree_.BuildPath(node, result.fileName, sizeof result.fileName);
    if (!MatchMask(search.mask, result.fileName)) continue;
    result.fileDataId = tree_.FileId(node);
    result.localeFlags = tree_.LocaleFlags(node);
    result.contentFlags = tree_.ContentFlags(node);
    return tree_.Node(node).entry;
  }
  return nullptr;
}

bool TFileTreeRoot::DescribeEntry(const ContentEntry* entry, FileDescription& description) const {
  if (entry == nullptr) return false;
  for (uint32_t node = 0; node < tree_.nodeCount(); ++node) {
    if (tree_.Node(node).entry != entry) continue;
    description.nameHash = tree_.Node(node).nameHash;
    description.fileDataId = tree_.FileId(node);
    description.localeFlags = tree_.LocaleFlags(node);
    description.contentFlags = tree_.ContentFlags(node);
    return true;
  }
  return false;
}

size_t TFileTreeRoot::AdoptNames(const TRootHandler& other) {
  size_t offered = 0;
  char name[kAdoptNameBuffer];
  const uint64_t limit = other.IndexLimit();
  for (uint64_t index = other.NextIndex(0); index < limit; index = other.NextIndex(index + 1)) {
    ContentEntry* entry = other.NameAtIndex(index, name, sizeof name);
    if (entry == nullptr || name[0] == '\0') continue;
    (void)InsertName(name, entry);
    ++offered;
  }
  return offered;
}

}  // namespace kestrine

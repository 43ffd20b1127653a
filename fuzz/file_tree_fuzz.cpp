// File tree: the input is a list of names separated by '\n', inserted in
// order; the first byte picks the tree's optional fields. Afterwards every
// name must be found again with the entry of its first insertion, and a
// full enumeration must report each distinct name once, under a path that
// finds the same entry.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "roots/file_tree.h"
#include "roots/file_tree_root.h"
#include "roots/search.h"

namespace {

using kestrine::ContentEntry;

std::string Normalised(std::string_view name) {
  std::string out(name.substr(0, kestrine::kMaxHashedName));
  for (char& c : out) c = kestrine::NormaliseNameChar(c);
  return out;
}

// Names reach the tree as C strings (every root format ends them with a NUL
// or a line break), so a name here ends at its first NUL as well.
std::vector<std::string_view> SplitNames(std::string_view text) {
  std::vector<std::string_view> names;
  for (size_t start = 0;;) {
    const size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end - start);
    names.push_back(line.substr(0, line.find('\0')));
    if (end == std::string_view::npos) return names;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 16)) return 0;
  const uint32_t flags = data[0] & 0x7;
  const std::vector<std::string_view> names =
      SplitNames({reinterpret_cast<const char*>(data + 1), size - 1});

  kestrine::TFileTreeRoot root(flags);
  kestrine::FileTree& tree = root.tree();
  std::vector<ContentEntry> entries(names.size());
  std::map<std::string, ContentEntry*> firstEntry;
  // Names that do not fit a search result, or share their first 260 bytes
  // with another, cannot round-trip through a path; only lookups are checked.
  bool pathsComparable = true;
  for (size_t i = 0; i < names.size(); ++i) {
    // Ids, when kept, are spread out a little so that enumeration skips gaps.
    const uint32_t id =
        tree.keepsFileIds() ? static_cast<uint32_t>(i * 3 + 1) : kestrine::kNoFileId;
    if (tree.InsertFile(&entries[i], names[i], id) == nullptr) __builtin_trap();
    firstEntry.emplace(Normalised(names[i]), &entries[i]);
    pathsComparable = pathsComparable && names[i].size() < kestrine::kMaxPath;
  }
  for (std::string_view name : names) {
    const uint32_t node = tree.FindName(name);
    if (node == kestrine::kNoNode || tree.Node(node).entry != firstEntry[Normalised(name)]) {
      __builtin_trap();
    }
  }
  if (!pathsComparable) return 0;

  kestrine::TCascSearch search;
  search.mask = "*";
  kestrine::SearchResult result{};
  size_t reported = 0;
  while (ContentEntry* entry = root.SearchNext(search, result)) {
    ++reported;
    const uint32_t node = tree.FindName(result.fileName);
    if (node == kestrine::kNoNode || tree.Node(node).entry != entry) __builtin_trap();
  }
  if (reported != firstEntry.size()) __builtin_trap();
  return 0;
}

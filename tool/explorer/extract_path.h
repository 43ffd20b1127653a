// Where `extract` writes a file, relative to the output folder. Storage names
// use "\" (or "/") between folders and ":" behind a container, whose files
// are mounted below it; both become folders. A name that could reach outside
// the output folder is refused: absolute names ("\x", "/x", "C:\x"), and
// names with an empty, "." or ".." component.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine::explorer {

struct ExtractPath {
  std::vector<std::string> folders;  // below the output folder, outermost first
  std::string file;                  // empty for a container itself: only its folder is made
};

// `generated`: an id, CKey or EKey name the search made up, written as it is.
std::optional<ExtractPath> ExtractPathOf(std::string_view name, bool generated);

}  // namespace kestrine::explorer

#include "extract_path.h"

#include <cctype>

namespace kestrine::explorer {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/' || c == ':';
}

// "\x", "/x", and a drive letter before a separator: "C:\x", "C:/x".
bool IsAbsolute(std::string_view name) {
  if (name[0] == '\\' || name[0] == '/') return true;
  return name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' &&
         (name[2] == '\\' || name[2] == '/');
}

bool IsSafeComponent(std::string_view component) {
  return !component.empty() && component != "." && component != "..";
}

}  // namespace

std::optional<ExtractPath> ExtractPathOf(std::string_view name, bool generated) {
  if (name.empty()) return std::nullopt;
  if (generated) {
    if (!IsSafeComponent(name) || name.find_first_of("\\/:") != std::string_view::npos) {
      return std::nullopt;
    }
    return ExtractPath{{}, std::string(name)};
  }
  if (IsAbsolute(name)) return std::nullopt;
  // A container itself ends in ":"; its files go into its folder.
  const bool container = name.back() == ':';
  if (container) name.remove_suffix(1);
  ExtractPath path;
  size_t start = 0;
  while (true) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::string_view component = name.substr(start, end - start);
    if (!IsSafeComponent(component)) return std::nullopt;
    if (end == name.size()) {
      if (container) {
        path.folders.emplace_back(component);
      } else {
        path.file = component;
      }
      return path;
    }
    path.folders.emplace_back(component);
    start = end + 1;
  }
}

}  // namespace kestrine::explorer

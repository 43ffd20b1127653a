// The "index" name map builder. When the text builds a map, every line that
// makes an item must be found again by its own path, giving a path that is
// the same once separators and case are ignored; a refused text leaves no map.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "roots/tvfs_name_map.h"

namespace {

std::string Flattened(std::string_view path) {
  std::string key;
  for (char c : path) {
    if (c != '/' && c != '\\')
      key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return key;
}

void CheckEveryLineIsFound(const kestrine::TvfsNameMap& map, std::string_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    const size_t bar = line.find('|');
    if (bar != 0 && bar != std::string_view::npos) {
      const std::string_view path = line.substr(0, bar);
      const auto found = map.Find(path);
      if (!found || Flattened(*found) != Flattened(path)) __builtin_trap();
    }
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  kestrine::TvfsNameMap map;
  const uint32_t result = map.Build(std::span<const uint8_t>(data, size));
  if (result != 0 && result != 11) __builtin_trap();
  if (result != 0) {
    if (!map.empty() || map.Find("a")) __builtin_trap();
    return 0;
  }
  if (map.bucketCount() < 256 || (map.bucketCount() & (map.bucketCount() - 1)) != 0)
    __builtin_trap();
  CheckEveryLineIsFound(map, std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

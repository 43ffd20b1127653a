// Wildcard match: the input up to its first NUL is the mask, the rest the name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "storage/match_mask.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string_view mask = input.substr(0, split);
  std::string_view name = split == std::string_view::npos ? "" : input.substr(split + 1);

  bool matched = kestrine::MatchMask(mask, name);
  // A mask without wildcards matches only a name of its own length.
  if (matched && mask.find_first_of("*?") == std::string_view::npos && !mask.empty() &&
      mask.size() != name.size()) {
    __builtin_trap();
  }
  std::string maskText(mask), nameText(name);
  (void)kestrine::MatchMask(maskText.c_str(), nameText.c_str());
  return 0;
}

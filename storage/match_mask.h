// Wildcard match of names, used for configuration keys and by the search.
#pragma once

#include <string_view>

namespace kestrine {

// True when `name` matches `mask`. "?" stands for exactly one character, "*"
// for any run of characters (separators included, the empty run too). Other
// characters compare after normalisation: 'a'..'z' as 'A'..'Z' and '/' as
// '\\'; bytes 0x80..0xFF compare as they are. A null or empty mask matches
// every name; a null name is the empty name.
bool MatchMask(const char* mask, const char* name);
bool MatchMask(std::string_view mask, std::string_view name);

}  // namespace kestrine

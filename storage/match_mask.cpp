#include "storage/match_mask.h"

#include <cstddef>

namespace kestrine {

namespace {

char Normalise(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c == '/' ? '\\' : c;
}

bool CharMatches(char maskChar, char nameChar) {
  return maskChar == '?' || Normalise(maskChar) == Normalise(nameChar);
}

}  // namespace

// Greedy match that, on a mismatch, only ever retries from the most recent
// "*" one name character further on. Trying every split at every "*" (the
// obvious recursion) gives the same answers, but takes exponential time on
// masks such as "*a*a*a*b" against long runs of 'a'; this takes at most
// mask length times name length steps.
bool MatchMask(std::string_view mask, std::string_view name) {
  if (mask.empty()) return true;
  constexpr size_t kNoStar = std::string_view::npos;
  size_t m = 0, n = 0;
  size_t afterStar = kNoStar, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      while (m < mask.size() && mask[m] == '*') ++m;
      if (m == mask.size()) return true;
      afterStar = m;
      starName = n;
    } else if (m < mask.size() && CharMatches(mask[m], name[n])) {
      ++m, ++n;
    } else if (afterStar != kNoStar) {
      m = afterStar;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool MatchMask(const char* mask, const char* name) {
  if (mask == nullptr) return true;
  return MatchMask(std::string_view(mask), std::string_view(name ? name : ""));
}

}  // namespace kestrine

// MIME parser over any document. Every input ends in one of the parser's
// codes; a failure leaves an empty element; a parsed tree is made of leaves
// with data and multipart elements with a boundary, no deeper than the
// limit, and no leaf holds more bytes than the document. The data choice of
// a Ribbit answer then ends in one of its own codes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kestrine.h"
#include "online/mime.h"
#include "online/mime_header.h"

namespace {

bool WellFormed(const kestrine::TMimeElement& element, size_t depth, size_t size) {
  if (depth > kestrine::kMaxMimeDepth) return false;
  if (element.boundary.size() > kestrine::kMaxMimeBoundary) return false;
  if (element.boundary.empty()) {
    return element.data.has_value() && element.data->size() <= size && element.children.empty();
  }
  if (element.data.has_value()) return false;
  for (const auto& child : element.children) {
    if (!WellFormed(child, depth + 1, size)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  kestrine::TMimeElement root;
  const uint32_t result = kestrine::ParseMime(root, std::span(data, size));
  if (result != 0) {
    if (result != 11 && result != 50 && result != 8) __builtin_trap();
    if (root.data.has_value() || !root.children.empty() || !root.boundary.empty()) __builtin_trap();
    return 0;
  }
  if (!WellFormed(root, 0, size)) __builtin_trap();
  std::vector<uint8_t> answer;
  const uint32_t chosen = kestrine::RibbitAnswerData(root, answer);
  if (chosen != 0 && chosen != 38 && chosen != 1003) __builtin_trap();
  return 0;
}

// MIME documents as the Ribbit patch service answers them (RFC 2045/2046):
// a header, then either one body in a transfer encoding or, when the
// Content-Type names a boundary, parts separated by boundary lines:
//
//   MIME-Version: 1.0
//   Content-Type: multipart/alternative; boundary="B"
//
//   --B
//   <part header>
//
//   <part body>
//   --B
//   ...
//   --B--
//   <anything; not read>
//
// Parts are MIME elements themselves and may be multipart again. The service
// puts the requested table in the first part and a signature in the second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine {

// One element of a parsed document: a leaf has data, a multipart element has
// a boundary and children.
struct TMimeElement {
  std::optional<std::vector<uint8_t>> data;  // decoded body of a leaf
  std::string boundary;
  std::vector<TMimeElement> children;
};

// Parts nested deeper than this (the document itself is depth 0) are refused
// with 11: each level costs a few stack frames, and the service never nests
// more than one level.
inline constexpr size_t kMaxMimeDepth = 16;

// Parses `document` into `element`, which is replaced. A whole document
// (`partMarker` empty) must carry a "MIME-Version: 1.0" or "HTTP/1.1 200 OK"
// header line (else 50) and end in CR LF unless it is multipart. A part is
// parsed over the bytes between the CR LF behind its "--boundary" line and
// the next occurrence of `partMarker`, that is with `partMarker` just behind
// `document`. Returns 0, 11 for any malformed structure or encoding, or 8.
// On failure `element` is left empty.
[[nodiscard]] uint32_t ParseMime(TMimeElement& element, std::span<const uint8_t> document,
                                 std::string_view partMarker = {});

// The data a Ribbit answer stands for: the root's own data, else its first
// child's, moved out of the tree into `data`. 1003 when the root has neither
// data nor a child, 38 when the first child has no data (it is multipart).
[[nodiscard]] uint32_t RibbitAnswerData(TMimeElement& root, std::vector<uint8_t>& data);

// ParseMime over a whole answer, then RibbitAnswerData.
[[nodiscard]] uint32_t ParseRibbitAnswer(std::span<const uint8_t> answer,
                                         std::vector<uint8_t>& data);

}  // namespace kestrine

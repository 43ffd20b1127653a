// The header of a MIME document or part: lines ending in CR LF, where a CR LF
// followed by a space or a tab folds the line onto the next one (RFC 5322),
// up to the first empty line. Only three kinds of line matter here:
//
//   MIME-Version: 1.0              marks a whole document as MIME; so does
//   HTTP/1.1 200 OK                the status line of an HTTP response
//   Content-Transfer-Encoding: X   base64 or quoted-printable, else none
//   Content-Type: ...boundary="B"  makes the element multipart, parts
//                                  separated by "--B"
//
// Field names and encoding names are compared without regard to case, the
// two marker lines exactly. A folded line keeps its inner CR LF, so a
// boundary may sit on a continuation line of its Content-Type.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "online/mime_decode.h"

namespace kestrine {

// Boundaries longer than this are refused. RFC 2046 allows 70 characters;
// the patch service's are much shorter.
inline constexpr size_t kMaxMimeBoundary = 127;

struct MimeHeader {
  bool marksMime = false;  // a MIME-Version or HTTP status line was seen
  MimeEncoding encoding = MimeEncoding::kNone;
  std::string boundary;  // empty: a leaf
  // A Content-Type named a boundary without a closing quote, or one longer
  // than kMaxMimeBoundary.
  bool badBoundary = false;
  // Where the body starts: behind the empty line, or the end of the text
  // when the header never ends.
  size_t bodyOffset = 0;
};

// Reads the header at the start of `text`. The last Content-Type and
// Content-Transfer-Encoding lines win.
MimeHeader ReadMimeHeader(std::string_view text);

}  // namespace kestrine

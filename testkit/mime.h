// Writers of MIME documents from plans, as the Ribbit patch service answers:
// single bodies or multipart trees, bodies in base64 or quoted-printable,
// folded header lines, boundaries of any length, CR LF or LF line breaks,
// and the faults a parser must refuse (no end marker, a body that is not
// valid in its encoding, a missing MIME-Version line, ...).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine::testkit {

enum class MimeTransfer { kNone, kBase64, kQuotedPrintable };

// One element: a leaf with a body, or, with a boundary, a multipart element.
struct MimePartPlan {
  // Written first, as given, each followed by the line break.
  std::vector<std::string> headerLines;
  MimeTransfer transfer = MimeTransfer::kNone;
  // The value written in Content-Transfer-Encoding; empty: the transfer's own
  // name in lower case, and no line at all for kNone.
  std::string transferName;
  std::string body;  // the decoded data of a leaf
  // Written instead of the encoded body, to plant faults.
  std::optional<std::string> encodedBody;
  size_t lineLength = 76;  // encoded lines are broken after this many characters

  std::string boundary;  // non-empty: multipart with `parts`
  std::vector<MimePartPlan> parts;
  bool foldContentType = false;  // boundary=" goes on a continuation line
  bool endMarker = true;         // close the parts with "--boundary--"
  std::string epilogue;          // behind the end marker line
};

struct MimeDocumentPlan {
  MimePartPlan root;
  std::string versionLine = "MIME-Version: 1.0";  // empty: none
  std::string lineBreak = "\r\n";                 // of every line the writer makes
  bool finalLineBreak = true;                     // behind a leaf document's body
};

std::string WriteMime(const MimeDocumentPlan& plan);

// The encodings the writer uses, lines broken after `lineLength` characters
// (0: never) with CR LF. Quoted-printable escapes every byte outside the
// printable ASCII range, "=" and the space, so every line break is soft.
std::string EncodeBase64(std::string_view data, size_t lineLength = 76);
std::string EncodeQuotedPrintable(std::string_view data, size_t lineLength = 76);

// A leaf part that holds `body` in the given transfer.
MimePartPlan MimeLeaf(std::string body, MimeTransfer transfer = MimeTransfer::kNone);

// The service's answer to a "versions", "cdns" or other list request: a
// multipart document whose first part holds the table as plain text and
// whose second holds the signature in base64, with a checksum line behind
// the end marker.
MimeDocumentPlan RibbitAnswer(std::string_view listName, std::string table, std::string signature);

}  // namespace kestrine::testkit

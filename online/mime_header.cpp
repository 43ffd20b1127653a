#include "online/mime_header.h"

#include <cctype>

namespace kestrine {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The rest of `line` behind the field name `name`, matched without regard
// to case; false when the line is another field.
bool FieldValue(std::string_view line, std::string_view name, std::string_view& value) {
  if (line.size() < name.size() || !EqualsIgnoreCase(line.substr(0, name.size()), name)) {
    return false;
  }
  value = line.substr(name.size());
  return true;
}

MimeEncoding EncodingNamed(std::string_view name) {
  if (EqualsIgnoreCase(name, "base64")) return MimeEncoding::kBase64;
  if (EqualsIgnoreCase(name, "quoted-printable")) return MimeEncoding::kQuotedPrintable;
  return MimeEncoding::kNone;
}

// A Content-Type without `boundary="` leaves the header as it is.
void ReadBoundary(std::string_view contentType, MimeHeader& header) {
  constexpr std::string_view kParameter = "boundary=\"";
  const size_t at = contentType.find(kParameter);
  if (at == std::string_view::npos) return;
  const std::string_view rest = contentType.substr(at + kParameter.size());
  const size_t close = rest.find('"');
  if (close == std::string_view::npos || close > kMaxMimeBoundary) {
    header.badBoundary = true;
    return;
  }
  header.boundary = rest.substr(0, close);
  header.badBoundary = false;
}

void ReadLine(std::string_view line, MimeHeader& header) {
  std::string_view value;
  if (line == "MIME-Version: 1.0" || line == "HTTP/1.1 200 OK") {
    header.marksMime = true;
  } else if (FieldValue(line, "Content-Transfer-Encoding: ", value)) {
    header.encoding = EncodingNamed(value);
  } else if (FieldValue(line, "Content-Type: ", value)) {
    ReadBoundary(value, header);
  }
}

// The end of the line starting at `start`: the CR LF that is not followed by
// a space or a tab, or npos when the text has none.
size_t LineEnd(std::string_view text, size_t start) {
  size_t at = text.find(kLineEnd, start);
  while (at != std::string_view::npos && at + 2 < text.size() &&
         (text[at + 2] == ' ' || text[at + 2] == '\t')) {
    at = text.find(kLineEnd, at + 2);
  }
  return at;
}

}  // namespace

MimeHeader ReadMimeHeader(std::string_view text) {
  MimeHeader header;
  size_t start = 0;
  for (;;) {
    const size_t end = LineEnd(text, start);
    if (end == std::string_view::npos) {
      header.bodyOffset = text.size();
      return header;
    }
    if (end == start) {
      header.bodyOffset = end + kLineEnd.size();
      return header;
    }
    ReadLine(text.substr(start, end - start), header);
    start = end + kLineEnd.size();
  }
}

}  // namespace kestrine

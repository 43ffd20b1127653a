#include "online/mime.h"

#include <new>
#include <utility>

#include "kestrine.h"
#include "online/mime_decode.h"
#include "online/mime_header.h"

namespace kestrine {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

uint32_t ParseElement(TMimeElement& element, std::string_view text, std::string_view partMarker,
                      size_t depth);

// The body of a leaf, without the line break that ends it: inside a part the
// two bytes in front of the next boundary line (where `text` ends), taken as
// they are; in a whole document the final CR LF, which must be there. An
// empty body is refused.
uint32_t ParseLeaf(TMimeElement& element, const MimeHeader& header, std::string_view text,
                   bool insidePart) {
  const std::string_view body = text.substr(header.bodyOffset);
  if (!insidePart && !body.ends_with(kLineEnd)) return kErrorBadFormat;
  if (body.size() <= kLineEnd.size()) return kErrorBadFormat;
  std::vector<uint8_t> data;
  const uint32_t result =
      DecodeMimeBody(header.encoding, body.substr(0, body.size() - kLineEnd.size()), data);
  if (result != kErrorSuccess) return result;
  element.data = std::move(data);
  return kErrorSuccess;
}

// The parts of a multipart body: it opens with "--boundary", each part
// follows a "--boundary" CR LF line and runs up to the next "--boundary",
// and "--boundary--" CR LF closes the list; whatever follows is not read.
uint32_t ParseParts(TMimeElement& element, std::string_view body, size_t depth) {
  const std::string marker = "--" + element.boundary;
  const std::string endMarker = marker + "--\r\n";
  if (!body.starts_with(marker) || body.find(endMarker) == std::string_view::npos) {
    return kErrorBadFormat;
  }
  size_t at = 0;
  while (!body.substr(at).starts_with(endMarker)) {
    size_t start = at + marker.size();
    if (body.substr(start, kLineEnd.size()) != kLineEnd) return kErrorBadFormat;
    start += kLineEnd.size();
    const size_t next = body.find(marker, start);
    if (next == std::string_view::npos) return kErrorBadFormat;
    TMimeElement child;
    const uint32_t result =
        ParseElement(child, body.substr(start, next - start), marker, depth + 1);
    if (result != kErrorSuccess) return result;
    element.children.push_back(std::move(child));
    at = next;
  }
  return kErrorSuccess;
}

uint32_t ParseElement(TMimeElement& element, std::string_view text, std::string_view partMarker,
                      size_t depth) {
  if (depth > kMaxMimeDepth) return kErrorBadFormat;
  const MimeHeader header = ReadMimeHeader(text);
  const bool insidePart = !partMarker.empty();
  if (!insidePart && !header.marksMime) return kErrorNotSupported;
  if (header.badBoundary) return kErrorBadFormat;
  if (header.boundary.empty()) return ParseLeaf(element, header, text, insidePart);
  element.boundary = header.boundary;
  return ParseParts(element, text.substr(header.bodyOffset), depth);
}

}  // namespace

uint32_t ParseMime(TMimeElement& element, std::span<const uint8_t> document,
                   std::string_view partMarker) {
  element = TMimeElement{};
  uint32_t result;
  try {
    result = ParseElement(element, AsText(document), partMarker, 0);
  } catch (const std::bad_alloc&) {
    result = kErrorNotEnoughMemory;
  }
  if (result != kErrorSuccess) element = TMimeElement{};
  return result;
}

uint32_t RibbitAnswerData(TMimeElement& root, std::vector<uint8_t>& data) {
  if (root.data) {
    data = std::move(*root.data);
    return kErrorSuccess;
  }
  if (root.children.empty()) return kErrorCanNotComplete;
  TMimeElement& first = root.children.front();
  if (!first.data) return kErrorHandleEof;
  data = std::move(*first.data);
  return kErrorSuccess;
}

uint32_t ParseRibbitAnswer(std::span<const uint8_t> answer, std::vector<uint8_t>& data) {
  TMimeElement root;
  const uint32_t result = ParseMime(root, answer);
  if (result != kErrorSuccess) return result;
  return RibbitAnswerData(root, data);
}

}  // namespace kestrine

// What a response tells about itself while it arrives, read from the bytes
// received so far. Two kinds of answer come over a bare connection:
//
//   HTTP/1.1 200 OK\r\n                 an HTTP response: status line,
//   Content-Length: 5\r\n               header lines, an empty line, then
//   \r\n                                the content
//   hello
//
//   MIME-Version: 1.0\r\n               anything else (a Ribbit answer): a
//   ...\r\n                             header block ended by an empty line,
//   \r\n                                then the rest, normally read until
//   <body>\r\n                          the peer closes
//
// The header ends at the first "\r\n\r\n"; the content starts behind it. A
// "Content-Length: " (or "content-length: ") field inside the header gives
// the content's length, and the response is complete once that many bytes
// follow the header. Without one, the content runs to the connection's close
// and must end in CR LF, which is not part of it.
//
// HttpHeaderFacts reads the header block of one HTTP response as libcurl
// hands it over, for the fields the transfer checks itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestrine {

class ResponseProgress {
 public:
  enum class Protocol { kUnknown, kHttp, kOther };

  // Looks at `received`, all bytes of the response so far (a longer span of
  // the same bytes on every call).
  void Update(std::span<const uint8_t> received);

  std::optional<size_t> headerEnd() const { return headerEnd_; }
  std::optional<size_t> contentStart() const;
  std::optional<uint64_t> contentLength() const { return contentLength_; }
  Protocol protocol() const { return protocol_; }
  uint32_t status() const { return status_; }  // HTTP only; 0 without digits
  // The header's length and the content length are known and the content is in.
  bool complete() const;
  // The header promises more than kMaxResponseSize bytes in all, or more
  // than that arrived.
  bool tooLarge() const { return tooLarge_; }

 private:
  void ReadHeader(std::string_view header);

  size_t seen_ = 0;
  std::optional<size_t> headerEnd_;
  std::optional<uint64_t> contentLength_;
  Protocol protocol_ = Protocol::kUnknown;
  uint32_t status_ = 0;
  bool tooLarge_ = false;
};

// The content of a response that ended, `closed` telling whether the peer
// closed the connection (or reset it) rather than the response completing.
// 11 when the header has no end, the content is empty or cut short, a
// content read to the close does not end in CR LF (which is dropped), or the
// response is too large.
[[nodiscard]] uint32_t FinishedContent(const ResponseProgress& progress,
                                       std::span<const uint8_t> received,
                                       std::span<const uint8_t>& content);

// The facts of one HTTP header block (status line and fields, each line
// ending in CR LF or LF). Field names are compared without regard to case.
struct HttpHeaderFacts {
  uint32_t status = 0;                    // 0: no "HTTP/..." status line
  std::optional<uint64_t> contentLength;  // saturates at UINT64_MAX
  bool chunked = false;                   // Transfer-Encoding names "chunked"
  std::optional<uint64_t> rangeStart;     // Content-Range: bytes START-END/TOTAL
};
HttpHeaderFacts ReadHttpHeader(std::string_view header);

// The decimal number at the start of `text`, digits only, saturating at
// UINT64_MAX; none when `text` starts with no digit.
std::optional<uint64_t> LeadingNumber(std::string_view text);

}  // namespace kestrine

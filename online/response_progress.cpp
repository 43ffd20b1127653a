#include "online/response_progress.h"

#include <algorithm>
#include <cstdint>

#include "kestrine.h"
#include "online/transfer.h"

namespace kestrine {

namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHttpStart = "HTTP/1.1 ";
constexpr size_t kMaxStatusDigits = 4;

std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return Lower(a) == Lower(b); });
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
  for (size_t at = 0; at + word.size() <= text.size(); ++at) {
    if (StartsWithIgnoringCase(text.substr(at), word)) return true;
  }
  return false;
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

// The value of a header line "Name: value" when its name is `name`.
std::optional<std::string_view> FieldValue(std::string_view line, std::string_view name) {
  if (!StartsWithIgnoringCase(line, name) || line.size() <= name.size() ||
      line[name.size()] != ':') {
    return std::nullopt;
  }
  return TrimLeft(line.substr(name.size() + 1));
}

// "HTTP/1.1 206 Partial Content", "HTTP/2 200": the three-digit code.
uint32_t StatusOf(std::string_view line) {
  if (!line.starts_with("HTTP/")) return 0;
  size_t space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  std::optional<uint64_t> code = LeadingNumber(line.substr(space + 1));
  return code && *code < 1000 ? static_cast<uint32_t>(*code) : 0;
}

// "bytes 100-199/1000": 100.
std::optional<uint64_t> RangeStartOf(std::string_view value) {
  if (!StartsWithIgnoringCase(value, "bytes ")) return std::nullopt;
  return LeadingNumber(TrimLeft(value.substr(6)));
}

}  // namespace

std::optional<uint64_t> LeadingNumber(std::string_view text) {
  if (text.empty() || !IsDigit(text.front())) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) break;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return value;
}

void ResponseProgress::Update(std::span<const uint8_t> received) {
  const std::string_view text = AsText(received);
  if (text.size() > kMaxResponseSize) tooLarge_ = true;
  if (!headerEnd_) {
    // The end marker may straddle the previous and the new bytes.
    const size_t from = seen_ >= kHeaderEnd.size() ? seen_ - (kHeaderEnd.size() - 1) : 0;
    const size_t end = text.find(kHeaderEnd, from);
    if (end != std::string_view::npos) {
      headerEnd_ = end;
      ReadHeader(text.substr(0, end + kLineEnd.size()));
    }
  }
  seen_ = text.size();
}

void ResponseProgress::ReadHeader(std::string_view header) {
  if (header.starts_with(kHttpStart)) {
    protocol_ = Protocol::kHttp;
    std::string_view digits = header.substr(kHttpStart.size(), kMaxStatusDigits);
    digits = digits.substr(0, std::min(digits.size(), digits.find_first_not_of("0123456789")));
    status_ = static_cast<uint32_t>(LeadingNumber(digits).value_or(0));
  } else {
    protocol_ = Protocol::kOther;
  }
  size_t field = header.find("Content-Length: ");
  if (field == std::string_view::npos) field = header.find("content-length: ");
  if (field == std::string_view::npos) return;
  const std::string_view value = header.substr(field + 16);
  contentLength_ = LeadingNumber(value).value_or(0);
  const uint64_t start = *contentStart();
  if (start > kMaxResponseSize || *contentLength_ > kMaxResponseSize - start) tooLarge_ = true;
}

std::optional<size_t> ResponseProgress::contentStart() const {
  if (!headerEnd_) return std::nullopt;
  return *headerEnd_ + kHeaderEnd.size();
}

bool ResponseProgress::complete() const {
  if (!headerEnd_ || !contentLength_ || tooLarge_) return false;
  return *contentLength_ <= seen_ - *contentStart();
}

uint32_t FinishedContent(const ResponseProgress& progress, std::span<const uint8_t> received,
                         std::span<const uint8_t>& content) {
  std::optional<size_t> start = progress.contentStart();
  if (progress.tooLarge() || !start || *start > received.size()) return kErrorBadFormat;
  std::span<const uint8_t> rest = received.subspan(*start);
  if (std::optional<uint64_t> length = progress.contentLength()) {
    if (*length == 0 || *length > rest.size()) return kErrorBadFormat;
    content = rest.first(static_cast<size_t>(*length));
    return kErrorSuccess;
  }
  if (rest.size() <= kLineEnd.size() || !AsText(rest).ends_with(kLineEnd)) return kErrorBadFormat;
  content = rest.first(rest.size() - kLineEnd.size());
  return kErrorSuccess;
}

HttpHeaderFacts ReadHttpHeader(std::string_view header) {
  HttpHeaderFacts facts;
  while (!header.empty()) {
    size_t lineEnd = header.find('\n');
    std::string_view line = header.substr(0, lineEnd);
    header = lineEnd == std::string_view::npos ? std::string_view() : header.substr(lineEnd + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
      facts = HttpHeaderFacts{};
      facts.status = StatusOf(line);
    } else if (auto length = FieldValue(line, "Content-Length")) {
      facts.contentLength = LeadingNumber(*length).value_or(0);
    } else if (auto coding = FieldValue(line, "Transfer-Encoding")) {
      facts.chunked = ContainsIgnoringCase(*coding, "chunked");
    } else if (auto range = FieldValue(line, "Content-Range")) {
      facts.rangeStart = RangeStartOf(*range);
    }
  }
  return facts;
}

}  // namespace kestrine

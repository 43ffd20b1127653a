// Response progress over any bytes: fed in pieces it reaches the same state
// as fed at once, a complete response yields exactly its content, and a
// finished one ends in 0 with content inside what arrived, or in 11. The
// HTTP header reader takes any header block.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "online/response_progress.h"

namespace {

bool SameState(const kestrine::ResponseProgress& a, const kestrine::ResponseProgress& b) {
  return a.headerEnd() == b.headerEnd() && a.contentLength() == b.contentLength() &&
         a.protocol() == b.protocol() && a.status() == b.status() && a.complete() == b.complete() &&
         a.tooLarge() == b.tooLarge();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 16)) return 0;
  // The first byte chooses the size of the pieces the rest arrives in.
  const size_t step = data[0] % 16 + 1;
  const std::span<const uint8_t> received = std::span(data, size).subspan(1);

  kestrine::ResponseProgress whole;
  whole.Update(received);
  kestrine::ResponseProgress pieces;
  for (size_t end = 0; end < received.size();) {
    end = end + step < received.size() ? end + step : received.size();
    pieces.Update(received.first(end));
  }
  if (!received.empty() && !SameState(whole, pieces)) __builtin_trap();
  if (whole.status() > 9999) __builtin_trap();

  std::span<const uint8_t> content;
  const uint32_t result = kestrine::FinishedContent(whole, received, content);
  if (result != 0 && result != 11) __builtin_trap();
  if (result == 0 && (content.empty() || content.size() > received.size())) __builtin_trap();
  // A complete response is refused only for an empty content.
  if (whole.complete() && *whole.contentLength() != 0 &&
      (result != 0 || content.size() != *whole.contentLength())) {
    __builtin_trap();
  }

  const std::string_view text(reinterpret_cast<const char*>(received.data()), received.size());
  const kestrine::HttpHeaderFacts facts = kestrine::ReadHttpHeader(text);
  if (facts.status > 999) __builtin_trap();
  return 0;
}

#include "online/mime_decode.h"

#include <array>
#include <new>

#include "kestrine.h"

namespace kestrine {

namespace {

constexpr uint8_t kBase64Skip = 0xFE;
constexpr uint8_t kBase64Bad = 0xFF;

// The value of each byte in base64 text: 0..63, kBase64Skip or kBase64Bad.
constexpr std::array<uint8_t, 256> MakeBase64Table() {
  std::array<uint8_t, 256> table{};
  table.fill(kBase64Bad);
  for (int c = 1; c <= 32; ++c) table[c] = kBase64Skip;
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < kAlphabet.size(); ++i) {
    table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
  }
  return table;
}

constexpr std::array<uint8_t, 256> kBase64Table = MakeBase64Table();

// The value of a hexadecimal digit of either case, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

uint32_t DecodeBase64(std::string_view text, std::vector<uint8_t>& out) {
  uint32_t bits = 0;
  int bitCount = 0;
  for (char c : text) {
    if (c == '=') break;
    const uint8_t value = kBase64Table[static_cast<uint8_t>(c)];
    if (value == kBase64Skip) continue;
    if (value == kBase64Bad) return kErrorBadFormat;
    bits = (bits << 6) | value;
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      out.push_back(static_cast<uint8_t>(bits >> bitCount));
      bits &= (1u << bitCount) - 1;
    }
  }
  return kErrorSuccess;
}

uint32_t DecodeQuotedPrintable(std::string_view text, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '=') {
      out.push_back(static_cast<uint8_t>(text[i++]));
      continue;
    }
    const std::string_view escape = text.substr(i + 1, 2);
    if (escape == "\r\n") {
      i += 3;
      continue;
    }
    if (escape.size() < 2) return kErrorBadFormat;
    const int high = HexDigit(escape[0]);
    const int low = HexDigit(escape[1]);
    if (high < 0 || low < 0) return kErrorBadFormat;
    out.push_back(static_cast<uint8_t>(high * 16 + low));
    i += 3;
  }
  return kErrorSuccess;
}

uint32_t DecodeMimeBody(MimeEncoding encoding, std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  try {
    // Neither encoding ever makes the data longer than its text.
    out.reserve(text.size());
    switch (encoding) {
      case MimeEncoding::kBase64:
        return DecodeBase64(text, out);
      case MimeEncoding::kQuotedPrintable:
        return DecodeQuotedPrintable(text, out);
      case MimeEncoding::kNone:
        out.assign(text.begin(), text.end());
        return kErrorSuccess;
    }
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  return kErrorBadFormat;
}

}  // namespace kestrine

#include "common/hex_key.h"

#include <algorithm>

namespace kestrine {

namespace {

constexpr char kLowerDigits[] = "0123456789abcdef";

bool IsHexText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

void WriteHex(std::span<const uint8_t> bytes, char* out) {
  for (uint8_t byte : bytes) {
    *out++ = kLowerDigits[byte >> 4];
    *out++ = kLowerDigits[byte & 0x0f];
  }
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(std::string_view text, std::span<uint8_t> out) {
  // Validated first so that a failure leaves `out` untouched.
  if (text.size() != 2 * out.size() || !IsHexText(text)) return false;
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<uint8_t>(HexDigitValue(text[2 * i]) << 4 | HexDigitValue(text[2 * i + 1]));
  }
  return true;
}

bool ParseHexKey(std::string_view text, Key16& out) {
  return ParseHexBytes(text, out);
}

bool IsHexKey(std::string_view text) {
  return text.size() == 32 && IsHexText(text);
}

std::string FormatHexKey(std::span<const uint8_t> key) {
  std::string text(2 * key.size(), '\0');
  WriteHex(key, text.data());
  return text;
}

void FormatHexKey(std::span<const uint8_t, 16> key, char out[33]) {
  WriteHex(key, out);
  out[32] = '\0';
}

}  // namespace kestrine

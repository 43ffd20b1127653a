// Keys in text: 32 hexadecimal digits, read in either case, written in lower case.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrine {

using Key16 = std::array<uint8_t, 16>;

// 0..15 for a hexadecimal digit of either case, -1 for anything else.
int HexDigitValue(char c);

// Exactly 32 hex digits into 16 bytes; on failure returns false and leaves
// `out` unchanged.
bool ParseHexKey(std::string_view text, Key16& out);
bool IsHexKey(std::string_view text);

// Exactly 2 * out.size() hex digits, the first digit of each pair the high
// nibble. On failure returns false and leaves `out` unchanged.
bool ParseHexBytes(std::string_view text, std::span<uint8_t> out);

// Lower case, two digits per byte.
std::string FormatHexKey(std::span<const uint8_t> key);
// Lower case, 32 digits and a NUL.
void FormatHexKey(std::span<const uint8_t, 16> key, char out[33]);

}  // namespace kestrine

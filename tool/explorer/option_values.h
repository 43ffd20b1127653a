// The values of kestrine-casc's options that need more than a string: the
// locale (a code or a hexadecimal mask) and frame-decryption keys (given one
// by one or in a keys file).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine::explorer {

struct DecryptionKey {
  uint64_t name = 0;  // the 8-byte key name as the frames store it, little-endian
  std::array<uint8_t, 16> key{};
};

// "enUS" and the other four-letter codes of the locale table (the letters in
// any case), or "0x" and one to eight hexadecimal digits.
std::optional<uint32_t> ParseLocale(std::string_view text);

// NAME: 16 hexadecimal digits, most significant first (the u64 the format
// stores little-endian); KEY: 32 hexadecimal digits, the key bytes in order.
std::optional<DecryptionKey> ParseKey(std::string_view name, std::string_view key);
// "NAME=KEY", the form of --key.
std::optional<DecryptionKey> ParseKeyAssignment(std::string_view text);

// A keys file: lines "NAME KEY" (blanks or tabs between and around them);
// blank lines and lines whose first non-blank character is "#" are skipped.
struct KeysFile {
  std::vector<DecryptionKey> keys;
  std::string error;  // empty when every line was read; else what is wrong, and where
};
KeysFile ParseKeysFile(std::string_view text);
// Reads and parses the file at `path`.
KeysFile ReadKeysFile(const std::string& path);

}  // namespace kestrine::explorer

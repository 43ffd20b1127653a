#include "option_values.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kestrine.h"

namespace kestrine::explorer {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::optional<uint8_t> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower >= 'a' && lower <= 'f') return static_cast<uint8_t>(lower - 'a' + 10);
  return std::nullopt;
}

// The value of 1 to 16 hexadecimal digits.
std::optional<uint64_t> HexNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 16) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    const std::optional<uint8_t> digit = HexDigit(c);
    if (!digit) return std::nullopt;
    value = value << 4 | *digit;
  }
  return value;
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Locale codes are written with a lower-case language and an upper-case
// country ("enUS"); users may type either case.
std::string CanonicalLocaleCode(std::string_view text) {
  std::string code(text);
  for (size_t i = 0; i < code.size(); ++i) {
    const auto c = static_cast<unsigned char>(code[i]);
    code[i] = static_cast<char>(i < 2 ? std::tolower(c) : std::toupper(c));
  }
  return code;
}

}  // namespace

std::optional<uint32_t> ParseLocale(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const std::string_view digits = text.substr(2);
    if (digits.size() > 8) return std::nullopt;
    const std::optional<uint64_t> mask = HexNumber(digits);
    if (!mask) return std::nullopt;
    return static_cast<uint32_t>(*mask);
  }
  if (text.size() != 4) return std::nullopt;
  const uint32_t mask = LocaleMaskFromCode(CanonicalLocaleCode(text).c_str());
  if (mask == 0) return std::nullopt;
  return mask;
}

std::optional<DecryptionKey> ParseKey(std::string_view name, std::string_view key) {
  if (name.size() != 16 || key.size() != 32) return std::nullopt;
  const std::optional<uint64_t> nameValue = HexNumber(name);
  if (!nameValue) return std::nullopt;
  DecryptionKey result;
  result.name = *nameValue;
  for (size_t i = 0; i < result.key.size(); ++i) {
    const std::optional<uint64_t> byte = HexNumber(key.substr(2 * i, 2));
    if (!byte) return std::nullopt;
    result.key[i] = static_cast<uint8_t>(*byte);
  }
  return result;
}

std::optional<DecryptionKey> ParseKeyAssignment(std::string_view text) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return ParseKey(text.substr(0, equals), text.substr(equals + 1));
}

KeysFile ParseKeysFile(std::string_view text) {
  KeysFile result;
  size_t lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    const size_t gap = line.find_first_of(kBlanks);
    std::optional<DecryptionKey> key;
    if (gap != std::string_view::npos) {
      key = ParseKey(line.substr(0, gap), Trim(line.substr(gap)));
    }
    if (!key) {
      result.error = "line " + std::to_string(lineNumber) + " is not \"NAME KEY\"";
      return result;
    }
    result.keys.push_back(*key);
  }
  return result;
}

// Pipes are fine (--keys <(command)); a folder opens but reads as nothing.
KeysFile ReadKeysFile(const std::string& path) {
  std::error_code error;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad() || std::filesystem::is_directory(path, error)) {
    KeysFile result;
    result.error = "cannot be read";
    return result;
  }
  return ParseKeysFile(text.str());
}

}  // namespace kestrine::explorer

// The plain-text root: one file per line.
//
//   FIELD  CONTENT
//   1      file name, components separated by "/" or "\"
//   2      CKey of the content: 32 hex digits, either case
//   3      optional, ignored
//
// Fields are separated by "|". Lines end at CR or LF, and a run of line
// breaks ends one line, so there are no empty lines. A "#" as the very first
// byte is skipped; the first NUL ends the text. There is no header line. A
// line of 32 or more fields is passed over.
#include "roots/plain_text_root.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string_view>

#include "common/byte_reader.h"
#include "common/errors.h"
#include "common/hex_key.h"
#include "roots/root_loaders.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

constexpr size_t kMaxFields = 31;
constexpr size_t kKeyDigits = 32;

struct RootLine {
  std::array<std::string_view, kMaxFields> fields{};
  size_t fieldCount = 0;
};

bool IsLineBreak(uint8_t c) {
  return c == '\r' || c == '\n';
}

// Reads lines and splits them into fields.
class LineReader {
 public:
  explicit LineReader(std::span<const uint8_t> data) {
    std::string_view text = AsText(data);
    text = text.substr(0, text.find('\0'));
    if (text.starts_with('#')) text.remove_prefix(1);
    reader_ = ByteReader(AsBytes(text));
  }

  // The next line of fewer than 32 fields; false at the end of the text.
  bool Next(RootLine& line) {
    for (;;) {
      SkipTextWhile(reader_, IsLineBreak);
      const std::string_view text = ReadTextUntil(reader_, IsLineBreak);
      if (text.empty()) return false;
      if (Split(text, line)) return true;
    }
  }

 private:
  static bool Split(std::string_view text, RootLine& line) {
    ByteReader reader(AsBytes(text));
    line.fieldCount = 0;
    for (;;) {
      const std::string_view field = ReadTextUntil(reader, [](uint8_t c) { return c == '|'; });
      if (line.fieldCount == kMaxFields) return false;
      line.fields[line.fieldCount++] = field;
      if (!reader.skip(1)) return true;
    }
  }

  ByteReader reader_;
};

// The first 32 characters of the field as a key; a shorter field, or a
// character among them that is no hex digit, gives none.
bool ReadCKey(std::string_view field, Key16& ckey) {
  return field.size() >= kKeyDigits && ParseHexKey(field.substr(0, kKeyDigits), ckey);
}

uint32_t EnterNames(TCascStorage& storage, std::span<const uint8_t> data, TRootHandler_SC1& root) {
  LineReader lines(data);
  RootLine line;
  while (lines.Next(line)) {
    Key16 ckey;
    if (line.fieldCount < 2 || !ReadCKey(line.fields[1], ckey)) continue;
    ContentEntry* entry = storage.contents.FindByCKey(ckey.data());
    if (entry == nullptr) continue;
    if (root.tree().InsertFile(entry, line.fields[0], kNoFileId) == nullptr) {
      return kErrorNotEnoughMemory;
    }
  }
  return kErrorSuccess;
}

}  // namespace

bool IsPlainTextRoot(std::span<const uint8_t> data) {
  LineReader lines(data);
  RootLine line;
  if (!lines.Next(line)) return false;
  return (line.fieldCount == 2 || line.fieldCount == 3) && line.fields[1].size() == kKeyDigits;
}

uint32_t LoadPlainTextRoot(TCascStorage& storage, std::span<const uint8_t> data,
                           uint32_t /*localeMask*/) {
  if (!IsPlainTextRoot(data)) return kErrorBadFormat;
  try {
    auto root = std::make_unique<TRootHandler_SC1>();
    if (uint32_t error = EnterNames(storage, data, *root)) return error;
    storage.root = std::move(root);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

}  // namespace kestrine

#include "storage/text_table.h"

#include <new>

#include "encoded/stream.h"
#include "kestrine.h"

namespace kestrine {

namespace {

bool IsLineBreak(uint8_t c) {
  return c == '\r' || c == '\n';
}

// The next line, or empty at the end of the text. Line breaks around it are
// consumed, so a run of them never yields an empty line.
std::string_view NextLine(ByteReader& reader) {
  SkipTextWhile(reader, IsLineBreak);
  return ReadTextUntil(reader, IsLineBreak);
}

// Splits a line at '|'; the text after the last '|' is a field too, even when
// empty. False for a line of more than kMaxFields fields.
bool SplitFields(std::string_view line, TableRow& row) {
  ByteReader reader(AsBytes(line));
  row.fieldCount = 0;
  for (;;) {
    std::string_view field = ReadTextUntil(reader, [](uint8_t c) { return c == '|'; });
    if (row.fieldCount == TableRow::kMaxFields) return false;
    row.fields[row.fieldCount++] = field;
    if (!reader.skip(1)) return true;
  }
}

uint32_t LastErrorOr(uint32_t fallback) {
  uint32_t error = GetCascError();
  return error != kErrorSuccess ? error : fallback;
}

}  // namespace

uint32_t ReadTableFile(const std::string& path, std::vector<char>& text) {
  StreamPtr stream(OpenLocalStream(path, SF_READONLY));
  if (!stream) return LastErrorOr(kErrorFileNotFound);
  uint64_t size = 0;
  if (!GetStreamSize(stream.get(), &size) || size == 0 || size > kMaxTableFileSize) {
    return kErrorBadFormat;
  }
  try {
    std::vector<char> buffer(size + 1);
    if (!ReadStream(stream.get(), 0, buffer.data(), size)) return LastErrorOr(kErrorBadFormat);
    buffer[size] = '\0';
    text = std::move(buffer);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

uint64_t ColumnNameHash(std::string_view name) {
  uint64_t hash = 0x7EEE7EEE;
  for (char ch : name) {
    // Bytes above 0x7F enter sign-extended, as the tables' writers hash them.
    uint64_t c = static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(ch)));
    hash = hash ^ (hash << 5) ^ (c ^ (hash >> 24));
  }
  return hash;
}

bool TextTable::Load(std::string_view text, bool withHeader, bool withRows, size_t rowCapacity) {
  hasHeader_ = false;
  columnCount_ = 0;
  slots_.fill(kEmptySlot);
  rows_.clear();

  text = text.substr(0, text.find('\0'));
  if (text.starts_with('#')) text.remove_prefix(1);
  ByteReader reader(AsBytes(text));

  TableRow row;
  if (withHeader) {
    if (!NextRow(reader, row)) return false;
    for (size_t i = 0; i < row.fieldCount; ++i) {
      columns_[i] = row.fields[i];
      IndexColumn(static_cast<uint8_t>(i));
    }
    columnCount_ = row.fieldCount;
    hasHeader_ = true;
  }
  if (withRows) {
    rows_.reserve(rowCapacity);
    while (rows_.size() < rowCapacity && NextRow(reader, row)) {
      row.table = this;
      rows_.push_back(row);
    }
  }
  return true;
}

bool TextTable::NextRow(ByteReader& reader, TableRow& row) const {
  for (std::string_view line; !(line = NextLine(reader)).empty();) {
    if (SplitFields(line, row) && (!hasHeader_ || row.fieldCount == columnCount_)) return true;
  }
  return false;
}

void TextTable::IndexColumn(uint8_t column) {
  size_t slot = ColumnNameHash(columns_[column]) % kIndexSlots;
  while (slots_[slot] != kEmptySlot) slot = (slot + 1) % kIndexSlots;
  slots_[slot] = column;
}

int TextTable::FindColumn(std::string_view name) const {
  if (!hasHeader_) return -1;
  size_t slot = ColumnNameHash(name) % kIndexSlots;
  for (size_t probes = 0; probes < kIndexSlots; ++probes, slot = (slot + 1) % kIndexSlots) {
    uint8_t column = slots_[slot];
    if (column == kEmptySlot) return -1;
    if (columns_[column] == name) return column;
  }
  return -1;
}

std::string_view GetColumn(const TableRow& row, std::string_view name) {
  if (row.table == nullptr) return {};
  int column = row.table->FindColumn(name);
  if (column < 0 || static_cast<size_t>(column) >= row.fieldCount) return {};
  return row.fields[column];
}

}  // namespace kestrine

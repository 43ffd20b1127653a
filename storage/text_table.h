// Pipe-separated text tables: ".build.info", ".build.db" and the patch
// service's "versions" and "cdns" tables.
//
//   OFFSET  SIZE         FIELD
//   0       0 or 1       '#', skipped (only as the very first byte)
//   ...     to line end  header (when the table has one): column names of the
//                        form "Name!TYPE:size", separated by '|'
//   ...     to line end  rows: fields separated by '|', one per column
//
// Lines end at CR or LF; a run of line breaks ends one line, so there are no
// empty lines. The first NUL ends the text. A line of 32 or more fields, and
// with a header a row whose field count differs from the header's, is skipped.
// Column types are not interpreted: lookups match the whole header text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"
#include "kestrine.h"

namespace kestrine {

inline constexpr size_t kMaxTableFileSize = 32 * 1024 * 1024;

// Reads a table file whole: 1 to kMaxTableFileSize bytes, else 11. `text`
// receives the bytes and a terminating NUL. A failed open passes the stream's
// error number on.
[[nodiscard]] uint32_t ReadTableFile(const std::string& path, std::vector<char>& text);

class TextTable;

// One row; its fields point into the table's text. Missing fields are empty.
struct TableRow {
  static constexpr size_t kMaxFields = 31;
  const TextTable* table = nullptr;
  std::array<std::string_view, kMaxFields> fields{};
  size_t fieldCount = 0;
};

class TextTable {
 public:
  static constexpr size_t kMaxColumns = TableRow::kMaxFields;
  static constexpr size_t kIndexSlots = 128;
  static constexpr uint8_t kEmptySlot = 255;
  static constexpr size_t kDefaultRowCapacity = 64;

  TextTable() { slots_.fill(kEmptySlot); }
  // Rows point back at their table, which therefore stays in place.
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;

  // Parses the header (when `withHeader`) and up to `rowCapacity` rows (when
  // `withRows`) of `text`, which must outlive the table. False when a header
  // is wanted and no line qualifies as one.
  [[nodiscard]] bool Load(std::string_view text, bool withHeader, bool withRows,
                          size_t rowCapacity = kDefaultRowCapacity);

  bool hasHeader() const { return hasHeader_; }
  std::span<const std::string_view> columns() const { return {columns_.data(), columnCount_}; }
  std::span<const TableRow> rows() const { return rows_; }
  // The column number held by one of the 128 index slots, or kEmptySlot.
  uint8_t slot(size_t index) const { return slots_[index % kIndexSlots]; }

  // The column number of the header text `name` (exact match), or -1.
  int FindColumn(std::string_view name) const;

 private:
  // The next line that makes an acceptable row; false at the end of the text.
  bool NextRow(ByteReader& reader, TableRow& row) const;
  void IndexColumn(uint8_t column);

  bool hasHeader_ = false;
  std::array<std::string_view, kMaxColumns> columns_{};
  size_t columnCount_ = 0;
  std::array<uint8_t, kIndexSlots> slots_{};
  std::vector<TableRow> rows_;
};

// Hash of a column name; its low 7 bits choose the first index slot.
uint64_t ColumnNameHash(std::string_view name);

// The row's field under the header text `name`, or the empty field when the
// table has no header, no such column, or the row no such field.
std::string_view GetColumn(const TableRow& row, std::string_view name);

// Text scanning over the bounds-checked reader, shared by the readers of
// text files.
inline std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline std::span<const uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Consumes and returns the bytes before the first one for which `stop` holds
// (that one is left unread), or all remaining bytes.
template <typename Stop>
std::string_view ReadTextUntil(ByteReader& reader, Stop stop) {
  size_t start = reader.offset();
  size_t end = start;
  while (reader.remaining() > 0 && !stop(reader.u8())) end = reader.offset();
  reader.seek(start);
  return AsText(reader.bytes(end - start));
}

// Consumes bytes while `skip` holds for them.
template <typename Skip>
void SkipTextWhile(ByteReader& reader, Skip skip) {
  ReadTextUntil(reader, [&](uint8_t c) { return !skip(c); });
}

}  // namespace kestrine

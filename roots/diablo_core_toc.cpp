#include "roots/diablo_core_toc.h"

#include <algorithm>
#include <array>

#include "common/byte_reader.h"
#include "common/errors.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

constexpr size_t kRecordSize = 12;

struct TableBounds {
  uint64_t start = 0;  // first record
  uint32_t count = 0;
  uint64_t names = 0;  // behind the last record
};

// Where each table lies; false when one runs past the data. A table without
// records lies nowhere and is not checked.
bool ReadTableBounds(std::span<const uint8_t> toc,
                     std::array<TableBounds, kCoreTocTables>& tables) {
  ByteReader header(toc);
  for (TableBounds& table : tables) table.count = header.u32le();
  for (TableBounds& table : tables) {
    table.start = kCoreTocHeaderSize + uint64_t{header.u32le()};
    table.names = table.start + uint64_t{table.count} * kRecordSize;
    if (table.count != 0 && table.names > toc.size()) return false;
  }
  return header.ok();
}

}  // namespace

uint32_t DiabloSnoTable::Load(std::span<const uint8_t> toc) {
  toc_ = toc;
  records_.clear();
  highestId_ = 0;
  if (toc.empty()) return kErrorSuccess;
  std::array<TableBounds, kCoreTocTables> tables;
  if (toc.size() < kCoreTocHeaderSize || !ReadTableBounds(toc, tables)) return kErrorBadFormat;
  // Every table lies within the data, so the records number at most its size / 12.
  size_t total = 0;
  for (const TableBounds& table : tables) total += table.count;
  records_.reserve(total);
  for (const TableBounds& table : tables) {
    if (table.count == 0) continue;
    ByteReader all(toc);
    all.seek(table.start);
    ByteReader reader = all.sub(table.count * kRecordSize);
    for (uint32_t i = 0; i < table.count; ++i) {
      Record record;
      record.group = reader.u32le();
      record.snoId = reader.u32le();
      record.namePosition = table.names + reader.u32le();
      highestId_ = std::max(highestId_, record.snoId);
      records_.push_back(record);
    }
  }
  if (highestId_ == 0) {
    records_.clear();
    return kErrorSuccess;
  }
  // A later record of an id replaces an earlier one.
  std::stable_sort(records_.begin(), records_.end(),
                   [](const Record& a, const Record& b) { return a.snoId < b.snoId; });
  auto last = std::unique(records_.rbegin(), records_.rend(),
                          [](const Record& a, const Record& b) { return a.snoId == b.snoId; });
  records_.erase(records_.begin(), last.base());
  return kErrorSuccess;
}

bool DiabloSnoTable::Find(uint32_t snoId, SnoName& out) const {
  auto at = std::lower_bound(records_.begin(), records_.end(), snoId,
                             [](const Record& record, uint32_t id) { return record.snoId < id; });
  if (at == records_.end() || at->snoId != snoId || at->namePosition > toc_.size()) return false;
  ByteReader reader(toc_);
  reader.seek(at->namePosition);
  const auto name = reader.until(0);
  if (!reader.ok()) return false;
  out.group = at->group;
  out.name = AsText(name);
  return true;
}

}  // namespace kestrine

// The table of contents of a Diablo III storage ("Base\CoreTOC.dat"): the
// name and asset group of every asset number (SNO id). All numbers are
// little-endian u32.
//
//   OFFSET  SIZE   FIELD
//   0       280    70 entry counts, one per asset group table
//   280     280    70 entry offsets, from the end of the header
//   560     284    not used
//   844            the tables
//
// Table g holds count[g] records of 12 bytes from 844 + offset[g]: asset
// group, SNO id, name offset. A record's NUL-terminated name stands at
// 844 + offset[g] + 12 * count[g] + name offset, behind the table's records.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kestrine {

inline constexpr size_t kCoreTocHeaderSize = 844;
inline constexpr size_t kCoreTocTables = 70;

// What the table of contents says of one asset number.
struct SnoName {
  uint32_t group = 0;
  std::string_view name;
};

class DiabloSnoTable {
 public:
  // Reads the records of every table. Empty data gives an empty table. 0, or
  // 11 when the data is shorter than the header or a table's records run
  // past its end. Nothing is kept when the highest SNO id met is 0.
  [[nodiscard]] uint32_t Load(std::span<const uint8_t> toc);

  // The record of `snoId`; for an id given twice, the last one read. False
  // when no record has the id, or its name does not end within the data.
  bool Find(uint32_t snoId, SnoName& out) const;

  uint32_t highestId() const { return highestId_; }
  size_t size() const { return records_.size(); }

 private:
  struct Record {
    uint32_t snoId;
    uint32_t group;
    uint64_t namePosition;
  };

  std::span<const uint8_t> toc_;
  std::vector<Record> records_;  // sorted by SNO id, one per id
  uint32_t highestId_ = 0;
};

}  // namespace kestrine

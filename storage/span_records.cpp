#include "storage/span_records.h"

#include <algorithm>
#include <functional>
#include <span>

#include "storage/storage.h"

namespace kestrine {

namespace {

// True when [first, first + n) lies within [base, base + size).
bool Within(const ContentEntry* first, size_t n, const ContentEntry* base, size_t size) {
  const std::less<const ContentEntry*> before;
  if (before(first, base) || !before(first, base + size)) return false;
  return size - static_cast<size_t>(first - base) >= n;
}

}  // namespace

ContentEntry* SpanRecordTable::Append(size_t n) {
  if (n == 0 || n > kBlockRecords) return nullptr;
  if (blocks_.empty() || kBlockRecords - blocks_.back().used < n) {
    blocks_.reserve(blocks_.size() + 1);
    blocks_.push_back({std::make_unique<ContentEntry[]>(kBlockRecords), 0});
  }
  Block& block = blocks_.back();
  ContentEntry* first = block.records.get() + block.used;
  block.used += n;
  return first;
}

void SpanRecordTable::DropLast(size_t n) {
  if (blocks_.empty()) return;
  Block& block = blocks_.back();
  block.used -= std::min(n, block.used);
  for (size_t i = block.used; i < block.used + n && i < kBlockRecords; ++i) {
    block.records[i] = ContentEntry{};
  }
}

bool SpanRecordTable::Holds(const ContentEntry* first, size_t n) const {
  for (const Block& block : blocks_) {
    if (Within(first, n, block.records.get(), block.used)) return true;
  }
  return false;
}

size_t SpanEntryCount(TCascStorage& storage, const ContentEntry& first) {
  const size_t count = first.spanCount != 0 ? first.spanCount : 1;
  if (count == 1) return 1;
  std::span<ContentEntry> all = storage.contents.entries();
  const bool follow =
      Within(&first, count, all.data(), all.size()) || storage.spanRecords.Holds(&first, count);
  return follow ? count : 0;
}

}  // namespace kestrine

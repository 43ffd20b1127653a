// Table reader: any text loads with and without header, every column lookup
// stays inside the text, and the build-info and patch-service row handlers
// cope with whatever rows result.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "storage/build_info.h"
#include "storage/text_table.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;

constexpr std::string_view kKnownColumns[] = {
    "Active!DEC:1",
    "Product!STRING:0",
    "Build Key!HEX:16",
    "CDN Key!HEX:16",
    "Tags!STRING:0",
    "CDN Hosts!STRING:0",
    "CDN Path!STRING:0",
    "Version!STRING:0",
    "Region!STRING:0",
    "Name!STRING:0",
    "Hosts!STRING:0",
    "Path!STRING:0",
    "",
};

void CheckInside(std::string_view field, std::string_view text) {
  if (field.empty()) return;
  if (field.data() < text.data() || field.data() + field.size() > text.data() + text.size()) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrine;
  if (size > kMaxInput) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);

  TextTable table;
  if (table.Load(text, true, true)) {
    for (const TableRow& row : table.rows()) {
      for (std::string_view name : kKnownColumns) CheckInside(GetColumn(row, name), text);
      for (std::string_view name : table.columns()) CheckInside(GetColumn(row, name), text);
    }
    TCascStorage storage;
    (void)ApplyBuildInfo(storage, table);
  }
  TextTable headerless;
  if (headerless.Load(text, false, true)) {
    TCascStorage storage;
    (void)ApplyBuildDb(storage, headerless);
  }
  TCascStorage versions;
  versions.region = "eu";
  (void)ParseVersionsTable(versions, text);
  TCascStorage cdns;
  (void)ParseCdnsTable(cdns, text);
  return 0;
}

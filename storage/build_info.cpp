#include "storage/build_info.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <vector>

#include "storage/config_files.h"

namespace kestrine {

namespace {

constexpr std::string_view kActive = "Active!DEC:1";
constexpr std::string_view kProduct = "Product!STRING:0";
constexpr std::string_view kBuildKey = "Build Key!HEX:16";
constexpr std::string_view kCdnKey = "CDN Key!HEX:16";
constexpr std::string_view kTags = "Tags!STRING:0";
constexpr std::string_view kCdnHosts = "CDN Hosts!STRING:0";
constexpr std::string_view kCdnPath = "CDN Path!STRING:0";
constexpr std::string_view kVersion = "Version!STRING:0";

constexpr std::string_view kRegion = "Region!STRING:0";
constexpr std::string_view kBuildConfig = "BuildConfig!HEX:16";
constexpr std::string_view kCdnConfig = "CDNConfig!HEX:16";
constexpr std::string_view kVersionsName = "VersionsName!String:0";
constexpr std::string_view kCdnName = "Name!STRING:0";
constexpr std::string_view kHosts = "Hosts!STRING:0";
constexpr std::string_view kPath = "Path!STRING:0";

// A product value is compared on its first 31 characters.
constexpr size_t kProductCompareLength = 31;

struct LocaleCode {
  std::string_view code;
  uint32_t bit;
};

constexpr LocaleCode kLocaleCodes[] = {
    {"enUS", 0x2},    {"koKR", 0x4},    {"frFR", 0x10},   {"deDE", 0x20},   {"zhCN", 0x40},
    {"esES", 0x80},   {"zhTW", 0x100},  {"enGB", 0x200},  {"enCN", 0x400},  {"enTW", 0x800},
    {"esMX", 0x1000}, {"ruRU", 0x2000}, {"ptBR", 0x4000}, {"itIT", 0x8000}, {"ptPT", 0x10000},
};

constexpr LocaleCode kRegionLocales[] = {{"cn", 0x40}, {"eu", 0x200}, {"kr", 0x4}, {"tw", 0x100}};
constexpr uint32_t kDefaultLocale = 0x2;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool IsActive(const TableRow& row) {
  return GetColumn(row, kActive) == "1";
}

std::string_view FieldAt(const TableRow& row, size_t index) {
  return index < row.fieldCount ? row.fields[index] : std::string_view{};
}

// An empty value clears the key; a present one must be one key of 32 digits.
uint32_t ReadKeyValue(std::string_view value, KeyList& key) {
  if (value.empty()) {
    key.clear();
    return kErrorSuccess;
  }
  if (value.size() != 32) return kErrorBadFormat;
  return ParseHexKeys(value, 1, key);
}

void CopyIfUnset(std::string& target, std::string_view value) {
  if (target.empty() && !value.empty()) target = value;
}

void TakeBuildNumber(TCascStorage& storage, std::string_view text) {
  uint32_t number = LargestNumberIn(text);
  if (number > 99) storage.buildNumber = number;
}

ProductCallback ProductCallbackOf(const TCascStorage& storage, void** context) {
  const StorageOpenArgs* args = storage.openArgs;
  if (args == nullptr || args->size < offsetof(StorageOpenArgs, productContext) + sizeof(void*)) {
    return nullptr;
  }
  *context = args->productContext;
  return args->productCallback;
}

// Settles the product code from the active rows; the callback chooses when
// there are several.
uint32_t ChooseProduct(TCascStorage& storage, const TextTable& table, ProductCallback callback,
                       void* context) {
  std::vector<std::string> products;
  for (const TableRow& row : table.rows()) {
    if (IsActive(row)) products.emplace_back(GetColumn(row, kProduct));
  }
  if (products.empty()) return kErrorFileNotFound;
  uint64_t selected = 0;
  if (products.size() > 1) {
    std::vector<const char*> names;
    for (const std::string& product : products) names.push_back(product.c_str());
    if (!callback(context, names.data(), names.size(), &selected) || selected >= names.size()) {
      return kErrorCancelled;
    }
  }
  storage.productCode = products[selected];
  return kErrorSuccess;
}

const TableRow* FindActiveRow(const TextTable& table, std::string_view productCode) {
  for (const TableRow& row : table.rows()) {
    if (!IsActive(row)) continue;
    std::string_view product = GetColumn(row, kProduct).substr(0, kProductCompareLength);
    if (productCode.empty() || EqualsIgnoreCase(product, productCode)) return &row;
  }
  return nullptr;
}

const TableRow* LastRowWithKey(const TextTable& table, std::string_view keyColumn,
                               std::string_view value) {
  const TableRow* found = nullptr;
  for (const TableRow& row : table.rows()) {
    if (GetColumn(row, keyColumn) == value) found = &row;
  }
  return found;
}

using RowHandler = uint32_t (*)(TCascStorage&, const TableRow&);

uint32_t ParseServiceTable(TCascStorage& storage, std::string_view text, std::string_view keyColumn,
                           RowHandler handler) {
  TextTable table;
  if (!table.Load(text, true, true)) return kErrorBadFormat;
  const TableRow* row = ChooseRowByKey(table, keyColumn, storage.region);
  return row != nullptr ? handler(storage, *row) : kErrorFileNotFound;
}

}  // namespace

uint32_t TagsToLocaleMask(std::string_view tags) {
  uint32_t mask = 0;
  size_t position = 0;
  while (tags.size() - position >= 4) {
    std::string_view word = tags.substr(position, 4);
    auto code = std::ranges::find(kLocaleCodes, word, &LocaleCode::code);
    if (code != std::end(kLocaleCodes)) {
      mask |= code->bit;
      position += 4;
    } else {
      ++position;
    }
  }
  return mask;
}

extern "C" KESTRINE_API uint32_t kestrine_locale_mask_from_code(const char* code) try {
  if (code == nullptr) return 0;
  auto entry = std::ranges::find(kLocaleCodes, std::string_view(code), &LocaleCode::code);
  return entry != std::end(kLocaleCodes) ? entry->bit : 0;
} catch (...) {
  return 0;
}

uint32_t LocaleMaskFromRegion(std::string_view region) {
  for (const LocaleCode& entry : kRegionLocales) {
    if (EqualsIgnoreCase(region, entry.code)) return entry.bit;
  }
  return kDefaultLocale;
}

uint32_t LoadBuildInfo(TCascStorage& storage, const std::string& path) {
  std::vector<char> text;
  if (uint32_t error = ReadTableFile(path, text)) return error;
  TextTable table;
  if (!table.Load({text.data(), text.size()}, true, true)) return kErrorBadFormat;
  return ApplyBuildInfo(storage, table);
}

uint32_t ApplyBuildInfo(TCascStorage& storage, const TextTable& table) {
  void* context = nullptr;
  ProductCallback callback = ProductCallbackOf(storage, &context);
  if (storage.productCode.empty() && callback != nullptr) {
    if (uint32_t error = ChooseProduct(storage, table, callback, context)) return error;
  }
  const TableRow* row = FindActiveRow(table, storage.productCode);
  if (row == nullptr) return kErrorFileNotFound;

  if (uint32_t error = ReadKeyValue(GetColumn(*row, kBuildKey), storage.buildConfigKey)) {
    return error;
  }
  if (uint32_t error = ReadKeyValue(GetColumn(*row, kCdnKey), storage.cdnConfigKey)) return error;
  storage.localeMask = TagsToLocaleMask(GetColumn(*row, kTags));
  CopyIfUnset(storage.cdnHosts, GetColumn(*row, kCdnHosts));
  CopyIfUnset(storage.cdnPath, GetColumn(*row, kCdnPath));
  TakeBuildNumber(storage, GetColumn(*row, kVersion));
  return storage.buildConfigKey.empty() ? kErrorBadFormat : kErrorSuccess;
}

uint32_t LoadBuildDb(TCascStorage& storage, const std::string& path) {
  std::vector<char> text;
  if (uint32_t error = ReadTableFile(path, text)) {
    return error == kErrorNotEnoughMemory ? error : kErrorBadFormat;
  }
  TextTable table;
  (void)table.Load({text.data(), text.size()}, false, true);
  return ApplyBuildDb(storage, table);
}

uint32_t ApplyBuildDb(TCascStorage& storage, const TextTable& table) {
  if (table.rows().empty()) return kErrorBadFormat;
  const TableRow& row = table.rows()[0];
  if (uint32_t error = ReadKeyValue(FieldAt(row, 0), storage.buildConfigKey)) return error;
  if (uint32_t error = ReadKeyValue(FieldAt(row, 1), storage.cdnConfigKey)) return error;
  storage.localeMask = TagsToLocaleMask(FieldAt(row, 2));
  bool complete = !storage.buildConfigKey.empty() && !storage.cdnConfigKey.empty();
  return complete ? kErrorSuccess : kErrorBadFormat;
}

const TableRow* ChooseRowByKey(const TextTable& table, std::string_view keyColumn,
                               std::string_view region) {
  if (table.rows().empty()) return nullptr;
  if (!region.empty()) {
    for (const TableRow& row : table.rows()) {
      if (GetColumn(row, keyColumn) == region) return &row;
    }
  }
  for (std::string_view fallback : {"us", "eu", "xx"}) {
    if (const TableRow* row = LastRowWithKey(table, keyColumn, fallback)) return row;
  }
  return &table.rows()[0];
}

uint32_t ApplyVersionsRow(TCascStorage& storage, const TableRow& row) {
  if (storage.region.empty()) storage.region = GetColumn(row, kRegion);
  storage.localeMask = LocaleMaskFromRegion(storage.region);
  if (uint32_t error = ReadKeyValue(GetColumn(row, kBuildConfig), storage.buildConfigKey)) {
    return error;
  }
  if (uint32_t error = ReadKeyValue(GetColumn(row, kCdnConfig), storage.cdnConfigKey)) {
    return error;
  }
  TakeBuildNumber(storage, GetColumn(row, kVersionsName));
  if (storage.buildConfigKey.empty() || storage.cdnConfigKey.empty()) return kErrorBadFormat;
  if (!storage.buildKeyOverride.empty()) {
    Key16 key;
    if (!ParseHexKey(storage.buildKeyOverride, key)) return kErrorBadFormat;
    storage.buildConfigKey = {key};
  }
  return kErrorSuccess;
}

uint32_t ApplyCdnsRow(TCascStorage& storage, const TableRow& row) {
  std::string_view hosts = GetColumn(row, kHosts);
  std::string_view path = GetColumn(row, kPath);
  if (hosts.empty() || path.empty()) return kErrorFileNotFound;
  storage.cdnHosts = hosts;
  storage.cdnPath = path;
  return kErrorSuccess;
}

uint32_t ParseVersionsTable(TCascStorage& storage, std::string_view text) {
  return ParseServiceTable(storage, text, kRegion, ApplyVersionsRow);
}

uint32_t ParseCdnsTable(TCascStorage& storage, std::string_view text) {
  return ParseServiceTable(storage, text, kCdnName, ApplyCdnsRow);
}

}  // namespace kestrine

// The build information of an installation: which build configuration and
// CDN configuration it runs, its locale and its content servers.
//
// ".build.info": a table with header (column names "Name!TYPE:size"); one row
// per installed product and branch, "Active!DEC:1" = "1" on the live ones.
//
//   COLUMN               USE
//   Active!DEC:1         "1" on the rows that can be chosen
//   Product!STRING:0     product code of a multi-product installation
//   Build Key!HEX:16     build configuration key (required)
//   CDN Key!HEX:16       CDN configuration key
//   Tags!STRING:0        words such as "enUS"; their locale codes give the mask
//   CDN Hosts!STRING:0   content server host names
//   CDN Path!STRING:0    path of the product on the content servers
//   Version!STRING:0     "a.b.c.build"; its largest number is the build number
//
// ".build.db": one line without header: build key | CDN key | tags.
//
// The patch service's "versions" and "cdns" tables (online storages) have a
// header too; one row is chosen by region and handed to its row handler.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/storage.h"
#include "storage/text_table.h"

namespace kestrine {

// OR of the locale bits of every four-character locale code ("enUS", "deDE",
// ... case-sensitive) found in the text.
uint32_t TagsToLocaleMask(std::string_view tags);

// Default locale mask of a two-letter region code ("cn", "eu", "kr", "tw";
// 0x2, enUS, for any other).
uint32_t LocaleMaskFromRegion(std::string_view region);

// Reads ".build.info", chooses the row (asking the open's ProductCallback
// when several products are active and none was named) and fills the build
// and CDN keys, locale mask, CDN hosts and path, build number and product
// code. 2 when no row qualifies, 11 on a malformed key or a missing build
// key, 1223 when the product choice is cancelled; a failed read passes its
// error number on.
[[nodiscard]] uint32_t LoadBuildInfo(TCascStorage& storage, const std::string& path);
[[nodiscard]] uint32_t ApplyBuildInfo(TCascStorage& storage, const TextTable& table);

// Reads ".build.db": the build key, CDN key (both required) and tags of its
// first row. 11 when the file cannot be read or a key is missing or malformed.
[[nodiscard]] uint32_t LoadBuildDb(TCascStorage& storage, const std::string& path);
[[nodiscard]] uint32_t ApplyBuildDb(TCascStorage& storage, const TextTable& table);

// Row choice of the "versions" ("Region!STRING:0") and "cdns"
// ("Name!STRING:0") tables: the first row whose key column equals `region`
// (when given), else the last "us" row, else the last "eu", else the last
// "xx", else the first row. Null for a table without rows.
const TableRow* ChooseRowByKey(const TextTable& table, std::string_view keyColumn,
                               std::string_view region);

// A "versions" row: region (when the storage has none), its locale mask, the
// build and CDN keys (both required, 11) and the build number; the storage's
// build-key override replaces the build key (11 when it is not a key).
[[nodiscard]] uint32_t ApplyVersionsRow(TCascStorage& storage, const TableRow& row);

// A "cdns" row: CDN hosts and path, 2 when either is missing.
[[nodiscard]] uint32_t ApplyCdnsRow(TCascStorage& storage, const TableRow& row);

// A whole "versions" / "cdns" table text: read with its header, row chosen by
// the storage's region, row handler applied. 11 without a header, 2 without
// rows.
[[nodiscard]] uint32_t ParseVersionsTable(TCascStorage& storage, std::string_view text);
[[nodiscard]] uint32_t ParseCdnsTable(TCascStorage& storage, std::string_view text);

}  // namespace kestrine

// The steps of the open that only online storages take: the patch service's
// "versions" and "cdns" tables, and the indexes of the remote data archives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrine {

struct TCascStorage;

// The patch service's default port, for an endpoint that names none.
inline constexpr uint16_t kPatchServicePort = 1119;

// The URL of a patch-service endpoint ("host[:port]", "http://host[:port]"
// or "ribbit://host[:port]", optionally with a path) with the port made
// explicit. Empty when `endpoint` names no host.
std::string PatchServiceUrl(std::string_view endpoint);

// Fetches the storage's "versions" table (named by the build file's name)
// and its "cdns" table from the patch service of the open arguments, and
// applies the chosen rows. 87 without an endpoint or a product code; the
// request's own error when a table does not arrive; 11 for a table outside
// 1 byte to 32 MiB; the row handlers' errors.
[[nodiscard]] uint32_t LoadServiceTables(TCascStorage& storage);

// Archive-index downloads running at once during the open (16 unless set;
// 1 fetches them one at a time).
void SetArchiveIndexFetchesInFlight(size_t count);
size_t ArchiveIndexFetchesInFlight();

// Reads the index of every archive of the CDN configuration's "archives"
// list, from the cache or the content servers, into the storage's remote
// archive map. Downloads overlap, but the outcome is that of reading them
// one by one in list order: progress stage 4 is reported per archive in
// that order, the records are appended in that order, the first archive
// in the list that fails decides the error, and a cancel stops the rest.
[[nodiscard]] uint32_t LoadArchiveIndexes(TCascStorage& storage);

}  // namespace kestrine

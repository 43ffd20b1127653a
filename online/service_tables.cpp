// The patch service answers, per product, a "versions" table (which build
// each region runs: the build and CDN configuration keys) and a "cdns"
// table (which content servers hold it, and below which path). Both are
// asked for on every open: they change with each release, unlike the files
// they name, which the cache keeps.
#include <cctype>

#include "kestrine.h"
#include "online/online_open.h"
#include "online/transfer.h"
#include "storage/build_info.h"
#include "storage/storage.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

constexpr std::string_view kVersionsName = "versions";
constexpr std::string_view kCdnsName = "cdns";

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// True when the host part ("host", "host:port", "[v6]" or "[v6]:port")
// carries a port.
bool HasPort(std::string_view hostPart) {
  if (!hostPart.empty() && hostPart.front() == '[') {
    size_t close = hostPart.find(']');
    return close != std::string_view::npos && close + 1 < hostPart.size() &&
           hostPart[close + 1] == ':';
  }
  return hostPart.find(':') != std::string_view::npos;
}

// The last component of the build file's path.
std::string_view FileName(std::string_view path) {
  size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// The "cdns" table that goes with a "versions" table of this name.
std::string CdnsTableName(std::string_view versionsName) {
  std::string_view stem = versionsName.substr(0, versionsName.size() - kVersionsName.size());
  return std::string(stem) + std::string(kCdnsName);
}

uint32_t FetchTable(const std::string& url, std::string& text) {
  MemorySink sink;
  if (uint32_t error = PerformRequest({url, std::nullopt}, sink)) return error;
  std::vector<uint8_t>& bytes = sink.bytes();
  if (bytes.empty() || bytes.size() > kMaxTableFileSize) return kErrorBadFormat;
  text.assign(bytes.begin(), bytes.end());
  return kErrorSuccess;
}

}  // namespace

std::string PatchServiceUrl(std::string_view endpoint) {
  std::string scheme = "http";
  if (StartsWithIgnoringCase(endpoint, "ribbit://")) {
    scheme = "ribbit";
    endpoint.remove_prefix(9);
  } else if (StartsWithIgnoringCase(endpoint, "http://")) {
    endpoint.remove_prefix(7);
  } else if (endpoint.find("://") != std::string_view::npos) {
    return {};
  }
  size_t slash = endpoint.find('/');
  std::string_view hostPart = endpoint.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? "" : endpoint.substr(slash);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  if (hostPart.empty()) return {};
  std::string url = scheme + "://" + std::string(hostPart);
  if (!HasPort(hostPart)) url += ":" + std::to_string(kPatchServicePort);
  return url + std::string(path);
}

uint32_t LoadServiceTables(TCascStorage& storage) {
  std::string base = PatchServiceUrl(storage.cdnHostArg);
  if (base.empty() || storage.productCode.empty()) return kErrorInvalidParameter;
  const std::string prefix = base + "/" + storage.productCode + "/";
  std::string_view versionsName = FileName(storage.buildFile);

  std::string text;
  if (uint32_t error = FetchTable(prefix + std::string(versionsName), text)) return error;
  if (uint32_t error = ParseVersionsTable(storage, text)) return error;
  if (uint32_t error = FetchTable(prefix + CdnsTableName(versionsName), text)) return error;
  return ParseCdnsTable(storage, text);
}

}  // namespace kestrine

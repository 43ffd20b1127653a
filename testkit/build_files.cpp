#include "testkit/build_files.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "common/md5.h"

namespace kestrine::testkit {

namespace fs = std::filesystem;

namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string JoinFields(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '|';
    line += fields[i];
  }
  return line;
}

}  // namespace

Key16 KeyFromSeed(uint32_t seed) {
  return ComputeMd5(Bytes("key " + std::to_string(seed)));
}

std::string KeyText(const Key16& key) {
  return FormatHexKey(key);
}

std::string FormatTable(const TableText& table) {
  std::vector<std::string> lines;
  if (!table.columns.empty()) lines.push_back(JoinFields(table.columns));
  for (const auto& row : table.rows) lines.push_back(JoinFields(row));
  const char* lineBreak = table.crlf ? "\r\n" : "\n";
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size() || table.finalLineBreak) text += lineBreak;
  }
  return text;
}

TableText BuildInfoTable(const std::vector<ProductRow>& products, bool productColumn) {
  TableText table;
  table.columns = {"Branch!STRING:0",   "Active!DEC:1",       "Build Key!HEX:16",
                   "CDN Key!HEX:16",    "Install Key!HEX:16", "IM Size!DEC:4",
                   "CDN Path!STRING:0", "CDN Hosts!STRING:0", "CDN Servers!STRING:0",
                   "Tags!STRING:0",     "Armadillo!STRING:0", "Last Activated!STRING:0",
                   "Version!STRING:0"};
  if (productColumn) table.columns.push_back("Product!STRING:0");
  for (const ProductRow& p : products) {
    std::vector<std::string> row = {p.branch,
                                    p.active ? "1" : "0",
                                    p.buildKey,
                                    p.cdnKey,
                                    "",
                                    "",
                                    p.cdnPath,
                                    p.cdnHosts,
                                    "http://" + p.cdnHosts.substr(0, p.cdnHosts.find(' ')),
                                    p.tags,
                                    "",
                                    "",
                                    p.version};
    if (productColumn) row.push_back(p.product);
    table.rows.push_back(std::move(row));
  }
  return table;
}

std::string BuildDbText(std::string_view buildKey, std::string_view cdnKey, std::string_view tags) {
  return std::string(buildKey) + "|" + std::string(cdnKey) + "|" + std::string(tags) + "\n";
}

std::string ConfigText(std::string_view title, const ConfigValues& values) {
  std::string text = "# " + std::string(title) + "\n\n";
  for (const auto& [key, value] : values) text += key + " = " + value + "\n";
  return text;
}

std::string BuildConfigText(const ConfigValues& values) {
  return ConfigText("Build Configuration", values);
}

std::string CdnConfigText(const ConfigValues& values) {
  return ConfigText("CDN Configuration", values);
}

void WriteTextFile(const fs::path& path, std::string_view content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

fs::path ConfigFilePath(const fs::path& base, const Key16& key) {
  std::string hex = FormatHexKey(key);
  return base / "config" / hex.substr(0, 2) / hex.substr(2, 2) / hex;
}

Key16 StoreConfigFile(const fs::path& base, std::string_view content) {
  Key16 key = ComputeMd5(Bytes(content));
  WriteTextFile(ConfigFilePath(base, key), content);
  return key;
}

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "kestrine-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace kestrine::testkit

// Writers of an installation's build files from a description: ".build.info"
// and ".build.db" tables, build and CDN configuration texts, and
// configuration files stored under "<base>/config/ab/cd/<key>" by their MD5.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/hex_key.h"

namespace kestrine::testkit {

// A distinct, reproducible key per seed (the MD5 of the seed's text).
Key16 KeyFromSeed(uint32_t seed);
std::string KeyText(const Key16& key);

// Any table of the ".build.info" kind: header names and rows of fields.
struct TableText {
  std::vector<std::string> columns;  // empty: no header line
  std::vector<std::vector<std::string>> rows;
  bool crlf = false;
  bool finalLineBreak = true;
};
std::string FormatTable(const TableText& table);

// One product of an installation, as a ".build.info" row.
struct ProductRow {
  std::string branch = "us";
  bool active = true;
  std::string buildKey;  // 32 hex digits
  std::string cdnKey;
  std::string cdnPath = "tpr/test";
  std::string cdnHosts = "cdn1.example.net cdn2.example.net";
  std::string tags = "Windows x86_64 US? enUS speech?:Windows x86_64 US? enUS text?";
  std::string version = "1.2.3.45678";
  std::string product;  // written only when the table has a product column
};

// The columns of a current ".build.info", with "Product!STRING:0" last when
// `productColumn`.
TableText BuildInfoTable(const std::vector<ProductRow>& products, bool productColumn = true);

// ".build.db": "build key|CDN key|tags".
std::string BuildDbText(std::string_view buildKey, std::string_view cdnKey, std::string_view tags);

// "# <title>", a blank line, then "key = value" lines.
using ConfigValues = std::vector<std::pair<std::string, std::string>>;
std::string ConfigText(std::string_view title, const ConfigValues& values);
std::string BuildConfigText(const ConfigValues& values);
std::string CdnConfigText(const ConfigValues& values);

// Writes `content` to `path`, creating the folders above it.
void WriteTextFile(const std::filesystem::path& path, std::string_view content);

// Stores a configuration file as "<base>/config/ab/cd/<key>", named by the
// MD5 of its content, which is returned.
Key16 StoreConfigFile(const std::filesystem::path& base, std::string_view content);
std::filesystem::path ConfigFilePath(const std::filesystem::path& base, const Key16& key);

// A fresh folder under the temporary directory, removed with its content.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrine::testkit

#include "testkit/config_tvfs.h"

#include <utility>

namespace kestrine::testkit {

namespace {
constexpr uint32_t kFileArchive = 1;
}

TvfsSpan SpanOf(const ConfigFile& file) {
  return {file.ekey, static_cast<uint32_t>(file.content.size()), file.encodedSize};
}

ConfigTvfsGame::ConfigTvfsGame(ConfigFileForm rootForm) {
  layout_.kind = BUILD_CONFIG;
  layout_.rootForm = rootForm;
  root_.ekeySize = 16;
}

ConfigFile ConfigTvfsGame::Store(const std::string& key, std::vector<uint8_t> content,
                                 ConfigFileForm form) {
  ConfigFileLayout file{key, std::move(content), form, kFileArchive};
  ConfigFile written = archives_.Add(file);
  layout_.configFiles.push_back(std::move(file));
  return written;
}

ConfigFile ConfigTvfsGame::Add(const std::string& name, std::vector<uint8_t> content,
                               ConfigFileForm form) {
  ConfigFile file = AddUnnamed(std::move(content), form);
  root_.files.push_back({name, {SpanOf(file)}});
  return file;
}

ConfigFile ConfigTvfsGame::AddUnnamed(std::vector<uint8_t> content, ConfigFileForm form) {
  return Store("vfs-" + std::to_string(nextKey_++), std::move(content), form);
}

void ConfigTvfsGame::AddSpanned(const std::string& name, const std::vector<ConfigFile>& spans) {
  TvfsFile file{name, {}};
  for (const ConfigFile& span : spans) file.spans.push_back(SpanOf(span));
  root_.files.push_back(std::move(file));
}

ConfigFile ConfigTvfsGame::AddRootManifest(std::vector<uint8_t> content, const std::string& name,
                                           ConfigFileForm form) {
  ConfigFile file = Store("root", std::move(content), form);
  if (!name.empty()) root_.files.push_back({name, {SpanOf(file)}});
  return file;
}

Installation ConfigTvfsGame::Write(const std::filesystem::path& path) {
  layout_.rootFile = WriteTvfs(root_);
  return WriteInstallation(path, layout_);
}

}  // namespace kestrine::testkit

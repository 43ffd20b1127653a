#include "testkit/config_tvfs.h"

#include <utility>

namespace kestrine::testkit {

namespace {
constexpr uint32_t kFileArchive = 1;
}

ConfigTvfsGame::ConfigTvfsGame(ConfigFileForm rootForm) {
  layout_.kind = BUILD_CONFIG;
  layout_.rootForm = rootForm;
  root_.ekeySize = 16;
}

ConfigFile ConfigTvfsGame::Store(const std::string& key, std::vector<uint8_t> content,
                                 ConfigFileForm form) {
  ConfigFileSpec spec{key, std::move(content), form, kFileArchive};
  ConfigFile file = archives_.Add(spec);
  layout_.configFiles.push_back(std::move(spec));
  return file;
}

ConfigFile ConfigTvfsGame::Add(const std::string& name, std::vector<uint8_t> content,
                               ConfigFileForm form) {
  ConfigFile file = Store("vfs-" + std::to_string(nextKey_++), std::move(content), form);
  Name(name, file);
  return file;
}

ConfigFile ConfigTvfsGame::AddRootManifest(std::vector<uint8_t> content, const std::string& name,
                                           ConfigFileForm form) {
  ConfigFile file = Store("root", std::move(content), form);
  if (!name.empty()) Name(name, file);
  return file;
}

void ConfigTvfsGame::Name(const std::string& name, const ConfigFile& file) {
  root_.files.push_back(
      {name, {{file.ekey, static_cast<uint32_t>(file.content.size()), file.encodedSize}}});
}

Installation ConfigTvfsGame::Write(const std::filesystem::path& path) {
  layout_.rootFile = WriteTvfs(root_);
  return WriteInstallation(path, layout_);
}

}  // namespace kestrine::testkit

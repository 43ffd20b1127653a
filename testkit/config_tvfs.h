// Installations marked by "data\.build.config" whose root is TVFS: every
// file is stored in archive 1 under a "vfs-N" key of the build
// configuration, and the root names it by the EKey that locates it. The
// root itself goes to archive 0, so that its size moves no other file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "testkit/config_archives.h"
#include "testkit/installation.h"
#include "testkit/tvfs.h"

namespace kestrine::testkit {

// The span that names a stored file.
TvfsSpan SpanOf(const ConfigFile& file);

class ConfigTvfsGame {
 public:
  explicit ConfigTvfsGame(ConfigFileForm rootForm = ConfigFileForm::kBlte);

  // Stores `content` and names it `name` in the root; returns it as stored.
  ConfigFile Add(const std::string& name, std::vector<uint8_t> content,
                 ConfigFileForm form = ConfigFileForm::kBlteBehindHeader);
  // Stores `content` without naming it in the root (a span, or a file of a
  // nested directory).
  ConfigFile AddUnnamed(std::vector<uint8_t> content,
                        ConfigFileForm form = ConfigFileForm::kBlteBehindHeader);
  // Names a file of one span per stored file.
  void AddSpanned(const std::string& name, const std::vector<ConfigFile>& spans);
  // Stores `content` as the file of the "root" key (the ROOT manifest) and
  // names it `name` in the root, unless `name` is empty.
  ConfigFile AddRootManifest(std::vector<uint8_t> content, const std::string& name = "index",
                             ConfigFileForm form = ConfigFileForm::kBlteBehindHeader);

  Installation Write(const std::filesystem::path& path);

 private:
  ConfigFile Store(const std::string& key, std::vector<uint8_t> content, ConfigFileForm form);

  InstallationPlan layout_;
  TvfsRoot root_;
  ConfigArchiveWriter archives_;  // the same writes the installation makes
  uint32_t nextKey_ = 1;
};

}  // namespace kestrine::testkit

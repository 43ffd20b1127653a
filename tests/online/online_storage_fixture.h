// An online storage for the tests: named files written both as a local
// installation and as a CDN tree that a loopback HTTP server serves as patch
// service and content server at once.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testkit/blte.h"
#include "testkit/cdn_tree.h"
#include "testkit/demo_installation.h"
#include "testkit/installation.h"
#include "testkit/roots.h"
#include "tests/online/loopback_server.h"
#include "tests/storage/opened_storage.h"

namespace kestrine::test {

namespace fs = std::filesystem;
using testkit::StoredFile;

inline constexpr size_t kOnlineFileCount = 10;

// Requests of the server's log other than those for the patch-service
// tables: what reached the content server.
inline std::vector<std::string> ContentRequests(const LoopbackServer& server) {
  std::vector<std::string> lines;
  for (const std::string& line : server.Requests()) {
    if (line.find("/versions") == std::string::npos && line.find("/cdns") == std::string::npos) {
      lines.push_back(line);
    }
  }
  return lines;
}

// Every file below `folder` (names only), temporary files included.
inline std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A storage of named files, written as a local installation and as a CDN
// tree that a loopback HTTP server serves as patch service and content
// server at once.
class OnlineStorageFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < kOnlineFileCount; ++i) {
      const uint32_t seed = static_cast<uint32_t>(i + 1);
      StoredFile file = testkit::EncodeDemoContent(testkit::DataLikeBytes(1000 + 7000 * i, seed),
                                                   i % 3 == 0, seed);
      const std::string name = "Folder\\File" + std::to_string(i) + ".dat";
      testkit::AddNamedFile(layout_, root_, name, file);
      files_[name] = std::move(file);
    }
    layout_.rootFile = testkit::WritePlainTextRoot(root_);
    layout_.cdn.filesPerArchive = 3;
    // One file lies loose on the content server instead of in an archive.
    layout_.cdn.looseFiles = {files_.begin()->second.ekey};
  }

  // Writes both forms; the content server's address goes into the "cdns"
  // table (and, for the fallback, into ".build.info").
  void WriteStorage(const std::string& folder = "cdn") {
    server_.emplace("cdn_server.py", std::vector<std::string>{"--root", Path(folder)});
    layout_.cdn.hosts = server_->HostPort();
    layout_.products[0].cdnHosts = server_->HostPort();
    layout_.products[0].cdnPath = layout_.cdn.path;
    local_ = testkit::WriteInstallation(temp_.path() / "local", layout_);
    tree_ = testkit::WriteCdnTree(temp_.path() / folder, layout_);
  }

  std::string Path(const std::string& name) const { return temp_ / name; }

  // "CACHE*SERVICE*kestest", the cache folder made with its "versions" file.
  std::string OnlineParameters(const std::string& service, const std::string& cache = "cache") {
    fs::create_directories(temp_.path() / cache);
    testkit::WriteTextFile(temp_.path() / cache / "versions", "");
    return Path(cache) + "*" + service + "*" + layout_.cdn.product;
  }
  std::string OnlineParameters() { return OnlineParameters(server_->HostPort()); }

  void ExpectEveryFile(const OpenedStorage& storage) {
    for (const auto& [name, file] : files_) EXPECT_EQ(storage.Read(name), file.content) << name;
  }

  testkit::TempFolder temp_;
  testkit::InstallationPlan layout_;
  testkit::PlainTextRoot root_;
  std::map<std::string, StoredFile> files_;
  std::optional<LoopbackServer> server_;
  testkit::Installation local_;
  testkit::CdnTree tree_;
};

}  // namespace kestrine::test

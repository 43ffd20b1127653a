// Online storages opened from a cache folder, their patch service and their
// content server both real loopback servers: the same files as the storage
// installed locally, a second open that asks the content server for nothing,
// pieces of archives fetched by range, the errors of the open, downloads cut
// short, and the online fallback of a local installation.
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/hex_key.h"
#include "kestrine.h"
#include "online/online_open.h"
#include "testkit/cdn_tree.h"
#include "testkit/demo_installation.h"
#include "testkit/installation.h"
#include "testkit/roots.h"
#include "tests/online/online_storage_fixture.h"
#include "tests/online/transfer_helpers.h"
#include "tests/storage/opened_storage.h"

namespace kestrine::test {
namespace {

class OnlineStorageTest : public OnlineStorageFixture {};

TEST_F(OnlineStorageTest, OpensFromAnEmptyCacheWithTheFilesOfTheLocalInstallation) {
  WriteStorage();
  OpenedStorage online(OnlineParameters());
  ASSERT_NE(online.get(), nullptr) << online.error();
  OpenedStorage local(local_.root);
  ASSERT_NE(local.get(), nullptr);
  EXPECT_EQ(online.SearchNames(), local.SearchNames());
  ExpectEveryFile(online);

  // Archived files came as pieces: range requests, never a whole archive.
  for (const testkit::CdnArchiveFile& archive : tree_.archives) {
    for (const std::string& line : ContentRequests(*server_)) {
      if (line.find(archive.dataUrlPath + " ") != std::string::npos) {
        EXPECT_EQ(line.find(" -"), std::string::npos) << line;
      }
    }
  }
}

TEST_F(OnlineStorageTest, SecondOpenReadsEveryFileFromTheCache) {
  WriteStorage();
  {
    OpenedStorage first(OnlineParameters());
    ASSERT_NE(first.get(), nullptr) << first.error();
    ExpectEveryFile(first);
  }
  server_->ClearRequests();
  OpenedStorage second(OnlineParameters());
  ASSERT_NE(second.get(), nullptr) << second.error();
  ExpectEveryFile(second);
  EXPECT_EQ(ContentRequests(*server_), std::vector<std::string>{});
  // The tables are asked for on every open.
  EXPECT_EQ(server_->Requests().size(), 2u);
}

TEST_F(OnlineStorageTest, RibbitPatchServiceGivesTheSameStorage) {
  WriteStorage();
  LoopbackServer ribbit("ribbit_server.py", {"--root", tree_.ribbitRoot.string()});
  OpenedStorage online(OnlineParameters(ribbit.Url("ribbit")));
  ASSERT_NE(online.get(), nullptr) << online.error();
  ExpectEveryFile(online);
  EXPECT_EQ(ribbit.Requests().size(), 2u);
}

TEST_F(OnlineStorageTest, OpenNeedsAServiceAndAProduct) {
  WriteStorage();
  fs::create_directories(temp_.path() / "cache");
  testkit::WriteTextFile(temp_.path() / "cache" / "versions", "");
  EXPECT_EQ(OpenedStorage(Path("cache")).error(), kErrorInvalidParameter);
  EXPECT_EQ(OpenedStorage(Path("cache") + "*" + server_->HostPort()).error(),
            kErrorInvalidParameter);
  EXPECT_EQ(OpenedStorage(Path("cache") + "*ftp://x.example*kestest").error(),
            kErrorInvalidParameter);
}

// The patch service's failures end the open with the request's own number.
TEST_F(OnlineStorageTest, PatchServiceFailuresEndTheOpen) {
  WriteStorage();
  EXPECT_EQ(OpenedStorage(OnlineParameters(server_->HostPort()) + "x").error(), kErrorFileNotFound);
  EXPECT_EQ(OpenedStorage(OnlineParameters("127.0.0.1:" + std::to_string(UnusedPort()))).error(),
            kErrorNetworkUnreachable);

  // A Ribbit service that answers a document, but not a MIME one.
  testkit::WriteTextFile(temp_.path() / "answers" / "kestest" / "versions",
                         "Content-Type: text/plain\r\n\r\n" + tree_.versionsTable + "\r\n");
  LoopbackServer scripted("scripted_server.py", {"--answers", Path("answers")});
  EXPECT_EQ(OpenedStorage(OnlineParameters(scripted.Url("ribbit", "/answer"))).error(),
            kErrorNotSupported);
  EXPECT_EQ(OpenedStorage(OnlineParameters(scripted.Url("http", "/close-plain"))).error(),
            kErrorBadFormat);
  ScopedTimeouts timeouts({2000, 1000});
  int64_t elapsed = MillisecondsOf([&] {
    EXPECT_EQ(OpenedStorage(OnlineParameters(scripted.Url("http", "/silent"))).error(),
              kErrorNetworkUnreachable);
  });
  EXPECT_LT(elapsed, 5000);
}

TEST_F(OnlineStorageTest, DownloadCutShortLeavesNoFileUnderItsName) {
  tree_ = testkit::WriteCdnTree(temp_.path() / "cdn", layout_);
  const std::string encodingName = FormatHexKey(tree_.encodingFile->ekey);
  server_.emplace("cdn_server.py",
                  std::vector<std::string>{"--root", Path("cdn"), "--cut", encodingName});
  testkit::SetCdnHosts(tree_, server_->HostPort());

  OpenedStorage online(OnlineParameters());
  EXPECT_EQ(online.get(), nullptr);
  EXPECT_EQ(online.error(), kErrorFileNotFound);
  std::vector<std::string> cached = FilesBelow(temp_.path() / "cache");
  EXPECT_EQ(std::count(cached.begin(), cached.end(), encodingName), 0);
  for (const std::string& name : cached)
    EXPECT_EQ(name.find(".kestrine-"), std::string::npos) << name;
}

// Archive indexes are fetched side by side but judged in list order.
TEST_F(OnlineStorageTest, FirstFailingArchiveInListOrderDecides) {
  layout_.cdn.minimumArchives = 40;
  layout_.cdn.faults.missingArchiveIndexes = {30};
  layout_.cdn.faults.badIndexChecksums = {7};
  WriteStorage();
  EXPECT_EQ(OpenedStorage(OnlineParameters(server_->HostPort(), "a")).error(), kErrorBadFormat);

  layout_.cdn.faults.missingArchiveIndexes = {7};
  layout_.cdn.faults.badIndexChecksums = {30};
  server_.reset();
  WriteStorage("cdn2");
  EXPECT_EQ(OpenedStorage(OnlineParameters(server_->HostPort(), "b")).error(), kErrorFileNotFound);
}

TEST_F(OnlineStorageTest, ProgressReportsEveryArchiveInOrderAndCancelStopsTheOpen) {
  layout_.cdn.minimumArchives = 30;
  WriteStorage();
  struct Seen {
    std::vector<uint32_t> archives;
    uint32_t cancelAt = ~0u;
  } seen;
  StorageOpenArgs args{};
  args.size = sizeof args;
  args.progressContext = &seen;
  args.progressCallback = [](void* context, uint32_t stage, const char*, uint32_t current,
                             uint32_t total) {
    auto* state = static_cast<Seen*>(context);
    if (stage != 4) return false;
    EXPECT_EQ(total, 30u);
    state->archives.push_back(current);
    return current == state->cancelAt;
  };
  const std::string parameters = OnlineParameters();
  StorageHandle handle = OpenStorage(parameters.c_str(), &args);
  ASSERT_NE(handle, nullptr) << GetCascError();
  CloseStorage(handle);
  std::vector<uint32_t> inOrder(30);
  for (uint32_t i = 0; i < 30; ++i) inOrder[i] = i;
  EXPECT_EQ(seen.archives, inOrder);

  seen = {};
  seen.cancelAt = 12;
  fs::remove_all(temp_.path() / "cache");
  const std::string fresh = OnlineParameters();
  EXPECT_EQ(OpenStorage(fresh.c_str(), &args), nullptr);
  EXPECT_EQ(GetCascError(), kErrorCancelled);
  EXPECT_EQ(seen.archives.back(), 12u);
}

TEST_F(OnlineStorageTest, OneAtATimeGivesTheSameStorage) {
  layout_.cdn.minimumArchives = 12;
  WriteStorage();
  SetArchiveIndexFetchesInFlight(1);
  OpenedStorage online(OnlineParameters());
  SetArchiveIndexFetchesInFlight(16);
  ASSERT_NE(online.get(), nullptr) << online.error();
  ExpectEveryFile(online);
}

// A local installation whose ENCODING manifest is not in its archives opens
// only when asked to fetch it from the content servers of its build info.
TEST_F(OnlineStorageTest, LocalInstallationFetchesAMissingManifestWhenAsked) {
  server_.emplace("cdn_server.py", std::vector<std::string>{"--root", Path("cdn")});
  layout_.cdn.hosts = server_->HostPort();
  layout_.products[0].cdnHosts = server_->HostPort();
  layout_.products[0].cdnPath = layout_.cdn.path;
  tree_ = testkit::WriteCdnTree(temp_.path() / "cdn", layout_);
  layout_.storeEncoding = false;
  local_ = testkit::WriteInstallation(temp_.path() / "local", layout_);

  EXPECT_EQ(OpenedStorage(local_.root).error(), kErrorFileNotFound);
  EXPECT_TRUE(ContentRequests(*server_).empty());
  OpenedStorage fallback(local_.root, STF_ONLINE_FALLBACK);
  ASSERT_NE(fallback.get(), nullptr) << fallback.error();
  ExpectEveryFile(fallback);
  EXPECT_FALSE(ContentRequests(*server_).empty());
}

}  // namespace
}  // namespace kestrine::test

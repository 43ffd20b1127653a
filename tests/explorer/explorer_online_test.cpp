// kestrine-casc --online against loopback servers: a fresh cache folder is
// made and filled, list and cat print what they print for the same storage
// installed locally, a second run asks the content server for nothing, a
// Ribbit patch service works alike, and --online-fallback completes a local
// installation that lacks its ENCODING manifest.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/explorer/explorer_fixture.h"
#include "tests/explorer/explorer_process.h"
#include "tests/online/online_storage_fixture.h"

namespace kestrine::test {
namespace {

class ExplorerOnlineTest : public OnlineStorageFixture {
 protected:
  ExplorerRun Run(const std::vector<std::string>& args) { return RunExplorer(args, temp_.path()); }

  // "CACHE*SERVICE*kestest" without making the cache: the explorer does.
  std::string FreshCache(const std::string& service, const std::string& cache = "new/cache") {
    return Path(cache) + "*" + service + "*" + layout_.cdn.product;
  }

  // list and cat of every file, as one text.
  std::string ListAndCat(const std::vector<std::string>& options, const std::string& storage) {
    std::vector<std::string> args{"list"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(storage);
    ExplorerRun list = Run(args);
    EXPECT_EQ(list.exitCode, 0) << list.err;
    std::string text = list.out;
    for (const auto& [name, file] : files_) {
      args[0] = "cat";
      args.push_back(name);
      ExplorerRun cat = Run(args);
      args.pop_back();
      EXPECT_EQ(cat.exitCode, 0) << name << ": " << cat.err;
      EXPECT_EQ(cat.out, Text(file.content)) << name;
      text += cat.out;
    }
    return text;
  }
};

TEST_F(ExplorerOnlineTest, FreshCacheGivesTheLocalInstallationsListAndFiles) {
  WriteStorage();
  const std::string local = ListAndCat({}, local_.root.string());
  const std::string storage = FreshCache(server_->HostPort());
  EXPECT_EQ(ListAndCat({"--online"}, storage), local);
  EXPECT_TRUE(fs::is_regular_file(temp_.path() / "new" / "cache" / "versions"));

  // Everything is in the cache now: the content server is not asked again.
  server_->ClearRequests();
  EXPECT_EQ(ListAndCat({"--online"}, storage), local);
  EXPECT_EQ(ContentRequests(*server_), std::vector<std::string>{});
}

TEST_F(ExplorerOnlineTest, RibbitPatchServiceGivesTheSameOutput) {
  WriteStorage();
  LoopbackServer ribbit("ribbit_server.py", {"--root", tree_.ribbitRoot.string()});
  const std::string local = ListAndCat({}, local_.root.string());
  EXPECT_EQ(ListAndCat({"--online"}, FreshCache(ribbit.Url("ribbit"))), local);
}

TEST_F(ExplorerOnlineTest, InfoSaysOnlineAndWhereTheCacheIs) {
  WriteStorage();
  ExplorerRun info = Run({"info", "--online", FreshCache("http://" + server_->HostPort())});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("build file kind: versions\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("product: kestest\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("region: us\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("online: yes\ncache: " + Path("new/cache") + "\n"), std::string::npos)
      << info.out;

  ExplorerRun local = Run({"info", local_.root.string()});
  EXPECT_EQ(local.out.find("cache:"), std::string::npos);
}

TEST_F(ExplorerOnlineTest, FailuresNameTheStorageAndTheError) {
  WriteStorage();
  const std::string unknownProduct = Path("c") + "*" + server_->HostPort() + "*nosuch";
  ExplorerRun run = Run({"list", "--online", unknownProduct});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "kestrine-casc: cannot open " + unknownProduct + ", error 2\n");

  // A cache folder that cannot be made.
  testkit::WriteTextFile(temp_.path() / "file", "x");
  run = Run({"list", "--online", Path("file/cache") + "*" + server_->HostPort() + "*kestest"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err.rfind("kestrine-casc: cannot prepare the cache folder ", 0), 0u) << run.err;
}

TEST_F(ExplorerOnlineTest, OnlineFallbackCompletesALocalInstallation) {
  WriteStorage();
  const std::string complete = ListAndCat({}, local_.root.string());
  layout_.storeEncoding = false;
  testkit::Installation partial = testkit::WriteInstallation(temp_.path() / "partial", layout_);

  ExplorerRun refused = Run({"list", partial.root.string()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err, "kestrine-casc: cannot open " + partial.root.string() + ", error 2\n");
  EXPECT_EQ(ListAndCat({"--online-fallback"}, partial.root.string()), complete);
}

}  // namespace
}  // namespace kestrine::test

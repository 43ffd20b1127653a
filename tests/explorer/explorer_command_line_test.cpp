// kestrine-casc's command line: help, version, usage errors and the open
// failure line, exactly as scripts will read them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrine.h"
#include "tests/explorer/explorer_fixture.h"
#include "tool/explorer/command_line.h"

namespace kestrine::test {
namespace {

TEST_F(ExplorerTest, HelpAndVersionGoToStandardOutput) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"list", "--help"}}) {
    const ExplorerRun run = Run(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("kestrine-casc: look inside a CASC game storage.\n", 0), 0u);
    EXPECT_NE(run.out.find("--keys FILE"), std::string::npos);
    EXPECT_EQ(run.err, "");
  }
  const ExplorerRun run = Run({"--version"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out.rfind("kestrine-casc ", 0), 0u);
  EXPECT_EQ(run.err, "");
}

TEST_F(ExplorerTest, UsageErrorsExitWithTwoAndTheUsage) {
  testkit::WriteTextFile(Path("bad-keys.txt"), "0000000000000001 00\n");
  const std::vector<std::vector<std::string>> usageErrors = {
      {},
      {"frobnicate", "storage"},
      {"list"},
      {"list", "storage", "mask", "extra"},
      {"cat", "storage"},
      {"cat", "storage", "name", "extra"},
      {"extract", "storage", "mask"},
      {"info"},
      {"info", "storage", "extra"},
      {"list", "storage", "--bogus"},
      {"list", "storage", "--locale"},
      {"list", "storage", "--locale", "xxYY"},
      {"list", "storage", "--locale", "0x"},
      {"list", "storage", "--key", "0000000000000001"},
      {"list", "storage", "--key", "1=000102030405060708090A0B0C0D0E0F"},
      {"list", "storage", "--keys", Path("bad-keys.txt")},
      {"list", "storage", "--keys", Path("missing-keys.txt")},
  };
  for (const std::vector<std::string>& args : usageErrors) {
    std::string shown;
    for (const std::string& arg : args) shown += arg + " ";
    const ExplorerRun run = Run(args);
    EXPECT_EQ(run.exitCode, 2) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_EQ(run.err.rfind("kestrine-casc: ", 0), 0u) << shown << run.err;
    ASSERT_GE(run.err.size(), std::string(explorer::kUsage).size()) << shown;
    EXPECT_TRUE(run.err.ends_with(explorer::kUsage)) << shown << run.err;
  }
}

// The line names the storage as given and the open's own error number.
TEST_F(ExplorerTest, OpenFailuresNameTheStorageAndTheError) {
  testkit::WriteTextFile(Path("not-a-build-file"), "hello\n");
  for (const std::string& storage :
       {Path("missing"), Path("not-a-build-file"), std::string(""), Path("") + "*product"}) {
    StorageOpenArgs args{};
    args.size = sizeof args;
    ASSERT_EQ(OpenStorage(storage.c_str(), &args), nullptr);
    const uint32_t error = GetCascError();
    for (const char* command : {"list", "info"}) {
      const ExplorerRun run = Run({command, storage});
      EXPECT_EQ(run.exitCode, 1) << storage;
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, "kestrine-casc: cannot open " + storage + ", error " +
                             std::to_string(error) + "\n");
    }
    const ExplorerRun cat = Run({"cat", storage, "x"});
    EXPECT_EQ(cat.exitCode, 1);
    EXPECT_EQ(cat.err.rfind("kestrine-casc: cannot open " + storage + ", error ", 0), 0u);
  }
}

}  // namespace
}  // namespace kestrine::test

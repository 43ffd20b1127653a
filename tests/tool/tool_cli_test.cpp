// The kestrine executable itself: exact output, exit codes, files touched.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ToolCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrine-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    workDir_ = pattern;
    fs::create_directory(workDir_ / "cwd");
  }
  void TearDown() override { fs::remove_all(workDir_); }

  // Runs the tool with `args` in an empty working directory.
  ToolRun Run(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string outPath = (workDir_ / "stdout").string();
    std::string errPath = (workDir_ / "stderr").string();
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::string cwd = (workDir_ / "cwd").string();
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    std::vector<char*> argv{const_cast<char*>(KESTRINE_TOOL_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    ToolRun run;
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, KESTRINE_TOOL_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadAll(outPath);
    run.err = ReadAll(errPath);
    return run;
  }

  bool WorkingDirectoryIsEmpty() const { return fs::is_empty(workDir_ / "cwd"); }

  fs::path workDir_;
};

TEST_F(ToolCliTest, WrongArgumentCountPrintsOnlyTheUsageLine) {
  const std::vector<std::vector<std::string>> argumentLists = {
      {}, {"install"}, {"install", "out.bin", "extra"}, {"a", "b", "c", "d"}};
  for (const auto& args : argumentLists) {
    ToolRun run = Run(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Usage: kestrine INSTALL_DIRECTORY OUTPUT_BUNDLE\n");
    EXPECT_TRUE(WorkingDirectoryIsEmpty());
  }
}

TEST_F(ToolCliTest, EmptyInstallDirectoryIsAnInvalidParameter) {
  ToolRun run = Run({"", "out.bin"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "Asset import failed: Cannot open local CASC storage (finish Lumengate installation "
            "first), error 87\n");
  EXPECT_TRUE(WorkingDirectoryIsEmpty());
}

TEST_F(ToolCliTest, UnopenableInstallationLeavesAnExistingBundleAlone) {
  std::ofstream(workDir_ / "cwd" / "out.bin") << "previous bundle";
  ToolRun run = Run({(workDir_ / "no-such-installation").string(), "out.bin"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.starts_with(
      "Asset import failed: Cannot open local CASC storage (finish Lumengate installation first), "
      "error "))
      << run.err;
  EXPECT_EQ(ReadAll(workDir_ / "cwd" / "out.bin"), "previous bundle");
  EXPECT_EQ(std::distance(fs::directory_iterator(workDir_ / "cwd"), fs::directory_iterator()), 1);
}

}  // namespace

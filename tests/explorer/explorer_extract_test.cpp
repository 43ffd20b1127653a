// kestrine-casc extract: files land below the output folder and nowhere
// else, failed files leave nothing behind, and the progress bar shows on a
// terminal only.
#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/demo_installation.h"
#include "testkit/installation.h"
#include "testkit/roots.h"
#include "tests/explorer/explorer_fixture.h"

namespace kestrine::test {
namespace {

namespace fs = std::filesystem;
using testkit::StoredFile;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every regular file and link below `folder`, relative to it.
std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_directory() || entry.is_symlink()) {
      files.push_back(fs::relative(entry.path(), folder).string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Summary(size_t files, uint64_t bytes) {
  char line[64];
  std::snprintf(line, sizeof line, "Extracted %zu files, %.1f MiB\n", files,
                bytes / (1024.0 * 1024.0));
  return line;
}

// A storage whose plain-text root names what it is given.
class NamedGame {
 public:
  const StoredFile& Add(const std::string& name, StoredFile file) {
    testkit::AddNamedFile(layout_, root_, name, file);
    files_.push_back(std::move(file));
    return files_.back();
  }
  const StoredFile& Add(const std::string& name, size_t size) {
    const uint32_t seed = seed_++;
    return Add(name, testkit::EncodeDemoContent(testkit::DataLikeBytes(size, seed), false, seed));
  }
  testkit::Installation Write(const fs::path& path) {
    layout_.rootFile = testkit::WritePlainTextRoot(root_);
    return testkit::WriteInstallation(path, layout_);
  }

 private:
  testkit::InstallationPlan layout_;
  testkit::PlainTextRoot root_;
  std::deque<StoredFile> files_;  // references to its elements stay valid
  uint32_t seed_ = 1;
};

class ExplorerExtractTest : public ExplorerTest {
 protected:
  // The manifests every storage holds and `extract "*"` writes too.
  uint64_t ManifestBytes(const testkit::Installation& installation) const {
    return installation.encodingFile->content.size() + installation.rootFile->content.size();
  }
};

TEST_F(ExplorerExtractTest, WritesEveryMatchBelowTheOutputFolder) {
  NamedGame game;
  const StoredFile& marine = game.Add("SD\\Unit\\Marine.grp", 9000);
  const StoredFile& title = game.Add("SD\\Music\\Title.ogg", 300000);
  const StoredFile& readme = game.Add("Readme.txt", 0);
  const testkit::Installation installation = game.Write(Path("game"));
  const fs::path out = Path("out");

  const ExplorerRun run = Run({"extract", installation.root.string(), "SD\\*", out.string()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, Summary(2, 309000));
  EXPECT_EQ(FilesBelow(out),
            (std::vector<std::string>{"SD/Music/Title.ogg", "SD/Unit/Marine.grp"}));
  EXPECT_EQ(ReadFile(out / "SD/Unit/Marine.grp"), Text(marine.content));
  EXPECT_EQ(ReadFile(out / "SD/Music/Title.ogg"), Text(title.content));

  // Everything, into the same folder: files already there are replaced.
  const ExplorerRun all = Run({"extract", installation.root.string(), "*", out.string()});
  EXPECT_EQ(all.exitCode, 0) << all.err;
  EXPECT_EQ(all.out, Summary(5, 309000 + readme.content.size() + ManifestBytes(installation)));
  EXPECT_EQ(FilesBelow(out),
            (std::vector<std::string>{"ENCODING", "ROOT", "Readme.txt", "SD/Music/Title.ogg",
                                      "SD/Unit/Marine.grp"}));
}

TEST_F(ExplorerExtractTest, NamesLeadingOutsideAreRefusedAndNothingLandsThere) {
  NamedGame game;
  const std::string escapee = (temp_.path() / "escaped.bin").string();
  for (const std::string& name :
       {std::string("..\\..\\x"), escapee, std::string("a/../../y"), std::string("C:\\z")}) {
    game.Add(name, 100);
  }
  game.Add("good\\file.txt", 50);
  const testkit::Installation installation = game.Write(Path("game"));
  const fs::path out = temp_.path() / "one" / "two" / "out";

  const ExplorerRun run = Run({"extract", installation.root.string(), "*", out.string()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, Summary(3, 50 + ManifestBytes(installation)));
  // The storage lists the names with "\\" between folders.
  for (std::string name :
       {std::string("..\\..\\x"), escapee, std::string("a/../../y"), std::string("C:\\z")}) {
    std::replace(name.begin(), name.end(), '/', '\\');
    const std::string line =
        "kestrine-casc: refused " + name + ", error 87: the name leads outside the output folder\n";
    EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
  }
  EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"ENCODING", "ROOT", "good/file.txt"}));
  EXPECT_EQ(
      FilesBelow(temp_.path() / "one"),
      (std::vector<std::string>{"two/out/ENCODING", "two/out/ROOT", "two/out/good/file.txt"}));
  EXPECT_FALSE(fs::exists(escapee));
}

// A link in the output folder, left by anyone, does not carry files out.
TEST_F(ExplorerExtractTest, LinksInTheOutputFolderAreNotFollowed) {
  NamedGame game;
  game.Add("SD\\Unit\\Marine.grp", 100);
  game.Add("Readme.txt", 10);
  const testkit::Installation installation = game.Write(Path("game"));
  const fs::path out = Path("out");
  const fs::path elsewhere = Path("elsewhere");
  fs::create_directories(out);
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, out / "SD");
  fs::create_symlink(elsewhere / "readme", out / "Readme.txt");

  const ExplorerRun run = Run({"extract", installation.root.string(), "*", out.string()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            "kestrine-casc: refused SD\\Unit\\Marine.grp, error 87: the name leads outside the "
            "output folder\n");
  EXPECT_TRUE(fs::is_empty(elsewhere));
  // A link in the place of a file is replaced, not written through.
  EXPECT_FALSE(fs::is_symlink(out / "Readme.txt"));
  EXPECT_EQ(fs::file_size(out / "Readme.txt"), 10u);
}

TEST_F(ExplorerExtractTest, FailedFilesLeaveNothingBehind) {
  NamedGame game;
  StoredFile cut = testkit::EncodeDemoContent(testkit::DataLikeBytes(5000, 3), false, 3);
  cut.entryContentSize = 6000;  // promised longer than it is
  game.Add("SD\\Cut.bin", std::move(cut));
  testkit::BltePlan damaged;
  damaged.frames = testkit::SplitFrames(4000, 1000);
  damaged.frames[2].md5 = testkit::Md5Fault::kWrong;
  game.Add("SD\\Damaged.bin", testkit::EncodeFile(testkit::DataLikeBytes(4000, 4), damaged));
  game.Add("SD\\Good.bin", 3000);
  const testkit::Installation installation = game.Write(Path("game"));
  const fs::path out = Path("out");

  const ExplorerRun run = Run({"extract", installation.root.string(), "SD\\*", out.string()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, Summary(1, 3000));
  EXPECT_EQ(run.err,
            "kestrine-casc: cannot read SD\\Cut.bin, error 1392\n"
            "kestrine-casc: cannot read SD\\Damaged.bin, error 1392\n");
  EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"SD/Good.bin"}));
}

TEST_F(ExplorerExtractTest, ProgressShowsOnATerminalOnly) {
  NamedGame game;
  for (int i = 0; i < 20; ++i) game.Add("SD\\File" + std::to_string(i) + ".bin", 20000);
  const testkit::Installation installation = game.Write(Path("game"));

  const ExplorerRun terminal = RunExplorerOnTerminal(
      {"extract", installation.root.string(), "SD\\*", Path("out1")}, temp_.path());
  EXPECT_EQ(terminal.exitCode, 0) << terminal.err;
  EXPECT_EQ(terminal.out, Summary(20, 400000));
  // The last drawing, ended by a line break (the terminal writes "\r\n").
  EXPECT_NE(terminal.err.find("\r[##############################] 20/20 files, 0.4 MiB, "),
            std::string::npos)
      << terminal.err;
  EXPECT_NE(terminal.err.find(" MiB/s\r\n"), std::string::npos) << terminal.err;

  const ExplorerRun file = Run({"extract", installation.root.string(), "SD\\*", Path("out2")});
  EXPECT_EQ(file.exitCode, 0);
  EXPECT_EQ(file.out, terminal.out);
  EXPECT_EQ(file.err, "");
}

}  // namespace
}  // namespace kestrine::test

// The kestrine executable on installations written to disk, with the whole
// storage reader under it. The import's rules are tested over an in-memory
// storage; here real storages, named by a plain-text root or by the INSTALL
// manifest standing in for a root no loader takes, must give the same
// results: the same bundle byte for byte, the same lines, the same failures.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "encoded/inflate.h"
#include "testkit/config_tvfs.h"
#include "testkit/demo_installation.h"
#include "testkit/index_files.h"
#include "testkit/name_index.h"
#include "testkit/roots.h"
#include "testkit/special_files.h"
#include "testkit/stream_files.h"
#include "testkit/tvfs.h"
#include "tests/tool/test_util.h"

extern char** environ;

namespace kestrine {
namespace {

using test::FolderListing;
using test::ReadFile;
using test::TempDir;
using testkit::DemoRecord;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Waits for the child; kills it when it runs past `limit`, so that a tool
// that blocks fails its test instead of hanging the suite.
bool WaitWithin(pid_t pid, std::chrono::seconds limit, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (waitpid(pid, status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Runs the tool on `install`, writing `bundle`; its output goes to files
// beside the temporary folder's other contents.
ToolRun RunTool(const TempDir& dir, const std::string& install, const std::string& bundle,
                std::chrono::seconds limit = std::chrono::seconds(300)) {
  const std::string outPath = dir.File("stdout");
  const std::string errPath = dir.File("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> argv{const_cast<char*>(KESTRINE_TOOL_PATH), const_cast<char*>(install.c_str()),
                          const_cast<char*>(bundle.c_str()), nullptr};
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, KESTRINE_TOOL_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (!WaitWithin(pid, limit, &status))
    ADD_FAILURE() << "the tool ran past " << limit.count() << " s";
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return run;
}

// The progress lines and the summary the import prints for `records`.
std::string ExpectedOutput(const std::vector<DemoRecord>& records) {
  std::string text;
  char line[128];
  uint64_t total = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    total += records[i].size;
    if (i % 100 != 0) continue;
    std::snprintf(line, sizeof line, "Imported %zu/%zu files, %.1f MiB\n", i + 1, records.size(),
                  total / 1048576.0);
    text += line;
  }
  std::snprintf(line, sizeof line,
                "Imported %zu original asset files, %.1f MiB from local storage.\n", records.size(),
                total / 1048576.0);
  return text + line;
}

std::string Text(const std::vector<uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

std::vector<uint8_t> SoundTable(std::vector<std::string> names) {
  return testkit::SoundTableNaming(names);
}

TEST(EndToEndTest, DemoInstallationGivesExactlyItsClassicAssets) {
  TempDir dir;
  testkit::DemoInstallation demo = testkit::WriteDemoInstallation(dir.path() / "StarCraft");
  const std::string bundle = dir.File("classic.kvrn");
  test::WriteFile(bundle, "the bundle of an earlier run");

  ToolRun run = RunTool(dir, dir.File("StarCraft"), bundle);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, ExpectedOutput(demo.records));
  EXPECT_TRUE(ReadFile(bundle) == Text(testkit::BundleBytes(demo.records)))
      << "the bundle differs from the demo's classic assets";
  EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"StarCraft", "classic.kvrn"}));

  // The demo covers what the import must tell apart.
  std::vector<std::string> names;
  for (const DemoRecord& record : demo.records) names.push_back(record.name);
  auto has = [&names](const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  EXPECT_GT(names.size(), 150u) << "progress lines need more than 100 assets";
  EXPECT_TRUE(has("music/zerg1.wav") && has("game/pconsole.dds") && has("glue/pal/badlands.vx4ex"));
  EXPECT_TRUE(has("sound/protoss/zealot/pzerdy00.ogg") && has("sound/terran/marine/tmawht00.wav"));
  EXPECT_FALSE(has("sound/zerg/drone/zdrerr00.ogg") || has("music/title.wav"));
  EXPECT_GT(demo.contentBytes, 6u << 20) << "the music tracks are the large assets";
}

enum class RootKind {
  kPlainText,       // a plain-text root names the files
  kInstallFallback  // the root is in no known format; the INSTALL manifest names the files
};

void PrintTo(RootKind kind, std::ostream* os) {
  *os << (kind == RootKind::kPlainText ? "plain-text root" : "install fallback");
}

struct GameFile {
  GameFile(std::string name, std::vector<uint8_t> content)
      : name(std::move(name)), content(std::move(content)) {}
  std::string name;
  std::vector<uint8_t> content;
  testkit::Md5Fault md5 = testkit::Md5Fault::kNone;  // of the first frame
  std::optional<uint32_t> listedSize;                // in the ENCODING manifest
  uint8_t mode = 'Z';                                // of every frame
  bool frameChecks = true;  // false: every frame's MD5 is zero (never checked)
  bool inInstall = true;    // listed by the INSTALL manifest too
};

// A root no loader takes: text, but not lines of a name and a key.
const std::string kUnknownRoot = "this root lists nothing in any format a loader knows\n";

testkit::StoredFile Encode(const GameFile& file) {
  testkit::BltePlan blte;
  blte.frames = testkit::SplitFrames(file.content.size(), 4096, file.mode);
  for (testkit::FramePlan& frame : blte.frames) {
    if (!file.frameChecks) frame.md5 = testkit::Md5Fault::kZero;
  }
  if (file.frameChecks) blte.frames[0].md5 = file.md5;
  testkit::StoredFile stored = testkit::EncodeFile(file.content, blte);
  stored.entryContentSize = file.listedSize;
  return stored;
}

enum class InstallKind { kListing, kNone, kBadSignature };

testkit::Installation WriteGame(const std::filesystem::path& root,
                                const std::vector<GameFile>& files, RootKind kind,
                                InstallKind installKind = InstallKind::kListing,
                                const std::string& product = {}, bool manifestsFirst = false) {
  testkit::InstallationPlan layout;
  layout.products[0].product = product;
  layout.manifestsFirst = manifestsFirst;
  testkit::PlainTextRoot plainRoot;
  testkit::InstallManifest install;
  for (const GameFile& file : files) {
    testkit::StoredFile stored = Encode(file);
    testkit::AddNamedFile(layout, plainRoot, file.name, stored);
    if (!file.inInstall) continue;
    install.entries.push_back({file.name, stored.ckey, static_cast<uint32_t>(file.content.size())});
  }
  if (kind == RootKind::kPlainText) {
    layout.rootFile = testkit::WritePlainTextRoot(plainRoot);
  } else {
    layout.rootFile = Bytes(kUnknownRoot);
  }
  if (installKind != InstallKind::kNone) {
    if (installKind == InstallKind::kBadSignature) install.signature = "NI";
    testkit::PlainTextRoot unused;
    testkit::StoredFile manifest = Encode({"", testkit::WriteInstallManifest(install)});
    testkit::AddNamedFile(layout, unused, "", manifest);
    layout.buildConfig = {
        {"install", testkit::KeyText(manifest.ckey) + " " + testkit::KeyText(manifest.ekey)},
        {"install-size",
         std::to_string(manifest.content.size()) + " " + std::to_string(manifest.encoded.size())}};
  }
  return testkit::WriteInstallation(root, layout);
}

class EndToEndRootTest : public ::testing::TestWithParam<RootKind> {};

// Duplicate asset names: the bundle takes the first name found, the sound
// filter the sound table found last. A zero-size asset is an empty record.
TEST_P(EndToEndRootTest, ImportsTheFirstNameFoundAndFiltersByTheLastSoundTable) {
  TempDir dir;
  const std::vector<uint8_t> firstTable = SoundTable({"Misc\\A.wav"});
  const std::vector<uint8_t> marine = testkit::DataLikeBytes(9000, 1);
  const std::vector<uint8_t> beep = testkit::DataLikeBytes(700, 2);
  WriteGame(dir.path() / "game",
            {{"SD\\Arr\\SfxData.tbl", firstTable},
             {"SD\\Sound\\Misc\\A.wav", testkit::DataLikeBytes(500, 3)},
             {"SD\\Sound\\Misc\\B.wav", beep},
             {"SD\\Unit\\Marine.grp", marine},
             {"Unit\\MARINE.GRP", testkit::DataLikeBytes(9000, 4)},
             {"arr\\sfxdata.tbl", SoundTable({"misc/b.wav"})},
             {"SD\\Arr\\Empty.dat", {}},
             {"SD\\Arr\\Notes.txt", Bytes("not a classic asset")}},
            GetParam());

  ToolRun run = RunTool(dir, dir.File("game"), dir.File("out.kvrn"));
  const std::vector<DemoRecord> expected = {
      {"arr/empty.dat", 0, {}},
      {"arr/sfxdata.tbl", static_cast<uint32_t>(firstTable.size()), firstTable},
      {"sound/misc/b.wav", static_cast<uint32_t>(beep.size()), beep},
      {"unit/marine.grp", static_cast<uint32_t>(marine.size()), marine}};
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, ExpectedOutput(expected));
  EXPECT_TRUE(ReadFile(dir.File("out.kvrn")) == Text(testkit::BundleBytes(expected)));
}

INSTANTIATE_TEST_SUITE_P(Roots, EndToEndRootTest,
                         ::testing::Values(RootKind::kPlainText, RootKind::kInstallFallback),
                         [](const auto& info) {
                           return info.param == RootKind::kPlainText ? "PlainTextRoot"
                                                                     : "InstallFallback";
                         });

// A game with a sound table, a unit and a sound; each case spoils one part.
struct FailureCase {
  const char* label;
  void (*spoil)(std::vector<GameFile>& files);
  std::string error;
  RootKind root = RootKind::kPlainText;
  InstallKind install = InstallKind::kListing;
  bool removeBuildFile = false;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.label;
}

std::vector<GameFile> SmallGame() {
  return {{"SD\\Arr\\SfxData.tbl", SoundTable({"Misc\\Buzz.wav"})},
          {"SD\\Sound\\Misc\\Buzz.wav", testkit::DataLikeBytes(300, 5)},
          {"SD\\Unit\\Terran\\Marine.grp", testkit::DataLikeBytes(20000, 6)}};
}

void NoChange(std::vector<GameFile>&) {}

class EndToEndFailureTest : public ::testing::TestWithParam<FailureCase> {};

// Every failure a storage can cause: one line on standard error, exit code 1,
// and a bundle of an earlier run left as it was, with nothing beside it.
TEST_P(EndToEndFailureTest, PrintsOneLineAndKeepsTheEarlierBundle) {
  const FailureCase& c = GetParam();
  TempDir dir;
  std::vector<GameFile> files = SmallGame();
  c.spoil(files);
  WriteGame(dir.path() / "game", files, c.root, c.install);
  if (c.removeBuildFile) std::filesystem::remove(dir.path() / "game" / ".build.info");
  test::WriteFile(dir.File("out.kvrn"), "the bundle of an earlier run");

  ToolRun run = RunTool(dir, dir.File("game"), dir.File("out.kvrn"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Asset import failed: " + c.error + "\n");
  EXPECT_EQ(ReadFile(dir.File("out.kvrn")), "the bundle of an earlier run");
  EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"game", "out.kvrn"}));
}

const std::string kOpenFailed =
    "Cannot open local CASC storage (finish Lumengate installation first), error ";

INSTANTIATE_TEST_SUITE_P(
    Failures, EndToEndFailureTest,
    ::testing::Values(
        FailureCase{"NoBuildFile", NoChange, kOpenFailed + "2", RootKind::kPlainText,
                    InstallKind::kListing, true},
        FailureCase{"UnknownRootAndBadInstallManifest", NoChange, kOpenFailed + "11",
                    RootKind::kInstallFallback, InstallKind::kBadSignature},
        // The install fallback's failure replaces the root's.
        FailureCase{"UnknownRootAndNoInstallManifest", NoChange, kOpenFailed + "2",
                    RootKind::kInstallFallback, InstallKind::kNone},
        FailureCase{"NoSoundTable", [](auto& f) { f.erase(f.begin()); },
                    "Missing original sound table"},
        FailureCase{"OneByteSoundTable", [](auto& f) { f[0].content = {0}; },
                    "Invalid sound table"},
        FailureCase{"DamagedSoundTable", [](auto& f) { f[0].md5 = testkit::Md5Fault::kWrong; },
                    "Cannot read sound table"},
        FailureCase{"SoundTableCutInItsOffsets",
                    [](auto& f) {
                      f[0].content = {1, 0, 0};
                    },
                    "Truncated sound table"},
        FailureCase{"SoundNameOffsetAtTheEnd",
                    [](auto& f) {
                      f[0].content = {1, 0, 4, 0};
                    },
                    "Invalid sound name offset"},
        FailureCase{"UnterminatedSoundName", [](auto& f) { f[0].content = {1, 0, 4, 0, 'a', 'b'}; },
                    "Unterminated sound name"},
        FailureCase{"AssetListedOver64MiB", [](auto& f) { f[2].listedSize = 0x4000001; },
                    "Invalid classic asset size"},
        FailureCase{"DamagedAsset", [](auto& f) { f[2].md5 = testkit::Md5Fault::kWrong; },
                    "Cannot read local asset SD\\Unit\\Terran\\Marine.grp, error 1392"},
        // Every frame checks, but the ENCODING manifest lists the asset
        // shorter than it is: the content cut to that size is not its key.
        FailureCase{"AssetListedShorter", [](auto& f) { f[2].listedSize = 19000; },
                    "Cannot read local asset SD\\Unit\\Terran\\Marine.grp, error 1392"}),
    [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// Storage bytes damaged after the installation was written, where the
// reader's own rules let the damage through: only the content keys notice.

std::string ArchivePath(const testkit::Installation& game, uint32_t archive) {
  return (game.archiveFolder / testkit::DataArchiveName(archive)).string();
}

const testkit::StoredBlob& BlobOf(const testkit::Installation& game, const Key16& ekey) {
  for (const testkit::StoredBlob& blob : game.blobs) {
    if (blob.ekey == ekey) return blob;
  }
  throw std::invalid_argument("no such blob");
}

// Flips one byte of the archive where `needle` (bytes of a stored blob) starts,
// `offset` bytes into it.
void FlipArchiveByte(const testkit::Installation& game, const testkit::StoredBlob& blob,
                     std::span<const uint8_t> needle, size_t offset, uint8_t mask) {
  std::string archive = ReadFile(ArchivePath(game, blob.archive));
  auto found = std::search(archive.begin() + blob.offset, archive.end(), needle.begin(),
                           needle.end(), [](char a, uint8_t b) { return uint8_t(a) == b; });
  ASSERT_NE(found, archive.end());
  found[static_cast<ptrdiff_t>(offset)] ^= static_cast<char>(mask);
  test::WriteFile(ArchivePath(game, blob.archive), archive);
}

struct DamagedRun {
  ToolRun run;
  std::string bundleAfter;
  std::vector<std::string> folderAfter;
};

DamagedRun ImportOverEarlierBundle(const TempDir& dir) {
  test::WriteFile(dir.File("out.kvrn"), "the bundle of an earlier run");
  DamagedRun result{RunTool(dir, dir.File("game"), dir.File("out.kvrn")), "", {}};
  result.bundleAfter = ReadFile(dir.File("out.kvrn"));
  result.folderAfter = FolderListing(dir.path());
  return result;
}

void ExpectFailedCleanly(const DamagedRun& damaged, const std::string& message) {
  EXPECT_EQ(damaged.run.exitCode, 1);
  EXPECT_EQ(damaged.run.err, "Asset import failed: " + message + "\n");
  EXPECT_EQ(damaged.bundleAfter, "the bundle of an earlier run");
  EXPECT_EQ(damaged.folderAfter, (std::vector<std::string>{"game", "out.kvrn"}));
}

const std::string kMarineFailed =
    "Cannot read local asset SD\\Unit\\Terran\\Marine.grp, error 1392";

// The archive ends inside the last asset, whose frames carry no checksum:
// the archive reads its missing bytes as zeros.
TEST(DamagedStorageTest, ArchiveCutInsideAnAssetFailsTheImport) {
  TempDir dir;
  std::vector<GameFile> files = SmallGame();
  files[2].mode = 'N';
  files[2].frameChecks = false;
  testkit::Installation game =
      WriteGame(dir.path() / "game", files, RootKind::kPlainText, InstallKind::kNone, {}, true);
  const testkit::StoredBlob& marine = BlobOf(game, Encode(files[2]).ekey);
  ASSERT_EQ(marine.offset + marine.encodedSize,
            std::filesystem::file_size(ArchivePath(game, marine.archive)));
  std::filesystem::resize_file(ArchivePath(game, marine.archive),
                               marine.offset + marine.encodedSize - 1000);

  ExpectFailedCleanly(ImportOverEarlierBundle(dir), kMarineFailed);
}

// The first flip of a byte of `frame`'s zlib stream after which one inflate
// call still succeeds, with other content: the damage no frame check sees.
std::optional<std::pair<size_t, uint8_t>> UnnoticedZlibFlip(std::vector<uint8_t> frame,
                                                            const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out(content.size());
  for (size_t i = 3; i < frame.size(); ++i) {  // behind the mode byte and the zlib header
    for (uint8_t mask = 1; mask != 0; mask = static_cast<uint8_t>(mask << 1)) {
      frame[i] ^= mask;
      const bool inflates = InflateWithZlib({frame.data() + 1, frame.size() - 1}, out) == 0;
      frame[i] ^= mask;
      if (inflates && out != content) return std::pair{i, mask};
    }
  }
  return std::nullopt;
}

TEST(DamagedStorageTest, FlipInAnUncheckedZlibFrameFailsTheImport) {
  TempDir dir;
  std::vector<GameFile> files = SmallGame();
  files[2].content = testkit::DataLikeBytes(3000, 6);  // one frame
  files[2].frameChecks = false;
  testkit::Installation game = WriteGame(dir.path() / "game", files, RootKind::kPlainText);

  const testkit::FramePlan plan = testkit::SplitFrames(3000, 4096)[0];
  const std::vector<uint8_t> frame = testkit::EncodeFrame(files[2].content, plan, 0);
  const auto flip = UnnoticedZlibFlip(frame, files[2].content);
  ASSERT_TRUE(flip.has_value()) << "no flip of this stream inflates";
  FlipArchiveByte(game, BlobOf(game, Encode(files[2]).ekey), frame, flip->first, flip->second);

  ExpectFailedCleanly(ImportOverEarlierBundle(dir), kMarineFailed);
}

// A damaged root must not give way to the INSTALL manifest, which names
// other (here: fewer) files: the import would silently miss assets.
TEST(DamagedStorageTest, FlipInTheRootFailsTheOpen) {
  TempDir dir;
  std::vector<GameFile> files = SmallGame();
  files[1].inInstall = files[2].inInstall = false;
  testkit::Installation game = WriteGame(dir.path() / "game", files, RootKind::kPlainText);
  ASSERT_TRUE(game.rootFile.has_value());
  const std::vector<uint8_t>& root = game.rootFile->encoded;
  FlipArchiveByte(game, BlobOf(game, game.rootFile->ekey), root, root.size() / 2, 0x10);

  ExpectFailedCleanly(ImportOverEarlierBundle(dir), kOpenFailed + "1392");
}

TEST(DamagedStorageTest, FlipInTheEncodingManifestFailsTheOpen) {
  TempDir dir;
  testkit::Installation game = WriteGame(dir.path() / "game", SmallGame(), RootKind::kPlainText);
  ASSERT_TRUE(game.encodingFile.has_value());
  const std::vector<uint8_t>& encoding = game.encodingFile->encoded;
  FlipArchiveByte(game, BlobOf(game, game.encodingFile->ekey), encoding, encoding.size() - 8, 1);

  ExpectFailedCleanly(ImportOverEarlierBundle(dir), kOpenFailed + "1392");
}

// An index file cut short matches no index layout (50). The README's list
// of error numbers tells a user what that means and what to do.
TEST(DamagedStorageTest, IndexFileCutShortFailsWith50AsTheReadmeExplains) {
  TempDir dir;
  testkit::Installation game = WriteGame(dir.path() / "game", SmallGame(), RootKind::kPlainText);
  std::vector<std::filesystem::path> indexFiles;
  for (const auto& entry : std::filesystem::directory_iterator(game.archiveFolder)) {
    if (entry.path().extension() == ".idx") indexFiles.push_back(entry.path());
  }
  ASSERT_FALSE(indexFiles.empty());
  std::sort(indexFiles.begin(), indexFiles.end());
  std::filesystem::resize_file(indexFiles.front(), 100);

  ExpectFailedCleanly(ImportOverEarlierBundle(dir), kOpenFailed + "50");
  const std::string readme = ReadFile(std::string(KESTRINE_SOURCE_DIR) + "/README.md");
  EXPECT_NE(readme.find("\n| 50 | not supported | an index file"), std::string::npos);
  EXPECT_NE(readme.find("repair the installation with the launcher"), std::string::npos);
}

// ---- Special files and unusual paths ----

// A FIFO where the storage has a file: the tool must not block opening it.
struct SpecialFileCase {
  const char* label;
  const char* file;  // below the installation
  std::string error;
};

void PrintTo(const SpecialFileCase& c, std::ostream* os) {
  *os << c.label;
}

class EndToEndSpecialFileTest : public ::testing::TestWithParam<SpecialFileCase> {};

TEST_P(EndToEndSpecialFileTest, FifoInPlaceOfAStorageFileFailsWithoutBlocking) {
  const SpecialFileCase& c = GetParam();
  TempDir dir;
  WriteGame(dir.path() / "game", SmallGame(), RootKind::kPlainText);
  const std::filesystem::path fifo = dir.path() / "game" / c.file;
  ASSERT_TRUE(std::filesystem::remove(fifo)) << fifo;
  ASSERT_TRUE(testkit::MakeFifo(fifo.string()));
  test::WriteFile(dir.File("out.kvrn"), "the bundle of an earlier run");

  ToolRun run = RunTool(dir, dir.File("game"), dir.File("out.kvrn"), std::chrono::seconds(10));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Asset import failed: " + c.error + "\n");
  EXPECT_EQ(ReadFile(dir.File("out.kvrn")), "the bundle of an earlier run");
  EXPECT_EQ(testkit::NodeKind(fifo.string()), "fifo");
}

INSTANTIATE_TEST_SUITE_P(
    Files, EndToEndSpecialFileTest,
    ::testing::Values(SpecialFileCase{"BuildInfo", ".build.info", kOpenFailed + "2"},
                      SpecialFileCase{"FirstIndexFile", "Data/data/0000000001.idx",
                                      kOpenFailed + "2"},
                      SpecialFileCase{"DataArchive", "Data/data/data.000", kOpenFailed + "2"}),
    [](const auto& info) { return std::string(info.param.label); });

// An output that is not a regular file is not replaced by the bundle.
TEST(EndToEndOutputTest, OutputThatIsNotARegularFileIsLeftAlone) {
  TempDir dir;
  WriteGame(dir.path() / "game", SmallGame(), RootKind::kPlainText);
  ASSERT_TRUE(testkit::MakeFifo(dir.File("fifo")));
  std::vector<std::pair<std::string, std::string>> outputs = {{"fifo", "fifo"}};
  // A private node of /dev/null's numbers, never a device of the machine.
  if (testkit::MakeCharDevice(dir.File("device"), 1, 3)) {
    outputs.push_back({"device", "char device"});
  }
  for (const auto& [name, kind] : outputs) {
    ToolRun run = RunTool(dir, dir.File("game"), dir.File(name), std::chrono::seconds(10));
    EXPECT_EQ(run.exitCode, 1) << name;
    EXPECT_EQ(run.err, "Asset import failed: Cannot create output bundle\n") << name;
    EXPECT_EQ(testkit::NodeKind(dir.File(name)), kind);
  }
  EXPECT_EQ(FolderListing(dir.path()).size(), outputs.size() + 1) << "no temporary file stays";
}

// A folder whose name holds '*' is an installation like any other; only a
// path that does not exist is split into a folder and a product.
TEST(EndToEndPathTest, StarInAnExistingPathIsPartOfTheName) {
  TempDir dir;
  const std::vector<uint8_t> table = SoundTable({});
  const std::vector<uint8_t> starCraftUnit = testkit::DataLikeBytes(3000, 7);
  const std::vector<uint8_t> starUnit = testkit::DataLikeBytes(2000, 8);
  WriteGame(dir.path() / "Star", {{"arr\\sfxdata.tbl", table}, {"unit\\star.grp", starUnit}},
            RootKind::kPlainText, InstallKind::kListing, "Craft");
  const std::vector<DemoRecord> expectedStar = {
      {"arr/sfxdata.tbl", static_cast<uint32_t>(table.size()), table},
      {"unit/star.grp", static_cast<uint32_t>(starUnit.size()), starUnit}};

  // "Star*Craft" does not exist: the folder "Star", product "Craft".
  ToolRun run = RunTool(dir, dir.File("Star*Craft"), dir.File("star.kvrn"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(ReadFile(dir.File("star.kvrn")) == Text(testkit::BundleBytes(expectedStar)));

  WriteGame(dir.path() / "Star*Craft",
            {{"arr\\sfxdata.tbl", table}, {"unit\\starcraft.grp", starCraftUnit}},
            RootKind::kPlainText);
  const std::vector<DemoRecord> expectedStarCraft = {
      {"arr/sfxdata.tbl", static_cast<uint32_t>(table.size()), table},
      {"unit/starcraft.grp", static_cast<uint32_t>(starCraftUnit.size()), starCraftUnit}};
  for (const char* path : {"Star*Craft", "Star*Craft/Data"}) {
    run = RunTool(dir, dir.File(path), dir.File("starcraft.kvrn"));
    EXPECT_EQ(run.exitCode, 0) << path << ": " << run.err;
    EXPECT_TRUE(ReadFile(dir.File("starcraft.kvrn")) ==
                Text(testkit::BundleBytes(expectedStarCraft)))
        << path << " imported another installation";
  }
}

// ---- installations named by a TVFS root

TEST(EndToEndTvfsTest, DemoInstallationWithATvfsRootGivesTheSameBundle) {
  TempDir dir;
  testkit::DemoSize size;
  size.tvfsRoot = true;
  testkit::DemoInstallation demo = testkit::WriteDemoInstallation(dir.path() / "StarCraft", size);
  ToolRun run = RunTool(dir, dir.File("StarCraft"), dir.File("classic.kvrn"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, ExpectedOutput(demo.records));
  EXPECT_TRUE(ReadFile(dir.File("classic.kvrn")) == Text(testkit::BundleBytes(demo.records)));
}

// A game whose VFS root names one asset and then a name of key form, so that
// the ROOT file is loaded as well; that one names assets of several spans,
// of a 200-byte name, of an EKey the ENCODING manifest does not list, 16-byte
// EKeys, and a nested directory.
struct TvfsGame {
  testkit::InstallationPlan layout;
  testkit::TvfsRoot root;
  std::vector<DemoRecord> expected;

  testkit::TvfsSpan Store(const GameFile& file, bool listed = true) {
    return testkit::StoreTvfsSpan(layout, Encode(file), listed);
  }
  void Add(const std::string& name, const GameFile& file, bool listed = true) {
    root.files.push_back({name, {Store(file, listed)}});
    Expect(name, file.content);
  }
  void AddSpanned(const std::string& name, const std::vector<GameFile>& spans) {
    testkit::TvfsFile tvfsFile{name, {}};
    std::vector<uint8_t> content;
    for (const GameFile& span : spans) {
      tvfsFile.spans.push_back(Store(span));
      content.insert(content.end(), span.content.begin(), span.content.end());
    }
    root.files.push_back(tvfsFile);
    Expect(name, content);
  }
  void Expect(const std::string& name, const std::vector<uint8_t>& content) {
    expected.push_back(
        {testkit::AssetNameOf(name), static_cast<uint32_t>(content.size()), content});
  }

  testkit::Installation Write(const std::filesystem::path& path) {
    std::sort(expected.begin(), expected.end(),
              [](const DemoRecord& a, const DemoRecord& b) { return a.name < b.name; });
    layout.rootFile = testkit::WriteTvfs(root);
    return testkit::WriteInstallation(path, layout);
  }
};

TvfsGame TvfsClassicGame(testkit::Md5Fault spanFault = testkit::Md5Fault::kNone) {
  TvfsGame game;
  game.Add("SD/Arr/Units.dat", GameFile("", testkit::DataLikeBytes(4000, 1)));
  game.root.files.push_back({testkit::KeyFormName(9), {game.Store(GameFile("", Bytes("k")))}});
  testkit::StoreVfsRoot(game.layout, testkit::WriteTvfs(game.root));

  game.root = {};
  game.root.ekeySize = 16;
  game.Add("SD/Arr/SfxData.tbl", GameFile("", SoundTable({"Misc\\A.wav"})));
  game.Add("SD/Sound/Misc/A.wav", GameFile("", testkit::DataLikeBytes(900, 2)));
  game.Add("SD/Unit/Unlisted.grp", GameFile("", testkit::DataLikeBytes(1200, 3)), false);
  game.Add("SD/Unit/" + std::string(200, 'l') + ".grp",
           GameFile("", testkit::DataLikeBytes(99, 4)));
  std::vector<GameFile> spans = {GameFile("", testkit::DataLikeBytes(10000, 5)),
                                 GameFile("", testkit::DataLikeBytes(6000, 6))};
  spans[1].md5 = spanFault;
  game.AddSpanned("SD/Unit/Terran/Marine.grp", spans);

  testkit::TvfsRoot inner;
  inner.ekeySize = 16;
  inner.files = {{"notes/readme.txt", {game.Store(GameFile("", Bytes("inside")))}}};
  game.root.files.push_back(
      {"pack", {testkit::StoreNestedDirectory(game.layout, testkit::WriteTvfs(inner), 1)}});
  return game;
}

TEST(EndToEndTvfsTest, ImportsSpansLongNamesAndTheRootLoadedAgain) {
  TempDir dir;
  TvfsGame game = TvfsClassicGame();
  game.Write(dir.path() / "game");
  ToolRun run = RunTool(dir, dir.File("game"), dir.File("out.kvrn"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, ExpectedOutput(game.expected));
  EXPECT_TRUE(ReadFile(dir.File("out.kvrn")) == Text(testkit::BundleBytes(game.expected)));
}

// Every width of the CFT offsets in a VFS entry (1 to 4 bytes, from the CFT
// size), with EKeys of 9 and of 16 bytes.
class EndToEndTvfsLayoutTest : public ::testing::TestWithParam<std::tuple<uint32_t, uint8_t>> {};

TEST_P(EndToEndTvfsLayoutTest, ImportsByteExact) {
  const auto [cftSize, ekeySize] = GetParam();
  TempDir dir;
  TvfsGame game = TvfsClassicGame();
  game.root.cftSize = cftSize;
  game.root.ekeySize = ekeySize;
  game.Write(dir.path() / "game");
  ToolRun run = RunTool(dir, dir.File("game"), dir.File("out.kvrn"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(ReadFile(dir.File("out.kvrn")) == Text(testkit::BundleBytes(game.expected)));
}

INSTANTIATE_TEST_SUITE_P(CftWidths, EndToEndTvfsLayoutTest,
                         ::testing::Combine(::testing::Values(0xFFu, 0x100u, 0xFFFFu, 0x10000u,
                                                              0x1000000u),
                                            ::testing::Values(uint8_t{9}, uint8_t{16})),
                         [](const auto& info) {
                           char name[32];
                           std::snprintf(name, sizeof name, "Cft%X_EKey%u", std::get<0>(info.param),
                                         std::get<1>(info.param));
                           return std::string(name);
                         });

TEST(EndToEndTvfsTest, DamagedFrameInASpanFailsTheImport) {
  TempDir dir;
  TvfsGame game = TvfsClassicGame(testkit::Md5Fault::kWrong);
  game.Write(dir.path() / "game");
  ToolRun run = RunTool(dir, dir.File("game"), dir.File("out.kvrn"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            "Asset import failed: Cannot read local asset SD\\Unit\\Terran\\Marine.grp, "
            "error 1392\n");
}

// ---- data\.build.config installations with a TVFS root

using testkit::ConfigFileForm;

struct ConfigFormCase {
  const char* label;
  ConfigFileForm assets;  // how the assets are stored
  ConfigFileForm root;
  bool nameMap;  // the root names the files by flattened names and an index
};

void PrintTo(const ConfigFormCase& formCase, std::ostream* os) {
  *os << formCase.label;
}

// A small classic game; each asset under its real path, or under its
// flattened form with the ROOT manifest's "index" giving the real path.
// Beside them lie a decoy that the index does not name, which stays
// flattened and is no asset, and an "index" that is no ROOT manifest.
struct ConfigTvfsClassicGame {
  explicit ConfigTvfsClassicGame(const ConfigFormCase& formCase) : game(formCase.root) {
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> assets = {
        {"SD/Arr/SfxData.tbl", SoundTable({"Misc\\A.wav"})},
        {"SD/Sound/Misc/A.wav", testkit::DataLikeBytes(900, 2)},
        {"SD/Arr/Units.dat", testkit::DataLikeBytes(4000, 1)},
        {"SD/Unit/Terran/Marine.grp", testkit::DataLikeBytes(20000, 3)}};
    std::vector<std::string> indexLines;
    for (const auto& [name, content] : assets) {
      const std::string stored = formCase.nameMap ? Flattened(name) : name;
      marine = game.Add(stored, content, formCase.assets);
      indexLines.push_back(name);
      expected.push_back(
          {testkit::AssetNameOf(name), static_cast<uint32_t>(content.size()), content});
    }
    game.Add("sdunitzergdrone.grp", testkit::DataLikeBytes(300, 4), formCase.assets);
    testkit::NameIndex index;
    index.paths = indexLines;
    game.AddRootManifest(testkit::WriteNameIndex(index), formCase.nameMap ? "index" : "",
                         formCase.assets);
    std::sort(expected.begin(), expected.end(),
              [](const DemoRecord& a, const DemoRecord& b) { return a.name < b.name; });
  }
  static std::string Flattened(std::string name) {
    std::erase(name, '/');
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    return name;
  }

  testkit::ConfigTvfsGame game;
  testkit::ConfigFile marine;  // stored last of the assets
  std::vector<DemoRecord> expected;
};

class EndToEndConfigTvfsTest : public ::testing::TestWithParam<ConfigFormCase> {};

TEST_P(EndToEndConfigTvfsTest, ImportsTheAssetsByTheirRealNames) {
  TempDir dir;
  ConfigTvfsClassicGame classic(GetParam());
  classic.game.Write(dir.path() / "game");
  ToolRun run = RunTool(dir, dir.File("game"), dir.File("out.kvrn"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, ExpectedOutput(classic.expected));
  EXPECT_TRUE(ReadFile(dir.File("out.kvrn")) == Text(testkit::BundleBytes(classic.expected)));
}

class EndToEndConfigTvfsDamageTest : public EndToEndConfigTvfsTest {};

// A flipped byte in the last frame of a checked BLTE asset.
TEST_P(EndToEndConfigTvfsDamageTest, DamagedFrameInAnAssetFailsTheImport) {
  TempDir dir;
  ConfigTvfsClassicGame classic(GetParam());
  const testkit::Installation game = classic.game.Write(dir.path() / "game");
  const std::string archive =
      (game.dataDirectory / testkit::BuildConfigArchiveName(classic.marine.archive)).string();
  std::string bytes = ReadFile(archive);
  const uint64_t end = classic.marine.offset + classic.marine.encodedSize;
  ASSERT_LE(end, bytes.size());
  bytes[end - 20] ^= 0x10;
  test::WriteFile(archive, bytes);
  ExpectFailedCleanly(ImportOverEarlierBundle(dir), kMarineFailed);
}

const std::vector<ConfigFormCase> kConfigFormCases = {
    ConfigFormCase{"NameMapRecordHeaders", ConfigFileForm::kBlteBehindHeader,
                   ConfigFileForm::kBlteBehindHeader, true},
    ConfigFormCase{"NameMapPlainBlte", ConfigFileForm::kBlte, ConfigFileForm::kBlte, true},
    ConfigFormCase{"NameMapBareZlibRoot", ConfigFileForm::kBlte, ConfigFileForm::kBareZlib, true},
    ConfigFormCase{"NameMapBareZlibAssets", ConfigFileForm::kBareZlib,
                   ConfigFileForm::kBlteBehindHeader, true},
    ConfigFormCase{"RealNamesRecordHeaders", ConfigFileForm::kBlteBehindHeader,
                   ConfigFileForm::kBlte, false},
    ConfigFormCase{"RealNamesBareZlibRoot", ConfigFileForm::kBlte, ConfigFileForm::kBareZlib,
                   false}};

// The cases whose assets are BLTE, with frames to damage.
std::vector<ConfigFormCase> FramedCases() {
  std::vector<ConfigFormCase> cases;
  for (const ConfigFormCase& formCase : kConfigFormCases) {
    if (formCase.assets != ConfigFileForm::kBareZlib) cases.push_back(formCase);
  }
  return cases;
}

std::string CaseLabel(const ::testing::TestParamInfo<ConfigFormCase>& info) {
  return info.param.label;
}

INSTANTIATE_TEST_SUITE_P(Forms, EndToEndConfigTvfsTest, ::testing::ValuesIn(kConfigFormCases),
                         CaseLabel);
INSTANTIATE_TEST_SUITE_P(Forms, EndToEndConfigTvfsDamageTest, ::testing::ValuesIn(FramedCases()),
                         CaseLabel);

}  // namespace
}  // namespace kestrine

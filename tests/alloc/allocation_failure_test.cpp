// Every allocation of a whole session with a storage (open, search, open and
// read every file, close) made to fail in turn. Each run must end either
// exactly like the run without failures, or with the call whose allocation
// failed reporting 8 and nothing else: no exception through the API, no
// other error, no leaked block, and every later run unaffected.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "kestrine.h"
#include "testkit/build_files.h"
#include "testkit/demo_installation.h"
#include "testkit/diablo_root.h"
#include "testkit/installation.h"
#include "testkit/roots.h"
#include "testkit/wow_root.h"
#include "tests/alloc/counting_allocator.h"

namespace kestrine {
namespace {

using alloc_test::ChosenAllocationFailed;
using alloc_test::LiveBlocks;
using alloc_test::StartCounting;
using alloc_test::StopCounting;

struct FileRead {
  std::string name;
  uint32_t nameType = 0;
  std::vector<uint8_t> content;
  bool operator==(const FileRead&) const = default;
};

// How one session ended.
struct Session {
  std::vector<FileRead> files;      // in search order
  const char* failedCall = "";      // empty when the session completed
  uint32_t error = 0;               // the failed call's error
  const char* allocationCall = "";  // the call in which the chosen allocation failed
  const char* currentCall = "";     // the call last started
  bool escaped = false;             // an exception came through the API
};

// Runs one call of the session: records whether the chosen allocation failed
// inside it, and the call's name and error when it failed.
class SessionRunner {
 public:
  explicit SessionRunner(Session& session) : session_(session) {}

  template <typename Call>
  bool Run(const char* name, Call&& call) {
    const bool failedBefore = ChosenAllocationFailed();
    session_.currentCall = name;
    SetCascError(kErrorSuccess);
    const bool succeeded = call();
    if (!failedBefore && ChosenAllocationFailed()) session_.allocationCall = name;
    if (!succeeded) {
      session_.failedCall = name;
      session_.error = GetCascError();
    }
    return succeeded;
  }

 private:
  Session& session_;
};

constexpr uint64_t kReadPiece = 50'000;

bool ReadFile(StorageHandle storage, SessionRunner& runner, FileRead& read) {
  FileHandle file = nullptr;
  if (!runner.Run("OpenFileByName",
                  [&] { return OpenFileByName(storage, read.name.c_str(), &file); })) {
    return false;
  }
  uint64_t size = 0;
  bool ok = runner.Run("GetFileContentSize", [&] {
    const uint32_t error = GetFileContentSize(file, &size);
    if (error != kErrorSuccess) SetCascError(error);
    return error == kErrorSuccess;
  });
  if (ok) {
    {
      alloc_test::UncountedScope bookkeeping;
      read.content.resize(size);
    }
    // In pieces that end inside frames, so that reads also go through the
    // frame cache.
    for (uint64_t done = 0; ok && done < size;) {
      const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(size - done, kReadPiece));
      ok = runner.Run("ReadOpenFile", [&] {
        uint32_t count = 0;
        return ReadOpenFile(file, read.content.data() + done, piece, &count) && count == piece;
      });
      done += piece;
    }
  }
  ok = runner.Run("CloseFile", [&] { return CloseFile(file); }) && ok;
  return ok;
}

void SearchAndRead(StorageHandle storage, SessionRunner& runner, Session& session) {
  SearchResult result{};
  SearchHandle search = nullptr;
  if (!runner.Run("SearchFirst", [&] {
        search = SearchFirst(storage, "*", &result, nullptr);
        return search != nullptr;
      })) {
    return;
  }
  bool more = true;
  while (more) {
    {
      alloc_test::UncountedScope bookkeeping;
      session.files.push_back({result.fileName, result.nameType, {}});
    }
    if (!ReadFile(storage, runner, session.files.back())) break;
    // The end of the list sets no error; a step that failed does.
    if (!runner.Run("SearchNext", [&] {
          more = SearchNext(search, &result);
          return more || GetCascError() == kErrorSuccess;
        })) {
      break;
    }
  }
  runner.Run("SearchClose", [&] { return SearchClose(search); });
}

const uint8_t kExtraKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// The whole session, the chosen allocation failing when `failAt` is not 0.
Session RunSession(const std::string& path, uint64_t failAt, uint64_t* allocations = nullptr) {
  Session session;
  SessionRunner runner(session);
  StartCounting(failAt);
  try {
    StorageOpenArgs args{};
    args.size = sizeof args;
    StorageHandle storage = nullptr;
    if (runner.Run("OpenStorage", [&] {
          storage = OpenStorage(path.c_str(), &args);
          return storage != nullptr;
        })) {
      if (runner.Run("AddDecryptionKey",
                     [&] { return AddDecryptionKey(storage, 0x1122334455667788, kExtraKey); })) {
        SearchAndRead(storage, runner, session);
      }
      runner.Run("CloseStorage", [&] { return CloseStorage(storage); });
    }
  } catch (...) {
    session.escaped = true;
    session.failedCall = session.currentCall;
    if (ChosenAllocationFailed() && session.allocationCall[0] == '\0') {
      session.allocationCall = session.currentCall;
    }
  }
  const uint64_t count = StopCounting();
  if (allocations != nullptr) *allocations = count;
  return session;
}

// The installations swept: how the storage is marked and where its names
// come from.
enum class RootKind {
  kPlainText,
  kNoLoaderTakes,  // the INSTALL manifest stands in for the root
  kWow,            // the files by id and name hash
  kDiablo,         // a Diablo III root, its table of contents and package list
};

struct Variant {
  const char* name;
  BuildFileKind kind;
  RootKind root;
};

void PrintTo(const Variant& variant, std::ostream* out) {
  *out << variant.name;
}

const Variant kVariants[] = {
    {"BuildInfoPlainTextRoot", BUILD_INFO, RootKind::kPlainText},
    {"BuildDbPlainTextRoot", BUILD_DB, RootKind::kPlainText},
    {"BuildInfoInstallRoot", BUILD_INFO, RootKind::kNoLoaderTakes},
    {"BuildInfoWowRoot", BUILD_INFO, RootKind::kWow},
    {"BuildInfoDiabloRoot", BUILD_INFO, RootKind::kDiablo},
};

// A small installation with every kind of manifest and of file encoding the
// reader meets: ENCODING, DOWNLOAD and INSTALL manifests, a root, single-frame
// files with and without a frame table, and a file of several compressed
// frames.
testkit::Installation WriteSmallInstallation(const std::filesystem::path& root,
                                             const Variant& variant) {
  testkit::InstallationPlan layout;
  layout.kind = variant.kind;
  testkit::PlainTextRoot names;
  testkit::InstallManifest install;
  testkit::WowRootPlan wow = testkit::WowPlan(testkit::WowLayout::kHeaded, 2);
  wow.blocks.push_back(testkit::WowBlock(0x2, 0, {}));
  const char* storageNames[] = {"SD/Arr/Units.dat", "SD\\Unit\\Marine.grp", "Music/Title.wav"};
  const size_t sizes[] = {3000, 1200, 140'000};
  // The Diablo III root names the first two files in its directory and the
  // third by asset number.
  testkit::DiabloRootPlan diablo;
  diablo.toc = testkit::TocOf({testkit::TocRecord(62, 5, "Title")});
  diablo.packages = testkit::PackagesOf({"Music\\Title.ogg"});
  // Two directories: a root file shorter than 33 bytes is no root at all.
  diablo.directories = {{"Base", {}}, {"enUS", {}}};
  for (uint32_t i = 0; i < 3; ++i) {
    testkit::StoredFile file =
        testkit::EncodeDemoContent(testkit::DataLikeBytes(sizes[i], i), false, i);
    testkit::AddNamedFile(layout, names, storageNames[i], file);
    install.entries.push_back({std::string("Setup/") + char('a' + i), file.ckey, 10});
    wow.blocks[0].files.push_back(testkit::WowFile(100 + i, file.ckey, storageNames[i]));
    if (i < 2) diablo.directories[0].file.named.push_back({file.ckey, storageNames[i]});
    if (i == 2) diablo.directories[0].file.assets.push_back({file.ckey, 5});
  }
  testkit::StoredFile installFile =
      testkit::EncodeDemoContent(testkit::WriteInstallManifest(install), false, 1);
  testkit::PlainTextRoot unnamed;
  testkit::AddNamedFile(layout, unnamed, "", installFile);
  layout.buildConfig = {
      {"install", testkit::KeyText(installFile.ckey) + " " + testkit::KeyText(installFile.ekey)}};
  layout.download = testkit::DownloadManifest{};
  switch (variant.root) {
    case RootKind::kPlainText:
      layout.rootFile = testkit::WritePlainTextRoot(names);
      break;
    case RootKind::kNoLoaderTakes:
      layout.rootFile = std::vector<uint8_t>(40, 'x');
      break;
    case RootKind::kWow:
      layout.rootFile = testkit::WriteWowRoot(wow);
      break;
    case RootKind::kDiablo:
      testkit::StoreDiabloRoot(layout, diablo);
      break;
  }
  return testkit::WriteInstallation(root, layout);
}

// What is wrong with a session whose chosen allocation failed, or null.
// Nothing here allocates: the test counts the blocks alive after each run.
const char* Fault(const Session& run, const Session& clean) {
  if (run.escaped) return "an exception escaped the API";
  if (run.failedCall[0] == '\0') {
    return run.files == clean.files ? nullptr : "completed with other names or contents";
  }
  if (run.error != kErrorNotEnoughMemory) return "failed with an error other than 8";
  if (std::strcmp(run.failedCall, run.allocationCall) != 0) {
    return "failed in another call than the one whose allocation failed";
  }
  return nullptr;
}

class AllocationFailureTest : public ::testing::TestWithParam<Variant> {};

TEST_P(AllocationFailureTest, EveryAllocationOfASessionFailsCleanly) {
  testkit::TempFolder temp;
  const std::string path = WriteSmallInstallation(temp.path() / "game", GetParam()).root.string();

  // Once for the caches that live as long as the thread, once to count and
  // to see that a session leaves no block behind, once to keep.
  {
    const Session warmUp = RunSession(path, 0);
    ASSERT_EQ(warmUp.failedCall, std::string()) << warmUp.error;
  }
  uint64_t total = 0;
  const int64_t liveAtStart = LiveBlocks();
  { RunSession(path, 0, &total); }
  ASSERT_EQ(LiveBlocks(), liveAtStart);
  const Session clean = RunSession(path, 0);
  ASSERT_EQ(clean.failedCall, std::string()) << clean.error;
  ASSERT_GE(clean.files.size(), 7u);  // three files, four manifests
  if (GetParam().root == RootKind::kDiablo) {
    ASSERT_TRUE(std::any_of(clean.files.begin(), clean.files.end(), [](const FileRead& file) {
      return file.name == "Base\\Music\\Title.ogg";
    }));
  }
  ASSERT_GT(total, 100u);
  int64_t liveBefore = LiveBlocks();

  std::vector<std::string> faults;
  const auto started = std::chrono::steady_clock::now();
  for (uint64_t n = 1; n <= total && faults.size() < 20; ++n) {
    const char* fault = nullptr;
    const char* failedCall = "";
    const char* allocationCall = "";
    uint32_t error = 0;
    {
      const Session run = RunSession(path, n);
      fault = Fault(run, clean);
      failedCall = run.failedCall;
      allocationCall = run.allocationCall;
      error = run.error;
    }
    const int64_t leaked = LiveBlocks() - liveBefore;
    if (fault == nullptr && leaked == 0) continue;
    char line[256];
    std::snprintf(line, sizeof line,
                  "allocation %llu (in %s): %s; %s ended the session with %u; %lld blocks leaked",
                  static_cast<unsigned long long>(n), allocationCall, fault ? fault : "clean",
                  failedCall[0] ? failedCall : "no call", error, static_cast<long long>(leaked));
    faults.push_back(line);
    liveBefore = LiveBlocks();  // each leak reported once, the message not counted
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%llu allocations, each failed in turn in %.1f s\n",
              static_cast<unsigned long long>(total), seconds);
  for (const std::string& fault : faults) ADD_FAILURE() << fault;
}

INSTANTIATE_TEST_SUITE_P(Installations, AllocationFailureTest, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kestrine

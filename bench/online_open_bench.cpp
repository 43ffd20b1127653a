// Opening an online storage whose CDN configuration lists many archives,
// from an empty cache, against a loopback content server that delays every
// answer: the archive indexes fetched side by side against one at a time.
// Then one small file of a large remote archive is read, to show that only
// its piece is fetched.
//
//   online_open_bench [--mode both|concurrent|sequential] [--archives N]
//                     [--delay-ms MS]
//
// The floor is the one-at-a-time open of the same storage in the same run;
// target: the concurrent open at least 8 times faster.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "kestrine.h"
#include "online/online_open.h"
#include "testkit/blte.h"
#include "testkit/build_files.h"
#include "testkit/cdn_tree.h"
#include "testkit/demo_installation.h"
#include "testkit/roots.h"
#include "tests/online/loopback_server.h"

namespace kestrine::bench {
namespace {

namespace fs = std::filesystem;

struct Options {
  std::string mode = "both";
  size_t archives = 500;
  int delayMs = 20;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mode") == 0) {
      options.mode = argv[i + 1];
    } else if (std::strcmp(argv[i], "--archives") == 0) {
      options.archives = std::stoul(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--delay-ms") == 0) {
      options.delayMs = std::stoi(argv[i + 1]);
    } else {
      Die(std::string("unknown option ") + argv[i]);
    }
  }
  return options;
}

constexpr const char* kSmallName = "Small.dat";
constexpr size_t kLargeSize = 8 << 20;

// A small file and a large one share the first archive; filler archives
// bring the list to `archives`.
testkit::InstallationPlan MakePlan(size_t archives, testkit::StoredFile& small) {
  testkit::InstallationPlan plan;
  testkit::PlainTextRoot root;
  small = testkit::EncodeDemoContent(testkit::DataLikeBytes(3000, 1), false, 1);
  testkit::AddNamedFile(plan, root, kSmallName, small);
  testkit::AddNamedFile(plan, root, "Large.dat",
                        testkit::EncodeDemoContent(testkit::DataLikeBytes(kLargeSize, 2), true, 2));
  plan.rootFile = testkit::WritePlainTextRoot(root);
  plan.cdn.filesPerArchive = 2;
  plan.cdn.minimumArchives = archives;
  plan.cdn.fillerFilesPerArchive = 20;
  return plan;
}

uint64_t BytesBelow(const fs::path& folder) {
  uint64_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().filename() != "versions")
      total += entry.file_size();
  }
  return total;
}

struct OpenRun {
  double seconds = 0;
  size_t requests = 0;
  uint64_t bytes = 0;
};

// Opens the storage from a fresh cache with `inFlight` index downloads at
// once; with `readSmall`, reads the small file and reports its fetch.
OpenRun OpenOnce(test::LoopbackServer& server, const fs::path& cache, const std::string& product,
                 size_t inFlight, const testkit::StoredFile* readSmall) {
  fs::remove_all(cache);
  fs::create_directories(cache);
  testkit::WriteTextFile(cache / "versions", "");
  const std::string parameters = cache.string() + "*" + server.HostPort() + "*" + product;
  SetArchiveIndexFetchesInFlight(inFlight);
  server.ClearRequests();
  StorageOpenArgs args{};
  args.size = sizeof args;
  const auto start = std::chrono::steady_clock::now();
  StorageHandle storage = OpenStorage(parameters.c_str(), &args);
  OpenRun run{SecondsSince(start), server.Requests().size(), BytesBelow(cache)};
  if (storage == nullptr) Die("open failed, error " + std::to_string(GetCascError()));
  if (readSmall != nullptr) {
    server.ClearRequests();
    const uint64_t before = BytesBelow(cache);
    FileHandle file = nullptr;
    std::vector<uint8_t> content(readSmall->content.size());
    uint32_t read = 0;
    if (!OpenFileByName(storage, kSmallName, &file) ||
        !ReadOpenFile(file, content.data(), static_cast<uint32_t>(content.size()), &read) ||
        content != readSmall->content) {
      Die("reading the small file failed");
    }
    CloseFile(file);
    std::printf("read %s (%zu bytes): %zu request(s), %llu bytes fetched\n", kSmallName,
                content.size(), server.Requests().size(),
                static_cast<unsigned long long>(BytesBelow(cache) - before));
  }
  CloseStorage(storage);
  return run;
}

void Print(const char* label, const OpenRun& run) {
  std::printf("%-11s open %.3f s, %zu requests, %.1f KiB fetched\n", label, run.seconds,
              run.requests, run.bytes / 1024.0);
}

}  // namespace
}  // namespace kestrine::bench

int main(int argc, char** argv) {
  using namespace kestrine;
  using namespace kestrine::bench;
  const Options options = ParseOptions(argc, argv);
  testkit::TempFolder temp;
  testkit::StoredFile small;
  testkit::InstallationPlan plan = MakePlan(options.archives, small);
  test::LoopbackServer server(
      "cdn_server.py", {"--root", temp / "cdn", "--delay-ms", std::to_string(options.delayMs)});
  plan.cdn.hosts = server.HostPort();
  testkit::CdnTree tree = testkit::WriteCdnTree(temp.path() / "cdn", plan);
  std::printf("online storage: %zu archive indexes, first archive %.1f MiB, %d ms per answer\n",
              tree.archives.size(), tree.archives[0].dataSize / 1048576.0, options.delayMs);

  const bool both = options.mode == "both";
  OpenRun concurrent, sequential;
  if (both || options.mode == "concurrent") {
    concurrent = OpenOnce(server, temp.path() / "cache", plan.cdn.product, 16, &small);
    Print("concurrent", concurrent);
  }
  if (both || options.mode == "sequential") {
    sequential = OpenOnce(server, temp.path() / "cache", plan.cdn.product, 1, nullptr);
    Print("sequential", sequential);
  }
  if (both) {
    const double ratio = sequential.seconds / concurrent.seconds;
    std::printf("speed-up %.1fx (target 8x): %s\n", ratio, ratio >= 8 ? "met" : "MISSED");
  }
  return 0;
}

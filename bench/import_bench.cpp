// The whole import, `kestrine INSTALL_DIRECTORY OUTPUT_BUNDLE` run as a child
// process, timed against a floor over the same frames of the same assets: a
// positioned read of the encoded bytes into a page-aligned buffer, their MD5,
// libdeflate inflating into a buffer allocated once, the content's MD5 held
// against the asset's content key, and a buffered write of
// the bundle's bytes into a new file, synced and renamed over the previous
// one as the tool does. Floor and tool run interleaved, each once to warm
// the page cache and then ROUNDS times; medians are compared, because
// writing a new file takes a very different time from one run to the next.
//
//   import_bench TOOL FOLDER [ROUNDS]
//
// The installation (about 400 MiB of classic assets, plus files the import
// leaves out) is generated in FOLDER/install when absent.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "common/hex_key.h"
#include "common/md5.h"
#include "kestrine.h"
#include "storage/storage.h"
#include "testkit/blte.h"
#include "testkit/installation.h"
#include "testkit/roots.h"
#include "tool/asset_selection.h"

namespace fs = std::filesystem;
using namespace kestrine;
using namespace kestrine::bench;

namespace {

constexpr size_t KiB = 1024;
constexpr size_t MiB = 1024 * 1024;
constexpr size_t kStreamBufferSize = 1 << 20;  // the tool's bundle buffer
constexpr uint64_t kRssAllowance = 64 * MiB;   // above the largest asset

// ---------------------------------------------------------------------------
// The installation: the classic game's folders, names and mix, at scale.

// One group of stored files: `count` names "PREFIX\STEM0000EXT", extensions
// taken in turn, sizes spread over [minSize, maxSize].
struct Group {
  std::string prefix;
  std::string stem;
  std::vector<std::string> extensions;
  size_t count;
  size_t minSize;
  size_t maxSize;
  bool imported;
};

std::vector<Group> Groups() {
  const std::vector<std::string> unitExtensions = {".grp", ".grp", ".grp", ".loa", ".lob", ".lol"};
  return {
      {"SD\\arr", "Stat", {".dat", ".tbl"}, 120, KiB, 48 * KiB, true},
      {"SD\\scripts", "IScript", {".bin"}, 60, 2 * KiB, 64 * KiB, true},
      {"SD\\triggers", "Trig", {".trg"}, 40, KiB, 16 * KiB, true},
      {"SD\\unit\\terran", "Tunit", unitExtensions, 600, KiB, 100 * KiB, true},
      {"SD\\unit\\zerg", "Zunit", unitExtensions, 600, KiB, 100 * KiB, true},
      {"SD\\unit\\protoss", "Punit", unitExtensions, 600, KiB, 100 * KiB, true},
      {"SD\\tileset",
       "World",
       {".cv5", ".vf4", ".vr4", ".vx4", ".vx4ex", ".wpe", ".grp"},
       56,
       200 * KiB,
       3 * MiB,
       true},
      {"SD\\game", "Game", {".pcx", ".tbl", ".grp"}, 120, 2 * KiB, 400 * KiB, true},
      {"SD\\rez", "Rez", {".bin"}, 80, KiB, 20 * KiB, true},
      {"SD\\font", "Font", {".fnt"}, 12, 10 * KiB, 300 * KiB, true},
      {"SD\\glue\\pal", "Pal", {".pcx"}, 40, 10 * KiB, 300 * KiB, true},
      {"SD\\cursor", "Cursor", {".grp"}, 20, KiB, 20 * KiB, true},
      // Left out: other folders, other extensions, HD art, texture sidecars.
      {"HD\\unit\\terran", "Tunit", {".grp"}, 150, 4 * KiB, 200 * KiB, false},
      {"SD\\webui\\dist", "Page", {".html", ".js"}, 60, KiB, 40 * KiB, false},
      {"locales\\enUS\\Assets", "Text", {".json"}, 40, KiB, 20 * KiB, false},
      {"SD\\unit\\zerg", "Zunit", {".dds.grp"}, 20, KiB, 60 * KiB, false},
      {"SD\\music", "Terran", {".wav"}, 2, 3 * MiB, 4 * MiB, false},
  };
}

constexpr size_t kSounds = 1400;
constexpr size_t kUnnamedSounds = 200;  // stored, but not in the sound table
constexpr size_t kDuplicates = 24;      // a second name for an imported file

// A deterministic spread of values from an index.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

size_t SizeBetween(size_t low, size_t high, uint64_t seed) {
  return low + Mix(seed) % (high - low + 1);
}

std::string Numbered(const std::string& stem, size_t i) {
  char digits[24];
  std::snprintf(digits, sizeof(digits), "%04zu", i);
  return stem + digits;
}

// One stored file of the installation.
struct PlannedFile {
  std::string storageName;
  size_t size = 0;
  bool imported = false;
  bool plain = false;            // every frame 'N' (uncompressed sound)
  std::vector<uint8_t> content;  // set for the sound table; otherwise generated
};

std::vector<uint8_t> SoundTable(const std::vector<std::string>& names) {
  std::vector<uint8_t> table(2 + 2 * names.size());
  table[0] = static_cast<uint8_t>(names.size());
  table[1] = static_cast<uint8_t>(names.size() >> 8);
  for (size_t i = 0; i < names.size(); ++i) {
    const size_t offset = table.size();
    if (offset > 0xFFFF) Die("the sound table outgrew its 16-bit offsets");
    table[2 + 2 * i] = static_cast<uint8_t>(offset);
    table[3 + 2 * i] = static_cast<uint8_t>(offset >> 8);
    table.insert(table.end(), names[i].begin(), names[i].end());
    table.push_back(0);
  }
  return table;
}

// Sounds under "SD\sound\RACE\UNIT\", the table naming all but the last
// kUnnamedSounds; music, consoles; then the sound table itself.
void PlanSpecialFiles(std::vector<PlannedFile>& files) {
  const char* races[] = {"Terran", "Zerg", "Protoss", "Misc"};
  std::vector<std::string> tableNames;
  for (size_t i = 0; i < kSounds; ++i) {
    std::string name = std::string(races[i % 4]) + "\\" + Numbered("Unit", i % 97) + "\\" +
                       Numbered("Snd", i) + ".wav";
    const bool named = i < kSounds - kUnnamedSounds;
    if (named) tableNames.push_back(name);
    files.push_back(
        {"SD\\sound\\" + name, SizeBetween(8 * KiB, 200 * KiB, 7000 + i), named, i % 4 == 0, {}});
  }
  for (const char* music : {"terran1", "zerg1", "protoss1"}) {
    files.push_back({std::string("SD\\music\\") + music + ".wav",
                     SizeBetween(12 * MiB, 20 * MiB, files.size()),
                     true,
                     false,
                     {}});
  }
  for (const char* console : {"tconsole", "zconsole", "pconsole"}) {
    files.push_back({std::string("SD\\game\\") + console + ".dds",
                     SizeBetween(4 * MiB, 8 * MiB, files.size()),
                     true,
                     false,
                     {}});
  }
  PlannedFile table{"SD\\arr\\sfxdata.tbl", 0, true, false, SoundTable(tableNames)};
  table.size = table.content.size();
  files.push_back(std::move(table));
}

std::vector<PlannedFile> PlanFiles() {
  std::vector<PlannedFile> files;
  for (const Group& group : Groups()) {
    for (size_t i = 0; i < group.count; ++i) {
      const std::string& extension = group.extensions[i % group.extensions.size()];
      const size_t size = SizeBetween(group.minSize, group.maxSize, files.size());
      files.push_back({group.prefix + "\\" + Numbered(group.stem, i) + extension,
                       size,
                       group.imported,
                       false,
                       {}});
    }
  }
  PlanSpecialFiles(files);
  return files;
}

// Small files: one frame, often without a table; larger ones 64 KiB frames,
// the largest 256 KiB frames. Mostly 'Z', every tenth frame 'N'; a quarter
// of the sounds are stored plain throughout.
testkit::BltePlan PlanFor(const PlannedFile& file, uint64_t seed) {
  testkit::BltePlan layout;
  const size_t size = file.size;
  const uint8_t mode = file.plain || (size <= 64 * KiB && seed % 7 == 0) ? 'N' : 'Z';
  if (size <= 64 * KiB && seed % 3 == 0) {
    layout.frames = testkit::SplitFrames(size, size, mode);
    layout.frameTable = false;
    return layout;
  }
  layout.frames = testkit::SplitFrames(size, size > 2 * MiB ? 256 * KiB : 64 * KiB, mode);
  for (size_t i = 9; i < layout.frames.size(); i += 10) layout.frames[i].mode = 'N';
  return layout;
}

// Writes the installation: content into data.001 onwards as it is encoded,
// then the installation's own files (configuration, ENCODING manifest, the
// plain-text root) into data.000, the index files last. "assets.txt" lists
// the imported assets (asset name, CKey, size) and marks a finished folder.
void Generate(const fs::path& folder) {
  const fs::path install = folder / "install";
  const fs::path archiveFolder = install / "Data" / "data";
  fs::create_directories(archiveFolder);
  testkit::InstallationPlan layout;
  layout.products[0].product = "s1";
  layout.products[0].cdnPath = "tpr/sc1live";
  testkit::PlainTextRoot root;
  std::vector<testkit::IndexEntry> entries;
  ArchiveAppender archives(archiveFolder.string());
  std::string list;
  std::vector<PlannedFile> files = PlanFiles();
  for (size_t i = 0; i < files.size(); ++i) {
    PlannedFile& planned = files[i];
    std::vector<uint8_t> content = planned.content.empty()
                                       ? testkit::DataLikeBytes(planned.size, 100 + i)
                                       : std::move(planned.content);
    testkit::StoredFile file = testkit::EncodeFile(std::move(content), PlanFor(planned, Mix(i)));
    entries.push_back(archives.Append(file));
    layout.encoding.entries.push_back(
        {file.ckey, static_cast<uint32_t>(planned.size), {file.ekey}});
    root.lines.push_back(testkit::RootLine(planned.storageName, file.ckey));
    // Every few assets also appear under their name without "SD\" and in
    // other letter case: the same asset to the import, imported once.
    if (planned.imported && i % (files.size() / kDuplicates) == 0) {
      std::string alias = planned.storageName.substr(3);
      std::transform(alias.begin(), alias.end(), alias.begin(),
                     [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
      root.lines.push_back(testkit::RootLine(alias, file.ckey));
    }
    if (planned.imported) {
      list += NormalizeAssetName(planned.storageName) + ' ' + FormatHexKey(file.ckey) + ' ' +
              std::to_string(planned.size) + '\n';
    }
  }
  layout.rootFile = testkit::WritePlainTextRoot(root);
  testkit::Installation installation = testkit::WriteInstallation(install, layout);
  for (const testkit::StoredBlob& blob : installation.blobs) entries.push_back(blob.AsIndexEntry());
  testkit::IndexFolder index;
  index.entries = entries;
  if (!testkit::WriteIndexFolder(installation.archiveFolder.string(), index)) {
    Die("cannot write the index files");
  }
  std::ofstream(folder / "assets.txt") << list;
}

// ---------------------------------------------------------------------------
// What the import should produce.

struct Asset {
  std::string name;
  Key16 ckey{};
  uint64_t size = 0;
  std::vector<FloorFrame> frames;
};

// The imported assets in bundle order.
std::vector<Asset> ReadAssets(const fs::path& folder) {
  std::vector<Asset> assets;
  std::ifstream list(folder / "assets.txt");
  std::string name, ckey;
  uint64_t size = 0;
  while (list >> name >> ckey >> size) {
    Asset asset{name, {}, size, {}};
    if (!ParseHexKey(ckey, asset.ckey)) Die("bad line in assets.txt");
    assets.push_back(std::move(asset));
  }
  std::sort(assets.begin(), assets.end(),
            [](const Asset& a, const Asset& b) { return a.name < b.name; });
  return assets;
}

void CollectFrames(const fs::path& install, std::vector<Asset>& assets, ArchiveFiles& archives) {
  StorageOpenArgs args{};
  args.size = sizeof(args);
  StorageHandle storage = OpenStorage(install.c_str(), &args);
  if (storage == nullptr) Die("cannot open the storage, error " + std::to_string(GetCascError()));
  for (Asset& asset : assets)
    asset.frames = FramesOf(*StorageFromHandle(storage), asset.ckey, archives);
  CloseStorage(storage);
}

// Checks the tool's bundle record by record against the assets' CKeys.
void VerifyBundle(const fs::path& bundle, const std::vector<Asset>& assets) {
  std::ifstream in(bundle, std::ios::binary);
  auto get = [&](int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint64_t(uint8_t(in.get())) << (8 * i);
    return value;
  };
  char magic[4] = {};
  in.read(magic, 4);
  if (std::string_view(magic, 4) != "KVRN" || get(4) != assets.size()) {
    Die("the bundle's header is wrong");
  }
  std::vector<uint8_t> data;
  for (const Asset& asset : assets) {
    std::string name(get(2), '\0');
    data.resize(get(4));
    in.read(name.data(), static_cast<std::streamsize>(name.size()));
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!in || name != asset.name || ComputeMd5(data) != asset.ckey) {
      Die("the bundle's record " + name + " is not " + asset.name + " as stored");
    }
  }
  if (in.peek() != EOF) Die("the bundle runs on behind its last record");
}

// ---------------------------------------------------------------------------
// The runs.

// Wall time, and the processor time (user and system) the work took.
struct Timing {
  double seconds = 0;
  double userSeconds = 0;
  double systemSeconds = 0;
  uint64_t peakRssKiB = 0;
  double cpuSeconds() const { return userSeconds + systemSeconds; }
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

struct rusage OwnUsage() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage;
}

Timing RunTool(const std::string& tool, const fs::path& install, const fs::path& output,
               const fs::path& log) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(127);
    execl(tool.c_str(), tool.c_str(), install.c_str(), output.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) Die("cannot run " + tool);
  Timing run{SecondsSince(start), Seconds(usage.ru_utime), Seconds(usage.ru_stime),
             static_cast<uint64_t>(usage.ru_maxrss)};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Die(tool + " failed; its output: " + log.string());
  return run;
}

// The content buffer, backed by huge pages where the system offers them, as
// the tool's asset buffer is: fewer page faults and TLB misses.
AlignedBuffer HugePageBuffer(size_t size) {
  constexpr size_t kHugePage = size_t{2} << 20;
  const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  AlignedBuffer buffer(static_cast<uint8_t*>(std::aligned_alloc(kHugePage, rounded)));
  if (!buffer) Die("out of memory");
  madvise(buffer.get(), rounded, MADV_HUGEPAGE);
  return buffer;
}

class FloorWriter {
 public:
  explicit FloorWriter(const fs::path& output) : output_(output) {
    temporary_ = output.string() + ".XXXXXX";
    const int fd = mkstemp(temporary_.data());
    stream_ = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (stream_ == nullptr) Die("cannot create " + temporary_);
    std::setvbuf(stream_, buffer_.get(), _IOFBF, kStreamBufferSize);
  }
  void Put(const void* bytes, size_t size) {
    if (std::fwrite(bytes, 1, size, stream_) != size) Die("floor write failed");
  }
  void PutLittle(uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) std::fputc(static_cast<uint8_t>(value >> (8 * i)), stream_);
  }
  // Flush, fsync, close, rename over the output, fsync the folder.
  void Commit() {
    if (std::fflush(stream_) != 0 || fsync(fileno(stream_)) != 0 || std::fclose(stream_) != 0 ||
        std::rename(temporary_.c_str(), output_.c_str()) != 0) {
      Die("floor commit failed");
    }
    const int folder = open(output_.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0) return;
    fsync(folder);
    close(folder);
  }

 private:
  fs::path output_;
  std::string temporary_;
  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(kStreamBufferSize);
  std::FILE* stream_ = nullptr;
};

Timing RunFloor(const std::vector<Asset>& assets, const fs::path& output, uint8_t* encoded,
                uint8_t* content, libdeflate_decompressor* inflater) {
  const auto start = std::chrono::steady_clock::now();
  const struct rusage before = OwnUsage();
  FloorWriter writer(output);
  writer.Put("KVRN", 4);
  writer.PutLittle(assets.size(), 4);
  for (const Asset& asset : assets) {
    for (const FloorFrame& frame : asset.frames)
      DecodeFloorFrame(frame, encoded, content, inflater);
    // The tool holds every asset against its content key; so does the floor.
    if (ComputeMd5({content, asset.size}) != asset.ckey) Die("floor content is not its key");
    writer.PutLittle(asset.name.size(), 2);
    writer.PutLittle(asset.size, 4);
    writer.Put(asset.name.data(), asset.name.size());
    writer.Put(content, asset.size);
  }
  writer.Commit();
  const struct rusage after = OwnUsage();
  return {SecondsSince(start), Seconds(after.ru_utime) - Seconds(before.ru_utime),
          Seconds(after.ru_stime) - Seconds(before.ru_stime), 0};
}

void PrintRounds(const char* label, const std::vector<Timing>& runs) {
  std::vector<double> wall, user, system;
  std::printf("%-6s", label);
  for (const Timing& run : runs) {
    std::printf(" %.3f", run.seconds);
    wall.push_back(run.seconds);
    user.push_back(run.userSeconds);
    system.push_back(run.systemSeconds);
  }
  std::printf("  median %.3f s; processor user %.3f s, system %.3f s\n", Median(wall), Median(user),
              Median(system));
}

template <typename Measure>
double MedianOf(const std::vector<Timing>& runs, Measure measure) {
  std::vector<double> values;
  for (const Timing& run : runs) values.push_back(measure(run));
  return Median(values);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: import_bench TOOL FOLDER [ROUNDS]\n");
    return 1;
  }
  const std::string tool = fs::absolute(argv[1]).string();
  const fs::path folder = fs::absolute(argv[2]);
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
  const fs::path install = folder / "install";
  if (!fs::exists(folder / "assets.txt")) {
    std::printf("generating the installation in %s\n", install.c_str());
    fs::remove_all(install);
    if (!RunInChild([&] { Generate(folder); })) return 1;
  }
  std::vector<Asset> assets = ReadAssets(folder);
  uint64_t total = 0;
  uint64_t largest = 0;
  for (const Asset& asset : assets) {
    total += asset.size;
    largest = std::max(largest, asset.size);
  }
  ArchiveFiles archives((install / "Data" / "data").string());
  CollectFrames(install, assets, archives);
  size_t frameCount = 0;
  uint32_t largestFrame = 0;
  for (const Asset& asset : assets) {
    frameCount += asset.frames.size();
    for (const FloorFrame& frame : asset.frames)
      largestFrame = std::max(largestFrame, frame.encodedSize);
  }
  AlignedBuffer content = HugePageBuffer(largest);
  AlignedBuffer encoded = PageAligned(largestFrame);
  libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
  const fs::path toolBundle = folder / "tool.bundle";
  const fs::path floorBundle = folder / "floor.bundle";
  const fs::path log = folder / "tool.log";

  // Warm-up runs fill the page cache for both (it cannot be dropped by an
  // ordinary process); the tool's first bundle is checked against the CKeys.
  RunFloor(assets, floorBundle, encoded.get(), content.get(), inflater);
  RunTool(tool, install, toolBundle, log);
  VerifyBundle(toolBundle, assets);

  std::vector<Timing> floorRuns, toolRuns;
  uint64_t peakRssKiB = 0;
  for (int round = 0; round < rounds; ++round) {
    // Alternating which goes first, so that neither always inherits the
    // other's freshly dirtied and freed page cache.
    if (round % 2 != 0) toolRuns.push_back(RunTool(tool, install, toolBundle, log));
    floorRuns.push_back(RunFloor(assets, floorBundle, encoded.get(), content.get(), inflater));
    if (round % 2 == 0) toolRuns.push_back(RunTool(tool, install, toolBundle, log));
    peakRssKiB = std::max(peakRssKiB, toolRuns.back().peakRssKiB);
  }
  libdeflate_free_decompressor(inflater);

  const double mib = static_cast<double>(total) / MiB;
  auto wall = [](const Timing& run) { return run.seconds; };
  auto cpu = [](const Timing& run) { return run.cpuSeconds(); };
  const double floor = MedianOf(floorRuns, wall);
  const double toolTime = MedianOf(toolRuns, wall);
  const double ratio = toolTime / floor;
  const double cpuRatio = MedianOf(toolRuns, cpu) / MedianOf(floorRuns, cpu);
  const double rssMiB = peakRssKiB / 1024.0;
  const double rssTarget = static_cast<double>(largest + kRssAllowance) / MiB;
  std::printf("assets: %zu, frames: %zu, content: %.1f MiB, largest asset %.1f MiB\n",
              assets.size(), frameCount, mib, static_cast<double>(largest) / MiB);
  std::printf(
      "floor: read, MD5, libdeflate, content MD5, buffered write, fsync, rename (warm page "
      "cache)\n");
  PrintRounds("floor:", floorRuns);
  PrintRounds("tool:", toolRuns);
  std::printf("floor:  %.3f s  %.0f MiB/s\n", floor, mib / floor);
  std::printf("tool:   %.3f s  %.0f MiB/s\n", toolTime, mib / toolTime);
  std::printf("ratio:  %.3f (target 1.10) %s; processor time ratio %.3f\n", ratio,
              ratio <= 1.10 ? "met" : "MISSED", cpuRatio);
  std::printf("peak RSS of the tool: %.1f MiB (target %.1f MiB = largest asset + 64 MiB) %s\n",
              rssMiB, rssTarget, rssMiB <= rssTarget ? "met" : "MISSED");
  return 0;
}

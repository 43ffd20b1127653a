// Reading every file of a generated storage through OpenFileByName and
// ReadOpenFile, timed against a floor over the same frames: a positioned read
// of the encoded bytes into a page-aligned buffer, their MD5, and libdeflate
// inflating into the caller's buffer, nothing else.
//
//   read_bench FOLDER [MIB]   (the storage is generated in FOLDER when absent)
#include <sys/resource.h>

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
#include "encoded/open_file.h"
#include "kestrine.h"
#include "storage/storage.h"
#include "testkit/blte.h"
#include "testkit/installation.h"

namespace fs = std::filesystem;
using namespace kestrine;
using namespace kestrine::bench;

namespace {

// A file list line: CKey, EKey, content size.
struct ListedFile {
  Key16 ckey{};
  Key16 ekey{};
  uint32_t size = 0;
};

// The mix: many small files (one frame, or frames of 16 KiB; some plain) and
// a few multi-MiB files of 256 KiB frames, mostly zlib.
testkit::BltePlan PlanFor(size_t size, uint32_t seed) {
  testkit::BltePlan layout;
  const bool large = size > (1u << 20);
  const uint8_t mode = (!large && seed % 7 == 0) ? 'N' : 'Z';
  if (!large && seed % 3 == 0) {
    layout.frames = testkit::SplitFrames(size, size, mode);
    layout.frameTable = false;
    return layout;
  }
  layout.frames = testkit::SplitFrames(size, large ? 256 * 1024 : 16 * 1024, mode);
  for (size_t i = 9; i < layout.frames.size(); i += 10) layout.frames[i].mode = 'N';
  return layout;
}

std::vector<size_t> FileSizes(uint64_t totalMib) {
  std::vector<size_t> sizes;
  uint64_t small = totalMib * (1 << 20) * 3 / 10;
  uint64_t large = totalMib * (1 << 20) - small;
  for (uint32_t i = 0; small > 0; ++i) {
    size_t size = std::min<uint64_t>(small, 512 + (i * 7919u) % (64 * 1024));
    sizes.push_back(size);
    small -= size;
  }
  for (uint32_t i = 0; large > 0; ++i) {
    size_t size = std::min<uint64_t>(large, (2 + (i * 5) % 13) * (1u << 20) + i * 4099);
    sizes.push_back(size);
    large -= size;
  }
  return sizes;
}

// The content files go into archives from data.001 on, written as they are
// made; the installation (build files, configuration, ENCODING manifest
// listing every file, data.000) is written afterwards, and the index files
// last, covering both.
void Generate(const fs::path& folder, uint64_t totalMib) {
  const fs::path archiveFolder = folder / "Data" / "data";
  fs::create_directories(archiveFolder);
  testkit::InstallationPlan layout;
  std::vector<testkit::IndexEntry> entries;
  std::ofstream list(folder / "files.txt");
  ArchiveAppender archives(archiveFolder.string());
  uint32_t seed = 0;
  for (size_t size : FileSizes(totalMib)) {
    ++seed;
    testkit::StoredFile file =
        testkit::EncodeFile(testkit::DataLikeBytes(size, seed), PlanFor(size, seed));
    entries.push_back(archives.Append(file));
    layout.encoding.entries.push_back({file.ckey, size, {file.ekey}});
    list << FormatHexKey(file.ckey) << ' ' << FormatHexKey(file.ekey) << ' ' << size << '\n';
  }
  testkit::Installation installation = testkit::WriteInstallation(folder, layout);
  for (const testkit::StoredBlob& blob : installation.blobs) entries.push_back(blob.AsIndexEntry());
  testkit::IndexFolder index;
  index.entries = entries;
  testkit::WriteIndexFolder(installation.archiveFolder.string(), index);
}

std::vector<ListedFile> ReadList(const fs::path& folder) {
  std::vector<ListedFile> files;
  std::ifstream list(folder / "files.txt");
  std::string ckey, ekey;
  uint32_t size = 0;
  while (list >> ckey >> ekey >> size) {
    ListedFile file;
    ParseHexKey(ckey, file.ckey);
    ParseHexKey(ekey, file.ekey);
    file.size = size;
    files.push_back(file);
  }
  return files;
}

// The reader: every file by name, read whole into the caller's buffer.
double ReadThroughLibrary(StorageHandle storage, const std::vector<ListedFile>& files,
                          uint8_t* buffer, bool verify) {
  const auto start = std::chrono::steady_clock::now();
  for (const ListedFile& listed : files) {
    char name[33];
    FormatHexKey(listed.ckey, name);
    FileHandle file = nullptr;
    uint64_t size = 0;
    uint32_t count = 0;
    if (!OpenFileByName(storage, name, &file) || GetFileContentSize(file, &size) != 0 ||
        !ReadOpenFile(file, buffer, static_cast<uint32_t>(size), &count) || count != size ||
        (verify && ComputeMd5({buffer, size}) != listed.ckey)) {
      std::fprintf(stderr, "reading %s failed (error %u)\n", name, GetCascError());
      std::exit(1);
    }
    CloseFile(file);
  }
  return SecondsSince(start);
}

// The frames of every file, as the reader's spans know them.
std::vector<std::vector<FloorFrame>> CollectFrames(StorageHandle handle,
                                                   const std::vector<ListedFile>& files,
                                                   ArchiveFiles& archives) {
  TCascStorage& storage = *StorageFromHandle(handle);
  std::vector<std::vector<FloorFrame>> all;
  for (const ListedFile& listed : files) all.push_back(FramesOf(storage, listed.ckey, archives));
  return all;
}

double ReadFloor(const std::vector<std::vector<FloorFrame>>& files, uint8_t* encoded,
                 uint8_t* buffer, libdeflate_decompressor* inflater) {
  const auto start = std::chrono::steady_clock::now();
  for (const auto& frames : files) {
    for (const FloorFrame& frame : frames) DecodeFloorFrame(frame, encoded, buffer, inflater);
  }
  return SecondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: read_bench FOLDER [MIB]\n");
    return 1;
  }
  const fs::path folder = argv[1];
  const uint64_t totalMib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 256;
  if (!fs::exists(folder / "files.txt")) {
    // Generated in a child process, so that its memory does not count.
    std::printf("generating %llu MiB of content in %s\n", static_cast<unsigned long long>(totalMib),
                folder.c_str());
    if (!RunInChild([&] { Generate(folder, totalMib); })) return 1;
  }
  const std::vector<ListedFile> files = ReadList(folder);
  uint64_t total = 0;
  size_t largest = 0;
  for (const ListedFile& file : files) {
    total += file.size;
    largest = std::max<size_t>(largest, file.size);
  }
  StorageOpenArgs args{};
  args.size = sizeof(args);
  StorageHandle storage = OpenStorage(folder.c_str(), &args);
  if (storage == nullptr) {
    std::fprintf(stderr, "cannot open the storage (error %u)\n", GetCascError());
    return 1;
  }
  AlignedBuffer buffer = PageAligned(largest);
  ArchiveFiles archives((folder / "Data" / "data").string());
  const auto frames = CollectFrames(storage, files, archives);
  const uint32_t largestEncoded = LargestEncodedFrame(frames);
  AlignedBuffer encoded = PageAligned(largestEncoded);
  libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();

  ReadThroughLibrary(storage, files, buffer.get(), true);  // checks every byte, warms the cache
  double reader = 1e9;
  double floor = 1e9;
  for (int round = 0; round < 7; ++round) {
    floor = std::min(floor, ReadFloor(frames, encoded.get(), buffer.get(), inflater));
    reader = std::min(reader, ReadThroughLibrary(storage, files, buffer.get(), false));
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  const double mib = static_cast<double>(total) / (1 << 20);
  std::printf("files: %zu, content: %.1f MiB, largest file %.1f MiB, largest frame %u bytes\n",
              files.size(), mib, largest / 1048576.0, largestEncoded);
  std::printf("floor:  %.3f s  %.0f MB/s\n", floor, mib / floor);
  std::printf("reader: %.3f s  %.0f MB/s\n", reader, mib / reader);
  std::printf("ratio:  %.3f (target 1.10)\n", reader / floor);
  std::printf("peak memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);

  libdeflate_free_decompressor(inflater);
  CloseStorage(storage);
  return 0;
}

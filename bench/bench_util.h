// Helpers shared by the benchmarks: generated storages written archive by
// archive, and the floor that a benchmark times the reader against (the same
// frames read, checked and inflated with nothing around them).
#pragma once

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "common/md5.h"
#include "encoded/open_file.h"
#include "kestrine.h"
#include "storage/storage.h"
#include "testkit/blte.h"
#include "testkit/index_files.h"

namespace kestrine::bench {

inline double SecondsSince(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

[[noreturn]] inline void Die(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(1);
}

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

inline AlignedBuffer PageAligned(size_t size) {
  const size_t rounded = std::max<size_t>((size + 4095) / 4096, 1) * 4096;
  return AlignedBuffer(static_cast<uint8_t*>(std::aligned_alloc(4096, rounded)));
}

// Runs `work` in a child process, so that the memory it takes is not the
// benchmark's. False when the child fails.
inline bool RunInChild(const std::function<void()>& work) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    work();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Content files appended to the data archives from data.001 on (data.000 is
// the installation's own), each archive up to 256 MiB, written as they come.
class ArchiveAppender {
 public:
  static constexpr uint32_t kFirstArchive = 1;
  static constexpr uint64_t kArchiveLimit = 256ull << 20;

  explicit ArchiveAppender(std::string folder) : folder_(std::move(folder)) {}

  // Stores the encoded file behind its record header; returns its index entry.
  testkit::IndexEntry Append(const testkit::StoredFile& file) {
    testkit::DataArchiveWriter record;
    record.Add(file.ekey, file.encoded);
    const std::vector<uint8_t>& bytes = record.archives().begin()->second;
    if (offset_ + bytes.size() > kArchiveLimit) {
      out_ = std::ofstream(folder_ + "/" + testkit::DataArchiveName(next_++), std::ios::binary);
      offset_ = 0;
    }
    out_.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!out_) Die("cannot write a data archive in " + folder_);
    testkit::IndexEntry entry{file.ekey, testkit::PackStorageOffset(next_ - 1, offset_),
                              static_cast<uint32_t>(bytes.size())};
    offset_ += bytes.size();
    return entry;
  }

 private:
  std::string folder_;
  std::ofstream out_;
  uint32_t next_ = kFirstArchive;
  uint64_t offset_ = kArchiveLimit;  // the first file opens data.001
};

// One frame as the floor reads it.
struct FloorFrame {
  int fd = -1;
  uint64_t dataOffset = 0;
  uint64_t contentOffset = 0;  // in the file's content
  uint32_t encodedSize = 0;
  uint32_t contentSize = 0;
  bool checked = false;  // has an MD5 to check
};

// Data archives opened once for the floor, by archive index.
class ArchiveFiles {
 public:
  explicit ArchiveFiles(std::string folder) : folder_(std::move(folder)) {}
  ~ArchiveFiles() {
    for (const auto& [archive, fd] : fds_) close(fd);
  }
  ArchiveFiles(const ArchiveFiles&) = delete;
  ArchiveFiles& operator=(const ArchiveFiles&) = delete;

  int Get(uint32_t archive) {
    auto [it, added] = fds_.try_emplace(archive, -1);
    if (added)
      it->second = open((folder_ + "/" + testkit::DataArchiveName(archive)).c_str(), O_RDONLY);
    if (it->second < 0) Die("cannot open archive " + std::to_string(archive));
    return it->second;
  }

 private:
  std::string folder_;
  std::map<uint32_t, int> fds_;
};

// The frames of the file with `ckey`, as the reader's spans know them.
inline std::vector<FloorFrame> FramesOf(TCascStorage& storage, const Key16& ckey,
                                        ArchiveFiles& archives) {
  TCascFile* file = nullptr;
  uint32_t error = OpenFileByCKey(storage, ckey, file);
  if (error == 0) error = EnsureFileSpans(*file);
  if (error != 0) {
    Die("cannot load the frames of " + FormatHexKey(ckey) + " (error " + std::to_string(error) +
        ")");
  }
  std::vector<FloorFrame> frames;
  for (uint32_t s = 0; s < file->spanCount; ++s) {
    const TFileSpan& span = file->spans[s];
    const int fd = archives.Get(span.archiveIndex);
    for (const TFrame& frame : span.frames) {
      const bool checked =
          std::any_of(frame.md5.begin(), frame.md5.end(), [](uint8_t b) { return b != 0; });
      frames.push_back({fd, frame.dataOffset, frame.contentStart, frame.encodedSize,
                        frame.contentSize, checked});
    }
  }
  CloseFile(HandleOf(file));
  return frames;
}

// The least work that reading a frame takes: a positioned read of its encoded
// bytes into a page-aligned buffer, their MD5, and libdeflate inflating (or a
// copy of a plain frame) into the file's content buffer.
inline void DecodeFloorFrame(const FloorFrame& frame, uint8_t* encoded, uint8_t* content,
                             libdeflate_decompressor* inflater) {
  if (pread(frame.fd, encoded, frame.encodedSize, static_cast<off_t>(frame.dataOffset)) !=
      static_cast<ssize_t>(frame.encodedSize)) {
    Die("cannot read a frame");
  }
  if (frame.checked) (void)ComputeMd5({encoded, frame.encodedSize});
  uint8_t* out = content + frame.contentOffset;
  if (encoded[0] == 'Z') {
    size_t produced = 0;
    libdeflate_zlib_decompress(inflater, encoded + 1, frame.encodedSize - 1, out, frame.contentSize,
                               &produced);
  } else {
    std::memcpy(out, encoded + 1, frame.encodedSize - 1);
  }
}

inline uint32_t LargestEncodedFrame(const std::vector<std::vector<FloorFrame>>& files) {
  uint32_t largest = 0;
  for (const auto& frames : files) {
    for (const FloorFrame& frame : frames) largest = std::max(largest, frame.encodedSize);
  }
  return largest;
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace kestrine::bench

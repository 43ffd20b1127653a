// Helpers shared by the tests: temporary folders, whole-file reads, a reader
// of the bundle format, sound tables, captured output streams, a child process
// whose file writes fail beyond a size limit, and memory that ends at an
// inaccessible page.
#pragma once

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrine::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it. It lives on a RAM-backed file
// system when there is one, so that large bundles and fsync stay cheap.
class TempDir {
 public:
  TempDir() {
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/kestrine-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed under " << base;
      return;
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// Names in `folder`, sorted, hidden ones included.
inline std::vector<std::string> FolderListing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string ReadBytesAt(const fs::path& path, uint64_t offset, size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// ---- The bundle format, read independently of the writer ----

struct BundleRecordInfo {
  std::string name;
  uint32_t dataSize = 0;
  uint64_t dataOffset = 0;  // from the start of the file
};

// Reads the header and every record header, skipping the data, and checks
// that the records fill the file exactly.
inline testing::AssertionResult ReadBundleIndex(const fs::path& path,
                                                std::vector<BundleRecordInfo>& records) {
  records.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return testing::AssertionFailure() << "cannot open " << path;
  uint64_t fileSize = fs::file_size(path);
  auto readLittle = [&](int byteCount, uint64_t& value) {
    value = 0;
    for (int i = 0; i < byteCount; ++i) {
      int byte = in.get();
      if (byte == EOF) return false;
      value |= uint64_t(byte) << (8 * i);
    }
    return true;
  };

  char magic[4] = {};
  in.read(magic, 4);
  if (!in || std::memcmp(magic, "KVRN", 4) != 0) {
    return testing::AssertionFailure() << "no KVRN magic";
  }
  uint64_t count = 0;
  if (!readLittle(4, count)) return testing::AssertionFailure() << "truncated record count";
  uint64_t position = 8;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t nameLength = 0;
    uint64_t dataSize = 0;
    if (!readLittle(2, nameLength) || !readLittle(4, dataSize)) {
      return testing::AssertionFailure() << "truncated header of record " << i;
    }
    BundleRecordInfo record;
    record.name.resize(nameLength);
    in.read(record.name.data(), static_cast<std::streamsize>(nameLength));
    if (!in) return testing::AssertionFailure() << "truncated name of record " << i;
    record.dataSize = static_cast<uint32_t>(dataSize);
    record.dataOffset = position + 6 + nameLength;
    position = record.dataOffset + dataSize;
    if (position > fileSize) return testing::AssertionFailure() << "truncated data of record " << i;
    in.seekg(static_cast<std::streamoff>(position));
    records.push_back(std::move(record));
  }
  if (position != fileSize) {
    return testing::AssertionFailure() << (fileSize - position) << " bytes after the last record";
  }
  return testing::AssertionSuccess();
}

struct BundleRecord {
  std::string name;
  std::string data;
  bool operator==(const BundleRecord&) const = default;
};

inline void PrintTo(const BundleRecord& record, std::ostream* os) {
  *os << "{" << testing::PrintToString(record.name) << ", " << record.data.size() << " bytes}";
}

// Reads a small bundle whole.
inline testing::AssertionResult ReadBundle(const fs::path& path,
                                           std::vector<BundleRecord>& records) {
  std::vector<BundleRecordInfo> index;
  testing::AssertionResult parsed = ReadBundleIndex(path, index);
  if (!parsed) return parsed;
  std::string bytes = ReadFile(path);
  records.clear();
  for (const BundleRecordInfo& info : index) {
    records.push_back({info.name, bytes.substr(info.dataOffset, info.dataSize)});
  }
  return testing::AssertionSuccess();
}

// ---- Sound tables ----

// A sound table: `count`, the offset slots as given, then `tail` (names and
// any other bytes) right behind the slots.
inline std::string SoundTableBytes(uint16_t count, const std::vector<uint16_t>& offsets,
                                   const std::string& tail = "") {
  std::string bytes;
  auto put16 = [&](uint16_t value) {
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>(value >> 8));
  };
  put16(count);
  for (uint16_t offset : offsets) put16(offset);
  return bytes + tail;
}

// A well-formed sound table naming `names`, each zero-terminated, in order.
inline std::string SoundTableNaming(const std::vector<std::string>& names) {
  std::vector<uint16_t> offsets;
  std::string tail;
  size_t nameBase = 2 + 2 * names.size();
  for (const std::string& name : names) {
    offsets.push_back(static_cast<uint16_t>(nameBase + tail.size()));
    tail += name + '\0';
  }
  return SoundTableBytes(static_cast<uint16_t>(names.size()), offsets, tail);
}

// ---- Output capture and failures ----

// A FILE* that writes into memory.
class CapturedStream {
 public:
  CapturedStream() : stream_(::open_memstream(&buffer_, &length_)) {}
  ~CapturedStream() {
    std::fclose(stream_);
    std::free(buffer_);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;

  std::FILE* get() const { return stream_; }
  std::string Text() {
    std::fflush(stream_);
    return std::string(buffer_, length_);
  }

 private:
  char* buffer_ = nullptr;
  size_t length_ = 0;
  std::FILE* stream_;
};

// The message of the exception `action` raises, or "(no failure)".
inline std::string FailureMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& failure) {
    return failure.what();
  }
  return "(no failure)";
}

// Runs `body` in a forked child in which SIGXFSZ is ignored and no file may
// grow beyond `fileSizeLimit` bytes, so that writes past it fail with EFBIG.
// Returns the text the body returned; the parent process is unaffected.
inline std::string RunWithFileSizeLimit(rlim_t fileSizeLimit,
                                        const std::function<std::string()>& body) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return "(pipe failed)";
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child < 0) return "(fork failed)";
  if (child == 0) {
    ::close(pipeEnds[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{fileSizeLimit, fileSizeLimit};
    std::string result = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? body() : "(setrlimit failed)";
    size_t written = 0;
    while (written < result.size()) {
      ssize_t n = ::write(pipeEnds[1], result.data() + written, result.size() - written);
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string result;
  char chunk[4096];
  for (ssize_t n; (n = ::read(pipeEnds[0], chunk, sizeof(chunk))) > 0;) result.append(chunk, n);
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "(child did not finish)";
  return result;
}

// ---- Memory that ends where an inaccessible page begins ----

// Holds bytes flush against a PROT_NONE page, so that reading even one byte
// past them faults.
class GuardedBytes {
 public:
  explicit GuardedBytes(size_t size) : size_(size) {
    pageSize_ = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    mappedSize_ = ((size + pageSize_ - 1) / pageSize_ + 1) * pageSize_;
    void* mapped =
        ::mmap(nullptr, mappedSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
      ADD_FAILURE() << "mmap failed";
      return;
    }
    mapping_ = static_cast<uint8_t*>(mapped);
    uint8_t* guard = mapping_ + mappedSize_ - pageSize_;
    if (::mprotect(guard, pageSize_, PROT_NONE) != 0) ADD_FAILURE() << "mprotect failed";
    data_ = guard - size;
  }
  GuardedBytes(const std::vector<uint8_t>& bytes) : GuardedBytes(bytes.size()) {
    std::copy(bytes.begin(), bytes.end(), data_);
  }
  ~GuardedBytes() {
    if (mapping_ != nullptr) ::munmap(mapping_, mappedSize_);
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  std::span<const uint8_t> span() const { return {data_, size_}; }

 private:
  size_t size_;
  size_t pageSize_ = 0;
  size_t mappedSize_ = 0;
  uint8_t* mapping_ = nullptr;
  uint8_t* data_ = nullptr;
};

}  // namespace kestrine::test

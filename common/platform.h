// The one place that talks to the operating system about files and folders.
//
// Internal paths use '\' between components; this layer turns them into '/'
// for the OS. Installations are often copied from Windows, whose file systems
// ignore case: when a path does not exist as written, each missing component
// is resolved by a case-insensitive match in its parent folder (an exact
// match preferred), so "Data\data\0000000001.idx" finds
// ".../data/0000000001.IDX" or ".../Data/data/..." alike.
//
// Failures return the storage layer's error numbers: 2 not found, 3 path not
// found, 5 access denied, 8 out of memory, 38 read past the end, 112 disk
// full, 87 bad parameter; the few other OS errors keep their Windows numbers
// below, and anything unforeseen reads as an I/O device error (1117).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "kestrine.h"

namespace kestrine::platform {

// The Windows numbers of OS failures (the public header has them all).
using kestrine::kErrorAccessDenied;
using kestrine::kErrorAlreadyExists;
using kestrine::kErrorIoDevice;
using kestrine::kErrorTooManyOpenFiles;

// The OS path for an internal path: separators turned into '/', and missing
// components resolved without regard to case when that finds them.
std::string ResolvePath(std::string_view internalPath);

bool IsDirectory(std::string_view internalPath);
bool Exists(std::string_view internalPath);

// Calls onEntry(name, isDirectory) for every entry but "." and ".."; stops
// when it returns false. Returns 0 or the error number (3 when the folder
// cannot be opened).
uint32_t ListDirectory(std::string_view internalPath,
                       const std::function<bool(std::string_view name, bool isDirectory)>& onEntry);

// Creates one folder; an existing folder is success.
uint32_t MakeDirectory(std::string_view internalPath);

// Renames a file, replacing a file of the new name at once (readers see the
// old file or the new one, never a mix).
uint32_t RenameFile(std::string_view fromInternalPath, std::string_view toInternalPath);
// Puts everything written to the file system that holds the folder on the
// disk: one flush for many files.
uint32_t SyncFileSystem(std::string_view internalFolder);
// Removes a file; a missing file is success.
uint32_t RemoveFile(std::string_view internalPath);
// Maps an errno value to the storage layer's error number.
uint32_t ErrorFromErrno(int errnoValue);

// A file descriptor owned by RAII, with positioned I/O.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Open an existing file (read-only or read-write) / create a new one, or
  // truncate an existing one, for reading and writing. Return 0 or the error
  // number: 2 when the folder exists but the file not, 3 when the folder is
  // missing, 87 for a folder. Only regular files open: a FIFO, socket or
  // device gives 2, and opening one never waits (for a FIFO's writer).
  [[nodiscard]] uint32_t Open(std::string_view internalPath, bool writable);
  [[nodiscard]] uint32_t Create(std::string_view internalPath);
  // Creates a new file of a name no other file has, in `folder`: `prefix`
  // followed by random characters. `internalPath` receives its path.
  [[nodiscard]] uint32_t CreateUnique(std::string_view folder, std::string_view prefix,
                                      std::string* internalPath);

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Read or write exactly `length` bytes at `offset`. A read that meets the
  // end of the file first reports 38 and how much was read.
  [[nodiscard]] uint32_t ReadAt(uint64_t offset, void* buffer, size_t length,
                                size_t* bytesRead) const;
  [[nodiscard]] uint32_t WriteAt(uint64_t offset, const void* buffer, size_t length) const;
  [[nodiscard]] uint32_t Size(uint64_t* size) const;
  // Last-write time as a Windows file time (100 ns units since 1601-01-01).
  [[nodiscard]] uint32_t LastWriteTime(uint64_t* fileTime) const;
  [[nodiscard]] uint32_t Resize(uint64_t size) const;
  // Waits until the bytes written are on the disk.
  [[nodiscard]] uint32_t Sync() const;
  void Close();

 private:
  int fd_ = -1;
};

// A read-only mapping of a whole regular file, opened as File::Open does. An
// empty file cannot be mapped: 1006, the number Windows gives for it.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  [[nodiscard]] uint32_t Open(std::string_view internalPath);
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  uint64_t lastWriteTime() const { return fileTime_; }
  void Close();

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  uint64_t fileTime_ = 0;
};

}  // namespace kestrine::platform

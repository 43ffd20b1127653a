// The output bundle: a plain sequential file that another program loads.
//
// Layout (integers unsigned little-endian, written byte by byte):
//   offset  size  field
//   0       4     magic "KVRN"
//   4       4     record count
//   8       var.  records, back to back, sorted by name (unsigned bytes)
// Record:
//   0       2     name length
//   2       4     data size (the asset's decoded size)
//   6       var.  name: lower case, '/' separators, no terminator
//   6 + n   var.  data
//
// The bundle is written into a temporary file beside the output path and
// renamed over it only when complete, so a failed import never damages an
// existing bundle and never leaves a partial one. Only a regular file is
// replaced: an output that is a folder, FIFO, socket or device is left alone.
// A symbolic link is followed to the file it names, which is replaced in its
// own folder while the link stays; a link that names no file is refused.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace kestrine {

inline constexpr char kBundleMagic[4] = {'K', 'V', 'R', 'N'};

class BundleWriter {
 public:
  // Creates the temporary file. Raises "Cannot create output bundle" when the
  // output path is not a regular file (nor a link to one, nor missing) or no
  // file can be created beside it.
  explicit BundleWriter(const std::string& outputPath);
  // Closes and removes the temporary file unless Commit() succeeded.
  ~BundleWriter();
  BundleWriter(const BundleWriter&) = delete;
  BundleWriter& operator=(const BundleWriter&) = delete;

  // Raise "Write failed" when a byte is not written.
  void WriteHeader(uint32_t recordCount);
  void WriteRecord(std::string_view name, std::span<const uint8_t> data);

  // Flushes, syncs and closes the file and renames it to the output path.
  // Raises "Bundle close failed"; the temporary file is removed either way.
  void Commit();

  // Closes and removes the temporary file, ignoring errors.
  void Abandon();

  const std::string& temporaryPath() const { return temporaryPath_; }

 private:
  void PutByte(uint8_t byte);
  void PutLittle(uint64_t value, int byteCount);
  void PutBlock(std::span<const uint8_t> bytes);
  bool FlushSyncClose();

  std::string replacedFile_;  // the output, or the file its links name
  std::string temporaryPath_;
  std::unique_ptr<char[]> streamBuffer_;  // outlives stream_, which uses it
  std::FILE* stream_ = nullptr;
};

}  // namespace kestrine

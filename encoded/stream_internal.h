// The inside of a TStream, shared by the stream sources only.
//
// A stream is a base provider (the bytes of one file: local, mapped or
// remote) with an optional block layer on top. Without a layer the stream's
// operations are the provider's own; a block layer (flat with a bitmap or a
// master, partial, encrypted archive, four-part) replaces the read with the
// block reader, which asks the layer which blocks are present and reads runs
// of equally available blocks through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "encoded/stream.h"
#include "kestrine.h"

namespace kestrine {

// The bytes of one file and its base state: size, position, last-write time.
// Reads and writes take the provider's lock around the positioned operation
// and the update of the position, so one stream can serve several threads.
class BaseProvider {
 public:
  explicit BaseProvider(bool zeroFill) : zeroFill_(zeroFill) {}
  virtual ~BaseProvider() = default;
  BaseProvider(const BaseProvider&) = delete;
  BaseProvider& operator=(const BaseProvider&) = delete;

  // A new file for reading and writing, replacing any file of that name.
  [[nodiscard]] virtual uint32_t Create(std::string_view path);
  [[nodiscard]] virtual uint32_t Open(std::string_view path, bool writable) = 0;
  // Exactly `length` bytes at `offset` (the position when absent). A read
  // that meets the end of the file fails with 38, or with zero-fill fills
  // the tail with zeros and succeeds. The position becomes the offset plus
  // the bytes read.
  [[nodiscard]] uint32_t Read(std::optional<uint64_t> offset, void* buffer, size_t length);
  [[nodiscard]] virtual uint32_t Write(std::optional<uint64_t> offset, const void* buffer,
                                       size_t length);
  [[nodiscard]] virtual uint32_t Resize(uint64_t size);

  // Makes size() known before a size query. The network providers perform
  // their request here (or on the first read).
  [[nodiscard]] virtual uint32_t LoadSize() { return kErrorSuccess; }

  // The mapped and network providers can only be read.
  virtual bool setsReadOnly() const { return false; }
  uint64_t size() const;
  uint64_t position() const;
  uint64_t fileTime() const { return fileTime_; }

 protected:
  // Reads under the lock; sets `bytesRead` even when failing.
  virtual uint32_t ReadLocked(uint64_t offset, void* buffer, size_t length, size_t* bytesRead) = 0;

  mutable std::mutex lock_;
  uint64_t fileSize_ = 0;
  uint64_t position_ = 0;
  uint64_t fileTime_ = 0;

 private:
  bool zeroFill_;
};

// The provider chosen by the provider bits of `flags` (SF_ZEROFILL honoured).
std::unique_ptr<BaseProvider> MakeBaseProvider(uint32_t flags);
// "http:" (or "ribbit:" when `ribbit`), from the online layer.
std::unique_ptr<BaseProvider> MakeNetworkProvider(bool ribbit, bool zeroFill);

// What a block layer adds to a stream: how a run of blocks is read, whether a
// block is present, and what is written back on close.
class BlockLayer {
 public:
  virtual ~BlockLayer() = default;
  // Fills `buffer` with the stream bytes [start, end); `start` is block
  // `blockIndex`'s offset, and every block of the run is present or none is.
  [[nodiscard]] virtual bool BlockRead(TStream& stream, uint64_t start, uint64_t end,
                                       uint8_t* buffer, uint64_t blockIndex, bool present) = 0;
  virtual bool BlockCheck(const TStream& stream, uint64_t blockIndex) const = 0;
  virtual void Close(TStream& stream) = 0;
};

// Blocks beyond this size are refused in files: the block reader widens every
// read to whole blocks, and a size taken from a file must not decide how much
// one read allocates.
inline constexpr uint32_t kMaxBlockSize = 0x100000;

struct TStream {
  std::unique_ptr<BaseProvider> base;
  std::unique_ptr<BlockLayer> layer;  // null: the stream is the base file itself
  StreamPtr master;                   // missing blocks are fetched from it
  std::string fileName;               // the local name, prefixes removed
  uint32_t flags = 0;                 // SF_*, provider and layer bits included

  // Block streams only: the stream as the caller sees it, and its blocks.
  std::mutex blockLock;  // the block reader's state below
  uint64_t streamSize = 0;
  uint64_t streamPosition = 0;
  uint32_t buildNumber = 0;
  uint32_t blockSize = 0;
  uint64_t blockCount = 0;
  bool complete = false;  // every block present; never goes back to false
  bool modified = false;  // the block map must be written back on close

  bool readOnly() const { return (flags & SF_READONLY) != 0; }
};

// Layer set-up after the base provider exists; each returns 0 or the error.
// A flat stream without bitmap or master gets no layer.
[[nodiscard]] uint32_t OpenFlatStream(TStream& stream);
[[nodiscard]] uint32_t OpenPartialStream(TStream& stream);
[[nodiscard]] uint32_t OpenEncryptedStream(TStream& stream);
[[nodiscard]] uint32_t OpenFourPartStream(TStream& stream);

// Asks the master for its size: the size of a stream that caches it.
[[nodiscard]] uint32_t MasterStreamSize(TStream& stream, uint64_t* size);

// ceil(size / blockSize) for a non-zero block size.
inline uint64_t BlocksFor(uint64_t size, uint64_t blockSize) {
  return size / blockSize + (size % blockSize != 0 ? 1 : 0);
}

}  // namespace kestrine

// Opening streams from their names, the stream operations, and the block
// reader shared by every block layer.
//
// A name reads "[layer-][provider:[//]]local name[*master name]":
//   layer     "flat-" (default), "part-", "mpqe-", "blk4-"
//   provider  "file:" (default), "map:", "http:", "ribbit:"
//   master    a second stream, opened read-only, that fills missing blocks
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "common/errors.h"
#include "common/platform.h"
#include "encoded/stream_internal.h"

namespace kestrine {

namespace {

constexpr uint32_t kLayerFlat = 0x00;
constexpr uint32_t kLayerPartial = 0x10;
constexpr uint32_t kLayerEncrypted = 0x20;
constexpr uint32_t kLayerFourPart = 0x30;

struct Prefix {
  std::string_view text;
  uint32_t bits;
};

constexpr Prefix kLayerPrefixes[] = {
    {"flat-", kLayerFlat},
    {"part-", kLayerPartial},
    {"mpqe-", kLayerEncrypted},
    {"blk4-", kLayerFourPart},
};

constexpr Prefix kProviderPrefixes[] = {
    {"file:", 0},
    {"map:", 1},
    {"http:", 2},
    {"ribbit:", 3},
};

bool StartsWithIgnoringCase(std::string_view name, std::string_view prefix) {
  if (name.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Removes the first matching prefix from `name` and returns its bits.
template <size_t N>
std::optional<uint32_t> TakePrefix(std::string_view& name, const Prefix (&prefixes)[N]) {
  for (const Prefix& prefix : prefixes) {
    if (StartsWithIgnoringCase(name, prefix.text)) {
      name.remove_prefix(prefix.text.size());
      return prefix.bits;
    }
  }
  return std::nullopt;
}

uint32_t OpenLayer(TStream& stream) {
  switch (stream.flags & SF_LAYER_MASK) {
    case kLayerFlat:
      return OpenFlatStream(stream);
    case kLayerPartial:
      return OpenPartialStream(stream);
    case kLayerEncrypted:
      return OpenEncryptedStream(stream);
    case kLayerFourPart:
      return OpenFourPartStream(stream);
    default:
      return kErrorInvalidParameter;
  }
}

// Builds and opens the stream once the name has been taken apart.
uint32_t BuildStream(std::string_view name, uint32_t flags, StreamPtr master, StreamPtr& out) {
  auto stream = std::make_unique<TStream>();
  stream->fileName = std::string(name);
  stream->flags = flags;
  stream->master = std::move(master);
  stream->base = MakeBaseProvider(flags);
  if (stream->base->setsReadOnly()) stream->flags |= SF_READONLY;
  // On failure the half-built stream goes without the layer's close, so
  // nothing is written back.
  if (uint32_t error = OpenLayer(*stream)) return error;
  out.reset(stream.release());
  return kErrorSuccess;
}

uint32_t OpenStreamOrError(std::string_view name, uint32_t flags, StreamPtr& out) {
  // Callers pass only the SF_ bits; the low byte comes from the prefixes.
  if ((flags & 0xFF) != 0) return kErrorInvalidParameter;

  size_t star = name.find('*');
  StreamPtr master;
  if (star != std::string_view::npos) {
    std::string_view masterName = name.substr(star + 1);
    if (masterName.find('*') != std::string_view::npos) return kErrorInvalidParameter;
    name = name.substr(0, star);
    master.reset(OpenStream(masterName, SF_READONLY));
    if (!master) return GetCascError();
  }

  flags |= TakePrefix(name, kLayerPrefixes).value_or(kLayerFlat);
  if (std::optional<uint32_t> provider = TakePrefix(name, kProviderPrefixes)) {
    flags |= *provider;
    if (name.starts_with("//")) name.remove_prefix(2);
  }
  return BuildStream(name, flags, std::move(master), out);
}

// A local path is taken as written: flat layer, local file, no master.
uint32_t OpenLocalStreamOrError(std::string_view path, uint32_t flags, StreamPtr& out) {
  if ((flags & 0xFF) != 0) return kErrorInvalidParameter;
  return BuildStream(path, flags | kLayerFlat, nullptr, out);
}

// Runs one of the open functions above; failures become the last error.
TStream* OpenOrSetError(uint32_t (*open)(std::string_view, uint32_t, StreamPtr&),
                        std::string_view name, uint32_t flags) {
  StreamPtr stream;
  uint32_t error;
  try {
    error = open(name, flags, stream);
  } catch (const std::bad_alloc&) {
    error = kErrorNotEnoughMemory;
  }
  if (error != kErrorSuccess) {
    SetCascError(error);
    return nullptr;
  }
  return stream.release();
}

// ---- Block reader ----

uint32_t ReadBlocksLocked(TStream& stream, uint64_t offset, uint8_t* out, size_t length) {
  if (length == 0) {
    stream.streamPosition = offset;
    return kErrorSuccess;
  }
  if (offset > stream.streamSize || length > stream.streamSize - offset) return kErrorHandleEof;
  const uint64_t blockSize = stream.blockSize;
  const uint64_t end = offset + length;
  const uint64_t firstBlock = offset / blockSize;
  const uint64_t lastBlock = (end - 1) / blockSize;
  const uint64_t start = firstBlock * blockSize;
  const uint64_t readEnd = std::min(stream.streamSize, (lastBlock + 1) * blockSize);
  if (lastBlock - firstBlock + 1 > SIZE_MAX / blockSize) return kErrorNotEnoughMemory;
  std::vector<uint8_t> blocks((lastBlock - firstBlock + 1) * blockSize);

  bool ok = true;
  if (stream.complete) {
    ok = stream.layer->BlockRead(stream, start, readEnd, blocks.data(), firstBlock, true);
  } else {
    // Runs of blocks that are all present or all missing, one call each.
    for (uint64_t block = firstBlock; ok && block <= lastBlock;) {
      bool present = stream.layer->BlockCheck(stream, block);
      uint64_t runEnd = block + 1;
      while (runEnd <= lastBlock && stream.layer->BlockCheck(stream, runEnd) == present) ++runEnd;
      uint64_t runStart = block * blockSize;
      uint64_t runStop = std::min(readEnd, runEnd * blockSize);
      ok = stream.layer->BlockRead(stream, runStart, runStop, blocks.data() + (runStart - start),
                                   block, present);
      block = runEnd;
    }
  }
  if (!ok) return kErrorBlockReadFailed;
  std::memcpy(out, blocks.data() + (offset - start), length);
  stream.streamPosition = end;
  return kErrorSuccess;
}

uint32_t ReadBlocks(TStream& stream, std::optional<uint64_t> offset, void* buffer, size_t length) {
  std::lock_guard guard(stream.blockLock);
  try {
    return ReadBlocksLocked(stream, offset.value_or(stream.streamPosition),
                            static_cast<uint8_t*>(buffer), length);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

bool Finish(uint32_t error) {
  return error == kErrorSuccess ? true : FailWith(error);
}

}  // namespace

// ---- Stream operations ----

TStream* OpenStream(std::string_view name, uint32_t flags) {
  return OpenOrSetError(OpenStreamOrError, name, flags);
}

TStream* OpenLocalStream(std::string_view path, uint32_t flags) {
  return OpenOrSetError(OpenLocalStreamOrError, path, flags);
}

bool ReadStream(TStream* stream, std::optional<uint64_t> offset, void* buffer, size_t length) {
  if (stream == nullptr) return FailWith(kErrorInvalidHandle);
  if (buffer == nullptr && length != 0) return FailWith(kErrorInvalidParameter);
  if (stream->layer) return Finish(ReadBlocks(*stream, offset, buffer, length));
  return Finish(stream->base->Read(offset, buffer, length));
}

bool WriteStream(TStream* stream, std::optional<uint64_t> offset, const void* buffer,
                 size_t length) {
  if (stream == nullptr) return FailWith(kErrorInvalidHandle);
  if (buffer == nullptr && length != 0) return FailWith(kErrorInvalidParameter);
  if (stream->readOnly()) return FailWith(platform::kErrorAccessDenied);
  if (stream->layer) return FailWith(kErrorNotSupported);
  return Finish(stream->base->Write(offset, buffer, length));
}

bool ResizeStream(TStream* stream, uint64_t newSize) {
  if (stream == nullptr) return FailWith(kErrorInvalidHandle);
  if (stream->readOnly()) return FailWith(platform::kErrorAccessDenied);
  if (stream->layer) return FailWith(kErrorNotSupported);
  return Finish(stream->base->Resize(newSize));
}

bool GetStreamSize(TStream* stream, uint64_t* size) {
  if (stream == nullptr) return FailWith(kErrorInvalidHandle);
  if (size == nullptr) return FailWith(kErrorInvalidParameter);
  if (stream->layer) {
    std::lock_guard guard(stream->blockLock);
    *size = stream->streamSize;
  } else {
    if (uint32_t error = stream->base->LoadSize()) return FailWith(error);
    *size = stream->base->size();
  }
  return true;
}

bool GetStreamPosition(TStream* stream, uint64_t* position) {
  if (stream == nullptr) return FailWith(kErrorInvalidHandle);
  if (position == nullptr) return FailWith(kErrorInvalidParameter);
  if (stream->layer) {
    std::lock_guard guard(stream->blockLock);
    *position = stream->streamPosition;
  } else {
    *position = stream->base->position();
  }
  return true;
}

uint64_t GetStreamFileTime(TStream* stream) {
  return stream == nullptr ? 0 : stream->base->fileTime();
}

void CloseStream(TStream* stream) {
  if (stream == nullptr) return;
  std::unique_ptr<TStream> owned(stream);
  owned->master.reset();
  if (owned->layer) owned->layer->Close(*owned);
}

uint32_t MasterStreamSize(TStream& stream, uint64_t* size) {
  return GetStreamSize(stream.master.get(), size) ? kErrorSuccess : GetCascError();
}

}  // namespace kestrine

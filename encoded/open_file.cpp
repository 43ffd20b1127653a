// Open files: name resolution, sizes and reading.
#include "encoded/open_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/api_boundary.h"
#include "common/errors.h"
#include "common/handle.h"
#include "encoded/decode_frame.h"
#include "roots/root_handler.h"

namespace kestrine {

namespace {

constexpr uint32_t kFileIdAbsent = 0xFFFFFFFF;
constexpr size_t kHexIdDigits = 8;

// What a reader produced, and why it stopped short (0 when it did not).
struct ReadResult {
  uint64_t produced = 0;
  uint32_t error = kErrorSuccess;
};

TCascFile* FileFromHandle(FileHandle handle) {
  if (!HasSignature(handle, "CASCFILE")) return nullptr;
  TCascFile* file = reinterpret_cast<TCascFile*>(handle);
  return file->entries != nullptr ? file : nullptr;
}

// The number of consecutive entries forming the file: those behind the
// first in the storage's entry array or in its span records.
uint32_t CountSpans(TCascStorage& storage, ContentEntry& entry, uint32_t& count) {
  count = static_cast<uint32_t>(SpanEntryCount(storage, entry));
  return count != 0 ? kErrorSuccess : kErrorBadFormat;
}

// Sums the entries' sizes (all ones when any is unknown) and places each span
// in its archive and, when the sizes are known, in the file's content.
void PlaceSpans(TCascFile& file) {
  const uint32_t bits = file.storage->OffsetBits();
  const uint64_t offsetMask = (uint64_t{1} << bits) - 1;
  uint64_t contentSize = 0;
  uint64_t encodedSize = 0;
  for (uint32_t i = 0; i < file.spanCount; ++i) {
    const ContentEntry& entry = file.entries[i];
    TFileSpan& span = file.spans[i];
    span.archiveIndex = static_cast<uint32_t>(entry.storageOffset >> bits);
    span.archiveOffset = entry.storageOffset & offsetMask;
    if (contentSize != kUnknownFileSize && entry.contentSize != kUnknownSize) {
      span.contentStart = contentSize;
      span.contentEnd = contentSize += entry.contentSize;
    } else {
      contentSize = kUnknownFileSize;
    }
    encodedSize = (encodedSize == kUnknownFileSize || entry.encodedSize == kUnknownSize)
                      ? kUnknownFileSize
                      : encodedSize + entry.encodedSize;
  }
  file.contentSize = contentSize;
  file.encodedSize = encodedSize;
}

ContentEntry* FindEntryByName(TCascStorage& storage, const char* name) {
  if (storage.root) {
    if (ContentEntry* entry = storage.root->LookupName(&storage, name)) return entry;
    uint32_t fileDataId = 0;
    if (ParseFileDataIdName(name, &fileDataId)) {
      if (ContentEntry* entry = storage.root->LookupFileId(&storage, fileDataId)) return entry;
    }
  }
  Key16 key{};
  if (!ParseHexKey(name, key)) return nullptr;
  if (ContentEntry* entry = storage.contents.FindByCKey(key.data())) return entry;
  return storage.contents.FindByEKey(key.data());
}

// Loads every span whose sizes are known, in order.
uint32_t LoadKnownSpans(TCascFile& file) {
  for (uint32_t i = 0; i < file.spanCount; ++i) {
    if (!file.spans[i].frames.empty()) continue;
    if (uint32_t error = LoadFileSpan(file, file.spans[i], file.entries[i])) return error;
  }
  return kErrorSuccess;
}

// Loads every span and learns the sizes from their headers.
uint32_t LoadSpansMeasuring(TCascFile& file) {
  uint64_t contentSize = 0;
  uint64_t encodedSize = 0;
  for (uint32_t i = 0; i < file.spanCount; ++i) {
    TFileSpan& span = file.spans[i];
    ContentEntry& entry = file.entries[i];
    span.contentStart = span.contentEnd = contentSize;
    if (uint32_t error = LoadFileSpan(file, span, entry)) return error;
    if (entry.contentSize == kUnknownSize) return kErrorCanNotComplete;
    contentSize += entry.contentSize;
    encodedSize += entry.encodedSize;
    span.contentEnd = contentSize;
  }
  file.contentSize = contentSize;
  file.encodedSize = encodedSize;
  return kErrorSuccess;
}

// Room for `size` bytes in `buffer`, or 8.
uint32_t Reserve(PageBuffer& buffer, size_t size) {
  return buffer.Reserve(size) ? kErrorSuccess : kErrorNotEnoughMemory;
}

// The encoded bytes of one frame at a time, per thread: reused from frame to
// frame and from file to file (a fresh block per file costs page faults),
// but not kept when a frame made it large.
class EncodedScratch {
 public:
  static constexpr size_t kKeptCapacity = size_t{4} << 20;

  EncodedScratch() : buffer_(ThreadBuffer()) {}
  ~EncodedScratch() {
    if (buffer_.capacity() > kKeptCapacity) buffer_.Release();
  }
  EncodedScratch(const EncodedScratch&) = delete;
  EncodedScratch& operator=(const EncodedScratch&) = delete;
  PageBuffer& buffer() { return buffer_; }

 private:
  static PageBuffer& ThreadBuffer() {
    thread_local PageBuffer buffer;
    return buffer;
  }
  PageBuffer& buffer_;
};

// Reads and decodes one frame into `target`. A failed stream read is
// reported with its own error.
uint32_t DecodeFrameAt(TCascFile& file, uint32_t spanIndex, uint32_t frameIndex,
                       PageBuffer& encodedBuffer, uint8_t* target) {
  const TFileSpan& span = file.spans[spanIndex];
  const TFrame& frame = span.frames[frameIndex];
  if (uint32_t error = Reserve(encodedBuffer, frame.encodedSize)) return error;
  if (!ReadStream(span.stream, frame.dataOffset, encodedBuffer.data(), frame.encodedSize)) {
    const uint32_t error = GetCascError();
    return error != kErrorSuccess ? error : kErrorFileCorrupt;
  }
  std::span<const uint8_t> encoded(encodedBuffer.data(), frame.encodedSize);
  return DecodeFrame(file, file.entries[spanIndex], frame, encoded, target, frameIndex);
}

// Keeps the frame just decoded into the reader's own buffer as the cache.
void CacheFrame(TCascFile& file, const TFrame& frame) {
  file.cache.swap(file.frameBuffer);
  file.cacheStart = frame.contentStart;
  file.cacheEnd = frame.contentEnd;
}

// Frame by frame: decodes only the frames that [pos, end) touches; a frame
// wholly inside the request is decoded straight into `out` (which stands for
// pos). The frame cut by the request's end becomes the cache.
ReadResult ReadFrames(TCascFile& file, uint8_t* out, uint64_t pos, uint64_t end) {
  const uint64_t start = pos;
  EncodedScratch scratch;
  for (uint32_t s = 0; s < file.spanCount && pos < end; ++s) {
    const TFileSpan& span = file.spans[s];
    if (span.frames.empty() || pos < span.contentStart || pos >= span.contentEnd) continue;
    for (uint32_t k = 0; k < span.frames.size() && pos < end; ++k) {
      const TFrame& frame = span.frames[k];
      if (pos < frame.contentStart || pos >= frame.contentEnd) continue;
      const bool inPlace = frame.contentStart == pos && frame.contentEnd <= end;
      uint8_t* target = out + (pos - start);
      if (!inPlace) {
        if (uint32_t error = Reserve(file.frameBuffer, frame.contentSize)) return {0, error};
        target = file.frameBuffer.data();
      }
      if (uint32_t error = DecodeFrameAt(file, s, k, scratch.buffer(), target)) {
        return {pos - start, error};
      }
      const uint64_t count = std::min(frame.contentEnd, end) - pos;
      if (!inPlace) std::memcpy(out + (pos - start), target + (pos - frame.contentStart), count);
      pos += count;
      if (!inPlace && frame.contentEnd > end) CacheFrame(file, frame);
    }
  }
  return {pos - start, kErrorSuccess};
}

// Decodes the frames of one span from its encoded bytes, read in one call,
// into `out` (the whole file's content). Returns the bytes produced.
uint64_t ReadWholeSpan(TCascFile& file, uint32_t s, uint8_t* out, uint64_t end, uint32_t& error) {
  const TFileSpan& span = file.spans[s];
  const ContentEntry& entry = file.entries[s];
  uint64_t available = 0;
  if (span.frames.empty() || entry.encodedSize == kUnknownSize ||
      entry.encodedSize < span.headerSize || !GetStreamSize(span.stream, &available)) {
    return 0;
  }
  const uint64_t size = entry.encodedSize - span.headerSize;
  const uint64_t from = span.archiveOffset + span.headerSize;
  if (from > available || size > available - from) return 0;  // a size no file backs
  PageBuffer encodedBuffer;
  if ((error = Reserve(encodedBuffer, size)) != kErrorSuccess) return 0;
  if (!ReadStream(span.stream, from, encodedBuffer.data(), size)) return 0;
  uint64_t produced = 0;
  uint64_t offset = 0;
  for (uint32_t k = 0; k < span.frames.size(); ++k) {
    const TFrame& frame = span.frames[k];
    if (frame.encodedSize > size - offset || frame.contentEnd > end) break;
    std::span<const uint8_t> encoded(encodedBuffer.data() + offset, frame.encodedSize);
    error = DecodeFrame(file, entry, frame, encoded, out + frame.contentStart, k);
    if (error != kErrorSuccess) break;
    offset += frame.encodedSize;
    produced += frame.contentSize;
  }
  return produced;
}

// The whole file in one pass per span; only for a request of the whole file.
// It stops at the first span that comes up short, so that the bytes it
// reports are the file's first ones, without a gap.
ReadResult ReadWholeFile(TCascFile& file, uint8_t* out, uint64_t pos, uint64_t end) {
  ReadResult result;
  if (pos != 0 || end != file.contentSize) return result;
  for (uint32_t s = 0; s < file.spanCount; ++s) {
    uint32_t error = kErrorSuccess;
    const uint64_t produced = ReadWholeSpan(file, s, out, end, error);
    result.produced += produced;
    if (error != kErrorSuccess) result.error = error;
    // The count returned says how many bytes from the start are good: a span
    // that comes up short ends the read, or later spans would be counted as
    // if they followed on.
    const TFileSpan& span = file.spans[s];
    if (error != kErrorSuccess || produced < span.contentEnd - span.contentStart) break;
  }
  return result;
}

bool Succeed(uint32_t* bytesRead, uint64_t count) {
  if (bytesRead != nullptr) *bytesRead = static_cast<uint32_t>(count);
  SetCascError(kErrorSuccess);
  return true;
}

bool Fail(uint32_t* bytesRead, uint32_t error) {
  if (bytesRead != nullptr) *bytesRead = 0;
  return FailWith(error);
}

bool ReadFile(TCascFile& file, uint8_t* buffer, uint32_t bytesToRead, uint32_t* bytesRead) {
  if (file.contentSize == 0) return Succeed(bytesRead, 0);
  if (uint32_t error = EnsureFileSpans(file)) return Fail(bytesRead, error);
  const uint64_t pos = file.filePointer;
  if (pos >= file.contentSize) return Succeed(bytesRead, 0);
  const uint64_t end = std::min(pos + bytesToRead, file.contentSize);

  uint64_t cached = 0;
  if (!file.cache.empty() && file.cacheStart <= pos && pos < file.cacheEnd) {
    cached = std::min(file.cacheEnd, end) - pos;
    std::memcpy(buffer, file.cache.data() + (pos - file.cacheStart), cached);
    if (pos + cached == end) {
      file.filePointer = end;
      return Succeed(bytesRead, cached);
    }
  }
  ReadResult result = file.strategy == ReadStrategy::kWholeFile
                          ? ReadWholeFile(file, buffer + cached, pos + cached, end)
                          : ReadFrames(file, buffer + cached, pos + cached, end);
  if (result.produced > 0) {
    file.filePointer = pos + cached + result.produced;
    if (bytesRead != nullptr) *bytesRead = static_cast<uint32_t>(cached + result.produced);
    SetCascError(result.error);
    return true;
  }
  // Nothing read: a reader that stopped without a reason met frames that do
  // not cover the content size.
  if (bytesToRead == 0) return Succeed(bytesRead, 0);
  return Fail(bytesRead, result.error != kErrorSuccess ? result.error : kErrorFileCorrupt);
}

bool ParseDecimalId(const char* digits, uint32_t* id) {
  uint64_t value = 0;
  const char* p = digits;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > 0xFFFFFFFF) return false;
  }
  if (*p != '\0' && *p != '.') return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

bool ParseHexId(const char* digits, uint32_t* id) {
  uint32_t value = 0;
  for (size_t i = 0; i < kHexIdDigits; ++i) {
    const int digit = HexDigitValue(digits[i]);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  const char next = digits[kHexIdDigits];
  if ((next != '\0' && next != '.') || value == kFileIdAbsent) return false;
  *id = value;
  return true;
}

}  // namespace

bool PageBuffer::Reserve(size_t size) {
  if (block_ && size <= capacity_) return true;
  Release();
  const size_t rounded = std::max<size_t>((size + kPageSize - 1) / kPageSize, 1) * kPageSize;
  if (rounded < size) return false;
  block_.reset(static_cast<uint8_t*>(AllocateAligned(kPageSize, rounded)));
  if (!block_) return false;
  capacity_ = rounded;
  return true;
}

TCascFile::~TCascFile() {
  ReleaseStorage(storage);
}

uint32_t OpenFileByEntry(TCascStorage& storage, ContentEntry& entry, uint32_t flags,
                         TCascFile*& file) {
  uint32_t spanCount = 0;
  if (uint32_t error = CountSpans(storage, entry, spanCount)) return error;
  try {
    auto opened = std::make_unique<TCascFile>();
    opened->storage = AcquireStorage(&storage);
    opened->entries = &entry;
    opened->spanCount = spanCount;
    opened->flags = flags | (storage.IsOnline() ? FF_ONLINE : 0);
    opened->spans.resize(spanCount);
    PlaceSpans(*opened);
    file = opened.release();
    return kErrorSuccess;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

uint32_t OpenFileByCKey(TCascStorage& storage, const Key16& ckey, TCascFile*& file) {
  ContentEntry* entry = storage.contents.FindByCKey(ckey.data());
  if (entry == nullptr) return kErrorFileNotFound;
  return OpenFileByEntry(storage, *entry, FF_VERIFY_FRAMES, file);
}

uint32_t OpenFileByEKey(TCascStorage& storage, const Key16& ekey, TCascFile*& file) {
  ContentEntry* entry = storage.contents.FindByEKey(ekey.data());
  if (entry == nullptr) return kErrorFileNotFound;
  return OpenFileByEntry(storage, *entry, FF_VERIFY_FRAMES, file);
}

uint32_t EnsureFileSpans(TCascFile& file) {
  const bool allLoaded = std::all_of(file.spans.begin(), file.spans.end(),
                                     [](const TFileSpan& span) { return !span.frames.empty(); });
  if (file.contentSize != kUnknownFileSize && allLoaded) return kErrorSuccess;
  // The handle's sizes change only once every span has loaded: sizes half
  // learned would make the file look shorter than it is (an empty file
  // reads as a success).
  uint32_t error;
  try {
    error = file.contentSize != kUnknownFileSize && file.encodedSize != kUnknownFileSize
                ? LoadKnownSpans(file)
                : LoadSpansMeasuring(file);
  } catch (const std::bad_alloc&) {
    error = kErrorNotEnoughMemory;
  }
  if (error == kErrorSuccess && file.contentSize == kUnknownFileSize) error = kErrorCanNotComplete;
  return error;
}

void SetReadStrategy(TCascFile& file, ReadStrategy strategy) {
  file.strategy = strategy;
}

uint64_t FileContentSize(const TCascFile& file) {
  return file.contentSize;
}

bool ParseFileDataIdName(const char* name, uint32_t* fileDataId) {
  if (std::strncmp(name, "File", 4) == 0) return ParseDecimalId(name + 4, fileDataId);
  if (std::strncmp(name, "FILE", 4) == 0) return ParseHexId(name + 4, fileDataId);
  return false;
}

extern "C" KESTRINE_API bool kestrine_open_file(KestrineStorage* handle, const char* name,
                                                KestrineFile** file) try {
  TCascStorage* storage = StorageFromHandle(handle);
  if (storage == nullptr) return FailWith(kErrorInvalidHandle);
  if (name == nullptr || name[0] == '\0' || file == nullptr) {
    return FailWith(kErrorInvalidParameter);
  }
  ContentEntry* entry = FindEntryByName(*storage, name);
  if (entry == nullptr) return FailWith(kErrorFileNotFound);
  TCascFile* opened = nullptr;
  if (uint32_t error = OpenFileByEntry(*storage, *entry, FF_VERIFY_FRAMES, opened)) {
    return FailWith(error);
  }
  *file = reinterpret_cast<KestrineFile*>(opened);
  return true;
} catch (...) {
  return FailFromException(false);
}

extern "C" KESTRINE_API uint32_t kestrine_get_file_size(KestrineFile* handle,
                                                        uint64_t* contentSize) try {
  TCascFile* file = FileFromHandle(handle);
  if (file == nullptr) return kErrorInvalidHandle;
  if (contentSize == nullptr) return kErrorInvalidParameter;
  if (file->contentSize != 0) {
    if (uint32_t error = EnsureFileSpans(*file)) return error;
  }
  *contentSize = file->contentSize;
  return kErrorSuccess;
} catch (...) {
  return ErrorFromException();
}

extern "C" KESTRINE_API bool kestrine_read_file(KestrineFile* handle, void* buffer,
                                                uint32_t bytesToRead, uint32_t* bytesRead) try {
  TCascFile* file = FileFromHandle(handle);
  if (file == nullptr) return Fail(bytesRead, kErrorInvalidHandle);
  if (buffer == nullptr) return Fail(bytesRead, kErrorInvalidParameter);
  return ReadFile(*file, static_cast<uint8_t*>(buffer), bytesToRead, bytesRead);
} catch (...) {
  return Fail(bytesRead, ErrorFromException());
}

extern "C" KESTRINE_API bool kestrine_get_file_content_key(KestrineFile* handle,
                                                           uint8_t ckey[16]) try {
  TCascFile* file = FileFromHandle(handle);
  if (file == nullptr) return FailWith(kErrorInvalidHandle);
  if (ckey == nullptr) return FailWith(kErrorInvalidParameter);
  const ContentEntry& entry = file->entries[0];
  if (file->spanCount != 1 || (entry.flags & EF_CKEY) == 0) return FailWith(kErrorFileNotFound);
  std::memcpy(ckey, entry.ckey.data(), entry.ckey.size());
  SetCascError(kErrorSuccess);
  return true;
} catch (...) {
  return FailFromException(false);
}

extern "C" KESTRINE_API bool kestrine_close_file(KestrineFile* handle) try {
  TCascFile* file = FileFromHandle(handle);
  if (file == nullptr) return FailWith(kErrorInvalidHandle);
  delete file;
  return true;
} catch (...) {
  return FailFromException(false);
}

}  // namespace kestrine

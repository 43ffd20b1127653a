#include "encoded/blte.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>

#include "common/byte_reader.h"
#include "encoded/data_archives.h"
#include "encoded/open_file.h"
#include "kestrine.h"
#include "online/cdn_cache.h"

namespace kestrine {

namespace {

constexpr uint8_t kFrameTableFlags = 0x0F;
constexpr uint32_t kBlteSignature = 0x424C5445;  // "BLTE"
constexpr uint32_t kBlteMinimumAfterHeader = kArchiveHeaderSize + 8;

// Why an archive stream did not open: a missing archive is a missing file,
// but running out of memory stays what it is.
uint32_t ArchiveOpenError() {
  return GetCascError() == kErrorNotEnoughMemory ? kErrorNotEnoughMemory : kErrorFileNotFound;
}

// An encoded file fetched from the content servers into the cache: a file
// of its own (BLTE from offset 0, without the 30-byte archive record
// header), or the piece of a remote archive that holds it.
uint32_t OpenOnlineSource(TCascFile& file, TFileSpan& span, ContentEntry& entry) {
  const uint32_t kind = (entry.flags & EF_REMOTE_ARCHIVE) ? kCdnPatch : kCdnData;
  OnlineEncodedFile fetched;
  if (uint32_t error = FetchEncodedFile(*file.storage, entry.ekey, kind, fetched)) return error;
  span.ownStream.reset(OpenStream(fetched.localPath, 0));
  if (!span.ownStream) return GetCascError();
  file.flags |= FF_OWN_STREAMS;
  span.stream = span.ownStream.get();
  span.archiveOffset = 0;
  if (fetched.archivePiece) {
    span.archiveIndex = fetched.archiveIndex;
    if (entry.encodedSize == kUnknownSize) entry.encodedSize = fetched.encodedSize;
    return kErrorSuccess;
  }
  span.archiveIndex = 0;
  uint64_t size = 0;
  if (!GetStreamSize(span.stream, &size)) return GetCascError();
  const uint64_t withHeader = size + kArchiveHeaderSize;
  if (entry.encodedSize == kUnknownSize || entry.encodedSize == withHeader) {
    entry.encodedSize = static_cast<uint32_t>(std::min<uint64_t>(size, kUnknownSize - 1));
  }
  return kErrorSuccess;
}

uint32_t OpenDataSource(TCascFile& file, TFileSpan& span, ContentEntry& entry) {
  if (span.stream != nullptr) return kErrorSuccess;
  TCascStorage& storage = *file.storage;
  if (entry.flags & EF_LOCAL) {
    if (storage.kind == BUILD_CONFIG) {
      span.ownStream = OpenOwnArchiveStream(storage, span.archiveIndex);
      file.flags |= FF_OWN_STREAMS;
      span.stream = span.ownStream.get();
      return span.stream != nullptr ? kErrorSuccess : ArchiveOpenError();
    }
    span.stream = SharedArchiveStream(storage, span.archiveIndex);
    if (span.stream != nullptr) return kErrorSuccess;
    if (!(file.flags & FF_ONLINE) || GetCascError() == kErrorNotEnoughMemory) {
      return ArchiveOpenError();
    }
  } else if (!(file.flags & FF_ONLINE)) {
    return kErrorFileNotFound;
  }
  return OpenOnlineSource(file, span, entry);
}

// One frame over the whole span (bare zlib, no frame table, plain content).
void SetSingleFrame(TFileSpan& span, uint64_t dataOffset, uint32_t encodedSize,
                    uint32_t contentSize) {
  TFrame frame;
  frame.contentStart = span.contentStart;
  frame.contentEnd = span.contentStart + contentSize;
  frame.dataOffset = dataOffset;
  frame.encodedSize = encodedSize;
  frame.contentSize = contentSize;
  span.frames.assign(1, frame);
  span.frameCount = 1;
}

// The bytes of the span's stream from the archive offset on.
uint64_t StreamRest(const TFileSpan& span) {
  uint64_t size = 0;
  if (!GetStreamSize(span.stream, &size)) return 0;
  return size > span.archiveOffset ? size - span.archiveOffset : 0;
}

// The encoded size of an entry whose size is unknown: the rest of the stream.
uint32_t CompleteEncodedSize(const TFileSpan& span, ContentEntry& entry) {
  if (entry.encodedSize == kUnknownSize) {
    entry.encodedSize =
        static_cast<uint32_t>(std::min<uint64_t>(StreamRest(span), kUnknownSize - 1));
  }
  return entry.encodedSize;
}

uint32_t BuildFrames(TFileSpan& span, ContentEntry& entry, const BlteLayout& layout,
                     std::vector<uint8_t>& head) {
  uint64_t headerSize = layout.tableOffset + uint64_t{kBlteFrameRecordSize} * layout.frameCount;
  // A frame table longer than the encoded file, or than what the archive
  // holds, is damage; the check also bounds the buffer it would take.
  if (headerSize > CompleteEncodedSize(span, entry)) return kErrorBadFormat;
  if (headerSize > head.size() && headerSize > StreamRest(span)) return kErrorBadFormat;
  span.headerSize = static_cast<uint32_t>(headerSize);
  if (headerSize > head.size()) {
    size_t have = head.size();
    head.resize(headerSize);
    if (!ReadStream(span.stream, span.archiveOffset + have, head.data() + have,
                    headerSize - have)) {
      return GetCascError();
    }
  }
  if (layout.frameCount == 0) {
    SetSingleFrame(span, span.archiveOffset + span.headerSize, entry.encodedSize - span.headerSize,
                   entry.contentSize);
    span.frameCount = 1;
    return kErrorSuccess;
  }
  return BuildFramesFromTable(span, entry, layout, head);
}

// Without BLTE framing the encoded file may be the content itself.
uint32_t BuildPlainFrame(TFileSpan& span, ContentEntry& entry) {
  if (entry.encodedSize == kUnknownSize || entry.encodedSize != entry.contentSize) {
    return kErrorBadFormat;
  }
  entry.flags |= EF_PLAIN;
  SetSingleFrame(span, span.archiveOffset, entry.encodedSize, entry.encodedSize);
  span.contentEnd = span.frames[0].contentEnd;
  return kErrorSuccess;
}

uint32_t LoadFrames(TFileSpan& span, ContentEntry& entry) {
  if (entry.flags & EF_BARE_ZLIB) {
    CompleteEncodedSize(span, entry);
    if (entry.contentSize == kUnknownSize) return kErrorCanNotComplete;
    SetSingleFrame(span, span.archiveOffset, entry.encodedSize, entry.contentSize);
    span.contentEnd = span.frames[0].contentEnd;
    return kErrorSuccess;
  }
  std::vector<uint8_t> head(std::min(entry.encodedSize, kFirstHeaderRead));
  if (!ReadStream(span.stream, span.archiveOffset, head.data(), head.size())) {
    return kErrorFileCorrupt;
  }
  BlteLayout layout;
  if (!ParseBlteHeader(head, entry.encodedSize, &layout)) return BuildPlainFrame(span, entry);
  return BuildFrames(span, entry, layout, head);
}

}  // namespace

bool ParseBlteHeader(std::span<const uint8_t> head, uint32_t encodedSize, BlteLayout* layout) {
  for (uint32_t start : {0u, kArchiveHeaderSize}) {
    if (start != 0 && encodedSize < kBlteMinimumAfterHeader) break;
    ByteReader r(head);
    r.seek(start);
    if (r.u32be() != kBlteSignature) continue;
    uint32_t headerSize = r.u32be();
    if (!r.ok()) return false;
    if (headerSize == 0) {
      *layout = {start + 8, 0};
      return true;
    }
    uint8_t tableFlags = r.u8();
    uint32_t frameCount = r.u24be();
    if (!r.ok() || tableFlags != kFrameTableFlags ||
        headerSize != 12 + uint64_t{kBlteFrameRecordSize} * frameCount) {
      return false;
    }
    *layout = {start + 12, frameCount};
    return true;
  }
  return false;
}

uint32_t BuildFramesFromTable(TFileSpan& span, ContentEntry& entry, const BlteLayout& layout,
                              std::span<const uint8_t> head) {
  ByteReader r(head);
  r.seek(layout.tableOffset);
  if (!r.ok() || layout.frameCount > r.remaining() / kBlteFrameRecordSize) {
    return kErrorBadFormat;
  }
  span.headerSize = layout.tableOffset + kBlteFrameRecordSize * layout.frameCount;
  uint64_t contentPos = span.contentStart;
  uint64_t dataOffset = span.archiveOffset + span.headerSize;
  uint64_t encodedTotal = span.headerSize;
  std::vector<TFrame> frames(layout.frameCount);
  for (TFrame& frame : frames) {
    frame.encodedSize = r.u32be();
    frame.contentSize = r.u32be();
    std::span<const uint8_t> md5 = r.bytes(16);
    std::copy(md5.begin(), md5.end(), frame.md5.begin());
    frame.contentStart = contentPos;
    frame.contentEnd = contentPos += frame.contentSize;
    frame.dataOffset = dataOffset;
    dataOffset += frame.encodedSize;
    encodedTotal += frame.encodedSize;
  }
  // Frames that claim more bytes than the encoded file holds are damage; the
  // check also keeps their sizes from deciding what a read allocates.
  uint64_t contentTotal = contentPos - span.contentStart;
  if (!r.ok() || encodedTotal > entry.encodedSize || contentTotal >= kUnknownSize) {
    return kErrorBadFormat;
  }
  if (entry.contentSize == kUnknownSize) entry.contentSize = static_cast<uint32_t>(contentTotal);
  span.frames = std::move(frames);
  span.frameCount = layout.frameCount;
  return kErrorSuccess;
}

uint32_t LoadFileSpan(TCascFile& file, TFileSpan& span, ContentEntry& entry) {
  try {
    if (uint32_t error = OpenDataSource(file, span, entry)) return error;
    uint32_t error = LoadFrames(span, entry);
    if (error != kErrorSuccess) {
      span.frames.clear();
      span.frameCount = 0;
    }
    return error;
  } catch (const std::bad_alloc&) {
    span.frames.clear();
    span.frameCount = 0;
    return kErrorNotEnoughMemory;
  }
}

}  // namespace kestrine

#include "testkit/blte.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "common/md5.h"
#include "common/salsa20.h"
#include "storage/index_files.h"
#include "storage/storage.h"
#include "testkit/byte_writer.h"

namespace kestrine::testkit {

namespace {

std::vector<uint8_t> Compress(std::span<const uint8_t> content, const FramePlan& frame) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::vector<uint8_t> stream(size);
  if (compress2(stream.data(), &size, content.data(), static_cast<uLong>(content.size()),
                frame.zlibLevel) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  stream.resize(size);
  // Flip bits in the middle of the deflate data (behind the 2-byte header).
  if (frame.corruptZlib && stream.size() > 6) {
    for (size_t i = 2; i < stream.size() - 4; i += 3) stream[i] ^= 0x5A;
  }
  stream.resize(stream.size() - std::min(frame.truncateZlibBy, stream.size()));
  stream.insert(stream.end(), frame.zlibTail.begin(), frame.zlibTail.end());
  return stream;
}

std::vector<uint8_t> Encrypt(std::vector<uint8_t> inner, const EncryptionLayer& layer,
                             uint32_t frameIndex) {
  static constexpr uint8_t kDefaultIv[] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::span<const uint8_t> iv =
      layer.iv.empty() ? std::span<const uint8_t>(kDefaultIv) : std::span<const uint8_t>(layer.iv);
  ByteWriter frame;
  frame.u8('E');
  frame.u8(layer.keyNameSize);
  if (layer.keyNameSize == 8) frame.u64le(layer.keyName);
  frame.u8(static_cast<uint8_t>(iv.size()));
  frame.bytes(iv);
  frame.u8(layer.type);
  std::array<uint8_t, 8> nonce{};
  std::copy_n(iv.begin(), std::min<size_t>(iv.size(), 8), nonce.begin());
  for (size_t i = 0; i < 4; ++i) nonce[i] ^= static_cast<uint8_t>(frameIndex >> (8 * i));
  Salsa20(layer.key, nonce).Xor(0, inner);
  frame.bytes(inner);
  return frame.take();
}

Key16 Md5Of(std::span<const uint8_t> bytes) {
  return ComputeMd5(bytes);
}

}  // namespace

std::vector<FramePlan> SplitFrames(size_t contentSize, size_t frameSize, uint8_t mode) {
  std::vector<FramePlan> frames;
  for (size_t at = 0; at < contentSize || frames.empty(); at += frameSize) {
    FramePlan frame;
    frame.contentSize = std::min(frameSize, contentSize - at);
    frame.mode = mode;
    frames.push_back(frame);
    if (contentSize == 0) break;
  }
  return frames;
}

std::vector<uint8_t> EncodeFrame(std::span<const uint8_t> content, const FramePlan& frame,
                                 uint32_t frameIndex) {
  std::vector<uint8_t> payload;
  if (frame.mode == 'Z') {
    payload = Compress(content, frame);
  } else {
    payload.assign(content.begin(), content.end());
  }
  std::vector<uint8_t> encoded(payload.size() + 1);
  encoded[0] = frame.mode;
  std::copy(payload.begin(), payload.end(), encoded.begin() + 1);
  for (auto layer = frame.encryption.rbegin(); layer != frame.encryption.rend(); ++layer) {
    encoded = Encrypt(std::move(encoded), *layer, frameIndex);
  }
  encoded.resize(encoded.size() - std::min(frame.truncateBy, encoded.size()));
  return encoded;
}

std::vector<uint8_t> WriteBlte(std::span<const uint8_t> content, const BltePlan& layout) {
  size_t total = 0;
  for (const FramePlan& frame : layout.frames) total += frame.contentSize;
  if (total != content.size()) throw std::invalid_argument("frames do not cover the content");
  if (!layout.frameTable && layout.frames.size() != 1) {
    throw std::invalid_argument("a container without frame table holds one frame");
  }
  std::vector<std::vector<uint8_t>> frames;
  size_t at = 0;
  for (const FramePlan& frame : layout.frames) {
    frames.push_back(EncodeFrame(content.subspan(at, frame.contentSize), frame,
                                 static_cast<uint32_t>(frames.size())));
    at += frame.contentSize;
  }

  ByteWriter out;
  out.text("BLTE");
  const uint32_t headerSize =
      layout.frameTable ? 12 + 24 * static_cast<uint32_t>(frames.size()) : 0;
  out.u32be(layout.headerSizeField.value_or(headerSize));
  if (layout.frameTable) {
    out.u8(layout.tableFlags);
    out.u24be(layout.frameCountField.value_or(static_cast<uint32_t>(frames.size())));
    for (size_t i = 0; i < frames.size(); ++i) {
      const FramePlan& frame = layout.frames[i];
      out.u32be(static_cast<uint32_t>(frames[i].size()));
      out.u32be(frame.contentSizeField.value_or(static_cast<uint32_t>(frame.contentSize)));
      Key16 md5 = Md5Of(frames[i]);
      if (frame.md5 == Md5Fault::kZero) md5 = {};
      if (frame.md5 == Md5Fault::kWrong) md5[0] ^= 0xFF;
      out.bytes(md5);
    }
  }
  for (const auto& frame : frames) out.bytes(frame);
  return out.take();
}

StoredFile EncodeFile(std::vector<uint8_t> content, const BltePlan& layout) {
  StoredFile file;
  file.encoded = WriteBlte(content, layout);
  file.ckey = Md5Of(content);
  file.ekey = Md5Of(file.encoded);
  file.content = std::move(content);
  return file;
}

StoredFile PlainFile(std::vector<uint8_t> content) {
  StoredFile file;
  file.encoded = content;
  file.ckey = Md5Of(content);
  file.ekey = Md5Of(file.encoded);
  file.ekey[15] ^= 0xFF;  // the keys of one file differ
  file.content = std::move(content);
  return file;
}

std::vector<uint8_t> DataLikeBytes(size_t size, uint32_t seed) {
  static constexpr char kWords[] = "unit sprite flingy weapon upgrade tech order sound portrait ";
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < size;) {
    state = state * 1103515245u + 12345u;
    const uint32_t pick = state >> 16;
    size_t run = 1 + pick % 24;
    for (size_t j = 0; j < run && i < size; ++j, ++i) {
      switch (pick % 3) {
        case 0:
          bytes[i] = static_cast<uint8_t>(pick >> 8);
          break;
        case 1:
          bytes[i] = static_cast<uint8_t>((i + j) % 17);
          break;
        default:
          bytes[i] = static_cast<uint8_t>(kWords[(pick + j) % (sizeof(kWords) - 1)]);
      }
    }
  }
  return bytes;
}

size_t InsertContentEntries(TCascStorage& storage, std::span<const StoredFile> files) {
  size_t located = 0;
  for (const StoredFile& file : files) {
    ContentEntry record;
    record.ckey = file.ckey;
    record.ekey = file.ekey;
    record.contentSize = file.entryContentSize.value_or(static_cast<uint32_t>(file.content.size()));
    record.flags = EF_CKEY | EF_EKEY | EF_IN_ENCODING | file.entryFlags;
    ContentEntry* entry = storage.contents.Insert(record);
    if (entry != nullptr && LocateEncodedFile(storage, *entry)) ++located;
  }
  return located;
}

std::string BuildConfigArchiveName(uint32_t archive) {
  char name[32];
  std::snprintf(name, sizeof(name), "%02u-%08x.data", archive >> 8, archive & 0xFF);
  return name;
}

}  // namespace kestrine::testkit

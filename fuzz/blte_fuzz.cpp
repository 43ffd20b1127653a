// BLTE header parsing and frame decoding over one encoded file held in
// memory, as a loose file (a 30-byte archive record header in front is
// recognised too). One key is registered, so encrypted frames reach the
// cipher and the frame modes inside them.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "encoded/blte.h"
#include "encoded/decode_frame.h"
#include "encoded/decryption_keys.h"
#include "storage/content_entry.h"

namespace {

constexpr uint64_t kKeyName = 0x0123456789ABCDEFull;  // the seeds encrypt with it
constexpr size_t kMaxContent = 1 << 20;

const kestrine::DecryptionKeyTable& Keys() {
  static const kestrine::DecryptionKeyTable keys = [] {
    kestrine::DecryptionKeyTable table;
    std::array<uint8_t, 16> key{};
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i);
    table.Add(kKeyName, key);
    return table;
  }();
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::span<const uint8_t> file(data, size);
  kestrine::ContentEntry entry;
  entry.encodedSize = static_cast<uint32_t>(size);
  kestrine::TFileSpan span;
  kestrine::BlteLayout layout;
  if (!kestrine::ParseBlteHeader(file, entry.encodedSize, &layout)) return 0;
  if (layout.frameCount == 0) {
    if (layout.tableOffset > size) return 0;
    kestrine::TFrame frame;
    frame.dataOffset = layout.tableOffset;
    frame.encodedSize = static_cast<uint32_t>(size - layout.tableOffset);
    frame.contentSize = frame.contentEnd = 4096;
    span.frames.push_back(frame);
  } else if (kestrine::BuildFramesFromTable(span, entry, layout, file) != 0) {
    return 0;
  }
  // Frames lie inside the file and their content adds up to the entry's.
  uint64_t content = 0;
  for (const kestrine::TFrame& frame : span.frames) {
    if (frame.dataOffset + frame.encodedSize > size) __builtin_trap();
    content += frame.contentSize;
  }
  if (layout.frameCount != 0 && content != entry.contentSize) __builtin_trap();

  kestrine::FrameDecodeContext context;
  context.keys = &Keys();
  std::vector<uint8_t> out;
  for (size_t k = 0; k < span.frames.size(); ++k) {
    const kestrine::TFrame& frame = span.frames[k];
    if (frame.contentSize > kMaxContent) continue;
    out.assign(frame.contentSize, 0);
    (void)kestrine::DecodeFrameBytes(context, frame,
                                     file.subspan(frame.dataOffset, frame.encodedSize), out.data(),
                                     static_cast<uint32_t>(k));
  }
  return 0;
}

#include "encoded/decode_frame.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "common/byte_reader.h"
#include "common/md5.h"
#include "common/salsa20.h"
#include "encoded/decryption_keys.h"
#include "encoded/inflate.h"
#include "encoded/open_file.h"

namespace kestrine {

namespace {

constexpr uint8_t kModePlain = 'N';
constexpr uint8_t kModeZlib = 'Z';
constexpr uint8_t kModeEncrypted = 'E';
constexpr uint8_t kEncryptionSalsa20 = 'S';
constexpr uint8_t kEncryptionArc4 = 'A';

struct EncryptionHeader {
  uint64_t keyName = 0;
  std::array<uint8_t, 8> iv{};  // a 4-byte IV is widened with zeros
  uint8_t type = 0;
  std::span<const uint8_t> encrypted;
};

uint32_t ParseEncryptionHeader(std::span<const uint8_t> frame, EncryptionHeader& header) {
  ByteReader r(frame);
  r.skip(1);  // the mode byte
  const uint8_t nameSize = r.u8();
  if (!r.ok()) return kErrorFileCorrupt;
  if (nameSize != 0 && nameSize != 8) return kErrorNotSupported;
  header.keyName = nameSize != 0 ? r.u64le() : 0;
  const uint8_t ivSize = r.u8();
  if (!r.ok()) return kErrorFileCorrupt;
  if (ivSize != 4 && ivSize != 8) return kErrorNotSupported;
  std::span<const uint8_t> iv = r.bytes(ivSize);
  header.type = r.u8();
  if (!r.ok()) return kErrorFileCorrupt;
  std::copy(iv.begin(), iv.end(), header.iv.begin());
  if (header.type != kEncryptionSalsa20 && header.type != kEncryptionArc4) {
    return kErrorNotSupported;
  }
  header.encrypted = frame.subspan(r.offset());
  return kErrorSuccess;
}

// Decrypts one 'E' layer of `frame` into `out`: the frame it wraps.
uint32_t DecryptLayer(const DecryptionKeyTable* keys, std::span<const uint8_t> frame,
                      uint32_t frameIndex, std::vector<uint8_t>& out) {
  EncryptionHeader header;
  if (uint32_t error = ParseEncryptionHeader(frame, header)) return error;
  const uint8_t* key = keys != nullptr ? keys->Find(header.keyName) : nullptr;
  if (key == nullptr) return kErrorUnknownFileKey;
  // Every frame of a span is encrypted under its own IV: the frame index
  // mixed into the first four IV bytes.
  for (size_t i = 0; i < 4; ++i) header.iv[i] ^= static_cast<uint8_t>(frameIndex >> (8 * i));
  if (header.type == kEncryptionArc4) return kErrorNotSupported;
  out.assign(header.encrypted.begin(), header.encrypted.end());
  Salsa20(std::span<const uint8_t>(key, 16), header.iv).Xor(0, out);
  return kErrorSuccess;
}

// Copies what fits and zero-fills the rest, so that no byte of the output is
// left as it was.
void CopyFilling(std::span<const uint8_t> from, std::span<uint8_t> to) {
  const size_t count = std::min(from.size(), to.size());
  if (count != 0) std::memcpy(to.data(), from.data(), count);
  if (to.size() > count) std::memset(to.data() + count, 0, to.size() - count);
}

bool IsAllZero(const Key16& key) {
  return std::all_of(key.begin(), key.end(), [](uint8_t b) { return b == 0; });
}

uint32_t DecodeFramed(const FrameDecodeContext& context, const TFrame& frame,
                      std::span<const uint8_t> encoded, std::span<uint8_t> content,
                      uint32_t frameIndex) {
  if (context.verifyFrames && !IsAllZero(frame.md5) && ComputeMd5(encoded) != frame.md5) {
    return kErrorFileCorrupt;
  }
  std::vector<uint8_t> decrypted;
  std::span<const uint8_t> current = encoded;
  while (!current.empty() && current[0] == kModeEncrypted) {
    std::vector<uint8_t> inner;
    if (uint32_t error = DecryptLayer(context.keys, current, frameIndex, inner)) return error;
    decrypted = std::move(inner);
    current = decrypted;
  }
  if (current.empty()) return kErrorFileCorrupt;
  const std::span<const uint8_t> payload = current.subspan(1);
  switch (current[0]) {
    case kModePlain:
      if (payload.size() > content.size()) return kErrorInsufficientBuffer;
      CopyFilling(payload, content);
      return kErrorSuccess;
    case kModeZlib:
      return InflateFrame(payload, content);
    default:
      return kErrorNotSupported;
  }
}

}  // namespace

uint32_t DecodeFrameBytes(const FrameDecodeContext& context, const TFrame& frame,
                          std::span<const uint8_t> encoded, uint8_t* out, uint32_t frameIndex) {
  const std::span<uint8_t> content(out, frame.contentSize);
  if (context.entryFlags & EF_BARE_ZLIB) return InflateWithZlib(encoded, content);
  if (context.entryFlags & EF_PLAIN) {
    CopyFilling(encoded, content);
    return kErrorSuccess;
  }
  try {
    return DecodeFramed(context, frame, encoded, content, frameIndex);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

uint32_t DecodeFrame(const TCascFile& file, const ContentEntry& entry, const TFrame& frame,
                     std::span<const uint8_t> encoded, uint8_t* out, uint32_t frameIndex) {
  FrameDecodeContext context;
  context.keys = file.storage->decryptionKeys.get();
  context.entryFlags = entry.flags;
  context.verifyFrames = (file.flags & FF_VERIFY_FRAMES) != 0;
  return DecodeFrameBytes(context, frame, encoded, out, frameIndex);
}

}  // namespace kestrine

// Encrypted archives ("mpqe-"): a whole archive encrypted with Salsa20/20.
//
//   OFFSET  SIZE  FIELD
//   0       n     ciphertext; plaintext byte i is keystream byte i XOR byte i
//
// The key is one of a built-in list of 32-character keys (the characters are
// the 256 key bits) and the nonce a built-in 8-character string; the block
// counter is the offset / 64, so every 64-byte block decrypts on its own. The
// right key is the one under which the archive starts with "MPQ".
#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "common/salsa20.h"
#include "encoded/stream_internal.h"
#include "encoded/stream_testing.h"

namespace kestrine {

namespace {

constexpr size_t kKeyLength = 32;
constexpr size_t kNonceLength = 8;
constexpr uint32_t kCipherBlock = 64;
constexpr uint8_t kArchiveSignature[3] = {'M', 'P', 'Q'};

// The candidate keys of the games' encrypted archives are not ours to ship:
// without them every encrypted archive is reported as having no fitting key.
constexpr std::array<std::string_view, 0> kBuiltInKeys = {};
// Stands in for the games' nonce, which is not shipped either.
constexpr std::string_view kBuiltInNonce = "00000000";

struct CandidateKeys {
  std::mutex lock;
  std::vector<std::string> addedKeys;
  std::string nonce{kBuiltInNonce};
};

CandidateKeys& Candidates() {
  static CandidateKeys candidates;
  return candidates;
}

Salsa20 MakeCipher(std::string_view key, std::string_view nonce) {
  return Salsa20(std::span(reinterpret_cast<const uint8_t*>(key.data()), kKeyLength),
                 std::span<const uint8_t, kNonceLength>(
                     reinterpret_cast<const uint8_t*>(nonce.data()), kNonceLength));
}

// The cipher under which `head` (the first 64 bytes) starts with "MPQ".
std::optional<Salsa20> FindCipher(const std::array<uint8_t, kCipherBlock>& head) {
  CandidateKeys& candidates = Candidates();
  std::lock_guard guard(candidates.lock);
  std::vector<std::string_view> keys(kBuiltInKeys.begin(), kBuiltInKeys.end());
  keys.insert(keys.end(), candidates.addedKeys.begin(), candidates.addedKeys.end());
  for (std::string_view key : keys) {
    Salsa20 cipher = MakeCipher(key, candidates.nonce);
    std::array<uint8_t, kCipherBlock> plain = head;
    cipher.Xor(0, plain);
    if (std::equal(std::begin(kArchiveSignature), std::end(kArchiveSignature), plain.begin())) {
      return cipher;
    }
  }
  return std::nullopt;
}

class EncryptedLayer final : public BlockLayer {
 public:
  explicit EncryptedLayer(Salsa20 cipher) : cipher_(cipher) {}

  bool BlockCheck(const TStream& /*stream*/, uint64_t /*block*/) const override { return true; }

  bool BlockRead(TStream& stream, uint64_t start, uint64_t end, uint8_t* buffer, uint64_t /*block*/,
                 bool /*present*/) override {
    const size_t length = static_cast<size_t>(end - start);
    if (stream.base->Read(start, buffer, length) != kErrorSuccess) return false;
    // The block reader's buffer holds whole blocks, so the last one decrypts whole.
    size_t whole = static_cast<size_t>(BlocksFor(length, kCipherBlock) * kCipherBlock);
    cipher_.Xor(start, std::span(buffer, whole));
    return true;
  }

  void Close(TStream& /*stream*/) override {}

 private:
  Salsa20 cipher_;
};

}  // namespace

uint32_t OpenEncryptedStream(TStream& stream) {
  if (uint32_t error = stream.base->Open(stream.fileName, !stream.readOnly())) return error;
  std::array<uint8_t, kCipherBlock> head;
  if (uint32_t error = stream.base->Read(0, head.data(), head.size())) return error;
  std::optional<Salsa20> cipher = FindCipher(head);
  if (!cipher) return kErrorUnknownFileKey;
  stream.streamSize = stream.base->size();
  stream.blockSize = kCipherBlock;
  stream.blockCount = BlocksFor(stream.streamSize, kCipherBlock);
  stream.complete = true;
  stream.layer = std::make_unique<EncryptedLayer>(*cipher);
  return kErrorSuccess;
}

void AddEncryptedArchiveKeyForTesting(std::string_view key32) {
  if (key32.size() != kKeyLength) return;
  CandidateKeys& candidates = Candidates();
  std::lock_guard guard(candidates.lock);
  candidates.addedKeys.emplace_back(key32);
}

void SetEncryptedArchiveNonceForTesting(std::string_view nonce8) {
  if (nonce8.size() != kNonceLength) return;
  CandidateKeys& candidates = Candidates();
  std::lock_guard guard(candidates.lock);
  candidates.nonce = std::string(nonce8);
}

void ResetEncryptedArchiveKeysForTesting() {
  CandidateKeys& candidates = Candidates();
  std::lock_guard guard(candidates.lock);
  candidates.addedKeys.clear();
  candidates.nonce = std::string(kBuiltInNonce);
}

}  // namespace kestrine

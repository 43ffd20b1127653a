#include "testkit/stream_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/salsa20.h"
#include "testkit/byte_writer.h"

namespace kestrine::testkit {

namespace {

uint64_t BlockCount(uint64_t size, uint64_t blockSize) {
  return (size + blockSize - 1) / blockSize;
}

bool IsPresent(const std::vector<bool>& present, uint64_t block) {
  return present.empty() || (block < present.size() && present[block]);
}

void WriteAt(int fd, uint64_t offset, const std::vector<uint8_t>& bytes) {
  if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
      static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("pwrite failed");
  }
}

}  // namespace

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
  for (uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

void WriteBinaryFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadBinaryFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> BuildFlatBitmapFile(const FlatBitmapFile& file) {
  const uint64_t blocks = BlockCount(file.data.size(), file.blockSize);
  std::vector<uint8_t> out = file.data;
  std::vector<uint8_t> bitmap((blocks + 7) / 8, 0);
  for (uint64_t block = 0; block < blocks; ++block) {
    if (IsPresent(file.present, block)) {
      bitmap[block / 8] |= static_cast<uint8_t>(1u << (block % 8));
      continue;
    }
    auto first = out.begin() + static_cast<ptrdiff_t>(block * file.blockSize);
    auto last = out.begin() + static_cast<ptrdiff_t>(
                                  std::min<uint64_t>(out.size(), (block + 1) * file.blockSize));
    std::fill(first, last, file.absentFill);
  }
  ByteWriter w(std::move(out));
  w.bytes(bitmap);
  w.text(file.signature);
  w.u32le(file.version);
  w.u32le(file.buildNumber);
  w.u64le(file.footerStreamSize.value_or(file.data.size()));
  w.u32le(file.footerBlockSize.value_or(file.blockSize));
  return w.take();
}

uint64_t PartialMapEnd(uint64_t streamSize, uint32_t blockSize) {
  return 52 + 20 * BlockCount(streamSize, blockSize);
}

std::vector<uint8_t> BuildPartialFile(const PartialFile& file) {
  const uint64_t streamSize = file.streamSizeField.value_or(file.data.size());
  const uint64_t blocks = BlockCount(file.data.size(), file.blockSize);
  ByteWriter out;
  out.u32le(file.version);
  std::string buildText = file.buildText;
  buildText.resize(32, '\0');
  out.text(buildText);
  out.u32le(0);
  out.u64le(streamSize);
  out.u32le(file.blockSizeField.value_or(file.blockSize));

  // Data area: present blocks from the last to the first.
  std::vector<uint8_t> dataArea;
  std::vector<uint64_t> offsets(blocks, 0);
  const uint64_t dataStart = 52 + 20 * blocks;
  for (uint64_t block = blocks; block-- > 0;) {
    if (!IsPresent(file.present, block)) continue;
    offsets[block] = dataStart + dataArea.size();
    auto first = file.data.begin() + static_cast<ptrdiff_t>(block * file.blockSize);
    auto last = file.data.begin() + static_cast<ptrdiff_t>(std::min<uint64_t>(
                                        file.data.size(), (block + 1) * file.blockSize));
    dataArea.insert(dataArea.end(), first, last);
  }
  for (uint64_t block = 0; block < blocks; ++block) {
    out.u32le(IsPresent(file.present, block) ? file.presentFlags : 0);
    out.u64le(offsets[block]);
    out.u64le(0);
  }
  out.bytes(dataArea);
  return out.take();
}

uint8_t FourPartByte(uint64_t streamOffset) {
  uint64_t x = (streamOffset + 1) * 0x9E3779B97F4A7C15ull;
  return static_cast<uint8_t>((x >> 56) | 1);  // never zero, unlike a hole
}

uint32_t WriteFourPartSet(const std::string& basePath, uint64_t streamSize,
                          const std::vector<uint64_t>& writtenBlocks) {
  const uint64_t blocks = BlockCount(streamSize, kFourPartBlockSize);
  const uint64_t parts = std::max<uint64_t>(1, BlockCount(blocks, kFourPartRecordsPerPart));
  for (uint64_t part = 0; part < parts; ++part) {
    const uint64_t firstBlock = part * kFourPartRecordsPerPart;
    const uint64_t partBlocks = std::min(kFourPartRecordsPerPart, blocks - firstBlock);
    const uint64_t lastLength = streamSize - (blocks == 0 ? 0 : (blocks - 1) * kFourPartBlockSize);
    const bool shortLast = part + 1 == parts && partBlocks > 0 && lastLength < kFourPartBlockSize;
    const uint64_t partSize =
        partBlocks * kFourPartRecordSize - (shortLast ? kFourPartBlockSize - lastLength : 0);
    std::string path = basePath + "." + std::to_string(part);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    for (uint64_t block : writtenBlocks) {
      if (block < firstBlock || block >= firstBlock + partBlocks) continue;
      uint64_t length = std::min(kFourPartBlockSize, streamSize - block * kFourPartBlockSize);
      std::vector<uint8_t> record = FourPartContent(block * kFourPartBlockSize, length, {block});
      record.resize(length + (kFourPartRecordSize - kFourPartBlockSize), 0xEE);
      WriteAt(fd, (block - firstBlock) * kFourPartRecordSize, record);
    }
    bool sized = ::ftruncate(fd, static_cast<off_t>(partSize)) == 0;
    ::close(fd);
    if (!sized) throw std::runtime_error("cannot size " + path);
  }
  return static_cast<uint32_t>(parts);
}

std::vector<uint8_t> FourPartContent(uint64_t offset, size_t length,
                                     const std::vector<uint64_t>& writtenBlocks) {
  std::vector<uint8_t> bytes(length, 0);
  for (size_t i = 0; i < length; ++i) {
    uint64_t block = (offset + i) / kFourPartBlockSize;
    if (std::find(writtenBlocks.begin(), writtenBlocks.end(), block) != writtenBlocks.end()) {
      bytes[i] = FourPartByte(offset + i);
    }
  }
  return bytes;
}

std::vector<uint8_t> EncryptArchive(std::span<const uint8_t> plain, std::string_view key32,
                                    std::string_view nonce8) {
  if (key32.size() != 32 || nonce8.size() != 8) throw std::invalid_argument("key or nonce size");
  Salsa20 cipher(std::span(reinterpret_cast<const uint8_t*>(key32.data()), 32),
                 std::span<const uint8_t, 8>(reinterpret_cast<const uint8_t*>(nonce8.data()), 8));
  std::vector<uint8_t> out(plain.begin(), plain.end());
  cipher.Xor(0, out);
  return out;
}

}  // namespace kestrine::testkit

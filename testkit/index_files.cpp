#include "testkit/index_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/lookup3.h"
#include "common/md5.h"
#include "testkit/byte_writer.h"

namespace kestrine::testkit {
namespace {

constexpr size_t kEntrySize = 18;
constexpr size_t kV5HeaderSize = 48;
constexpr size_t kPagedStart = 4096;
constexpr size_t kPagedBlockSize = 512;
// A version-7 file without entries must not be small enough to count as
// unverifiable; above this size it is read (as paged) and yields nothing.
constexpr size_t kEmptyBucketFileSize = 32768;

std::vector<uint8_t> EntryArea(const std::vector<IndexEntry>& entries) {
  ByteWriter w;
  for (const IndexEntry& entry : entries) w.bytes(IndexEntryBytes(entry));
  return w.take();
}

uint32_t EntriesHash(std::span<const uint8_t> area, EntryHashScheme scheme) {
  uint32_t primary = 0;
  uint32_t secondary = 0;
  for (size_t at = 0; at + kEntrySize <= area.size(); at += kEntrySize) {
    if (scheme == EntryHashScheme::kHashlittle2) {
      hashlittle2(area.data() + at, kEntrySize, &primary, &secondary);
    } else {
      primary = hashlittle(area.data() + at, kEntrySize, primary);
    }
  }
  return primary;
}

// The version-7 header up to the entries area, with its hash.
void WriteV7Header(ByteWriter& w, uint8_t bucket, uint8_t offsetBits, uint32_t hashSize,
                   bool badHash) {
  w.u32le(hashSize);
  w.u32le(0);  // header hash, below
  w.u16le(7);
  w.u8(bucket);
  w.u8(0);  // extra bytes
  w.u8(4);  // size-field length
  w.u8(5);  // offset-field length
  w.u8(9);  // key length
  w.u8(offsetBits);
  w.padTo(32);
  const size_t hashed = std::min<size_t>(hashSize, w.size() - 8);
  uint32_t hash = hashlittle(w.data().data() + 8, hashed, 0);
  w.patchU32le(4, badHash ? hash ^ 1 : hash);
}

}  // namespace

std::array<uint8_t, 18> IndexEntryBytes(const IndexEntry& entry) {
  ByteWriter w;
  w.bytes(std::span(entry.ekey).first(9));
  w.u40be(entry.storageOffset);
  w.u32le(entry.encodedSize);
  std::array<uint8_t, 18> bytes{};
  std::copy(w.data().begin(), w.data().end(), bytes.begin());
  return bytes;
}

uint64_t PackStorageOffset(uint32_t archive, uint64_t offset, uint32_t offsetBits) {
  return uint64_t{archive} << offsetBits | offset;
}

Key16 MakeKey(uint32_t seed) {
  Key16 key{};
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  for (uint8_t& byte : key) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state);
  }
  // The seed itself in the first bytes keeps keys of distinct seeds distinct.
  for (size_t i = 0; i < 4; ++i) key[i] = static_cast<uint8_t>(seed >> (8 * i)) ^ key[8 + i];
  return key;
}

uint32_t IndexBucketOf(const Key16& ekey) {
  uint8_t folded = 0;
  for (size_t i = 0; i < 9; ++i) folded ^= ekey[i];
  return (folded & 0x0F) ^ (folded >> 4);
}

std::string IndexFileName(uint32_t bucket, uint32_t version, bool upperCase) {
  char name[64];
  std::snprintf(name, sizeof(name), upperCase ? "%02X%08X.IDX" : "%02x%08x.idx", bucket, version);
  return name;
}

std::string DataIndexFileName(uint32_t bucket, uint32_t version) {
  char name[64];
  std::snprintf(name, sizeof(name), "data.i%x%x", bucket, version);
  return name;
}

std::vector<uint8_t> WriteIndexFileV7(const IndexFileV7& file) {
  ByteWriter w;
  WriteV7Header(w, file.headerBucket.value_or(file.bucket), file.offsetBits, file.headerHashSize,
                file.badHeaderHash);
  const std::vector<uint8_t> area = EntryArea(file.entries);
  const uint32_t hash = EntriesHash(area, file.scheme);
  w.u32le(file.entriesSize.value_or(static_cast<uint32_t>(area.size())));
  w.u32le(file.badEntriesHash ? hash ^ 1 : hash);
  w.bytes(area);
  w.padTo(file.padTo);
  return w.take();
}

std::vector<uint8_t> WriteIndexFileV5(const IndexFileV5& file) {
  const std::vector<uint8_t> first = EntryArea(file.firstList);
  const std::vector<uint8_t> second = EntryArea(file.secondList);
  const uint32_t secondHash = hashlittle(second.data(), second.size(), 0);
  ByteWriter w;
  w.u16le(5);
  w.u8(file.headerBucket.value_or(file.bucket));
  w.padTo(8);
  w.u64le(file.nonZeroField);
  w.padTo(24);
  w.u8(4);
  w.u8(5);
  w.u8(9);
  w.u8(file.offsetBits);
  w.u32le(static_cast<uint32_t>(file.firstList.size()));
  w.u32le(static_cast<uint32_t>(file.secondList.size()));
  w.u32le(hashlittle(first.data(), first.size(), 0));
  w.u32le(file.badSecondListHash ? secondHash ^ 1 : secondHash);
  w.u32le(0);  // header hash, over the 48 bytes with this field zero
  const uint32_t headerHash = hashlittle(w.data().data(), kV5HeaderSize, 0);
  w.patchU32le(44, file.badHeaderHash ? headerHash ^ 1 : headerHash);
  w.bytes(first);
  w.bytes(second);
  w.bytes(EntryArea(file.trailing));
  return w.take();
}

std::vector<uint8_t> WritePagedIndexFile(const PagedIndexFile& file) {
  ByteWriter w;
  WriteV7Header(w, file.bucket, file.offsetBits, 16, false);
  w.u32le(0);  // no entries area
  w.u32le(0);
  for (size_t block = 0; block < file.blocks.size(); ++block) {
    const size_t start = kPagedStart + block * kPagedBlockSize;
    w.padTo(start);
    const auto& entries = file.blocks[block];
    for (size_t i = 0; i < entries.size() && i < kPagedRecordsPerBlock; ++i) {
      std::array<uint8_t, 19> guarded{};
      const auto entry = IndexEntryBytes(entries[i]);
      std::copy(entry.begin(), entry.end(), guarded.begin());
      uint32_t guard = hashlittle(guarded.data(), guarded.size(), 0) | 0x80000000u;
      if (file.badGuard == std::pair{block, i}) guard ^= 1;
      w.u32le(guard);
      w.bytes(guarded);
      w.u8(0);
    }
    w.padTo(start + kPagedBlockSize);
  }
  w.padTo(file.minimumSize);
  return w.take();
}

std::vector<uint8_t> WriteRemoteArchiveIndex(const RemoteArchiveIndexFile& file) {
  const size_t blockBytes = size_t{file.blockSizeKb} * 1024;
  const size_t entrySize = size_t{file.keyLength} + file.sizeLength + file.offsetLength;
  ByteWriter w;
  size_t blocks = 0;
  size_t used = blockBytes;  // no block open yet
  for (size_t i = 0; i < file.entries.size(); ++i) {
    const bool breakHere =
        std::find(file.blockBreaks.begin(), file.blockBreaks.end(), i) != file.blockBreaks.end();
    if (used + entrySize > blockBytes || breakHere) {
      w.padTo(blocks * blockBytes);
      ++blocks;
      used = 0;
    }
    const RemoteIndexEntry& entry = file.entries[i];
    for (size_t k = 0; k < file.keyLength; ++k) w.u8(k < 16 ? entry.ekey[k] : 0);
    w.be(entry.encodedSize, file.sizeLength);
    w.be(entry.offset, file.offsetLength);
    used += entrySize;
  }
  w.padTo(blocks * blockBytes);
  // The block table (16 bytes per block) and 16 more bytes, which the reader
  // only counts.
  w.padTo(w.size() + blocks * 16 + 16);

  const size_t footerStart = w.size();
  w.u8(file.version);
  w.u16be(file.zeroField);
  w.u8(file.blockSizeKb);
  w.u8(file.offsetLength);
  w.u8(file.sizeLength);
  w.u8(file.keyLength);
  w.u8(file.checksumLength);
  w.u32be(static_cast<uint32_t>(file.entries.size()));
  w.u64le(0);
  Md5Digest digest = ComputeMd5(w.data().subspan(footerStart));
  if (file.badChecksum) digest[0] ^= 1;
  w.patchBytes(footerStart + 12, std::span(digest).first(8));
  return w.take();
}

StoredBlob DataArchiveWriter::Add(const Key16& ekey, std::span<const uint8_t> encoded) {
  std::vector<uint8_t>& archive = archives_[current_];
  StoredBlob blob{ekey, current_, static_cast<uint32_t>(archive.size()),
                  static_cast<uint32_t>(kArchiveRecordHeaderSize + encoded.size())};
  const std::vector<uint8_t> header = ArchiveRecordHeader(ekey, blob.encodedSize);
  archive.insert(archive.end(), header.begin(), header.end());
  archive.insert(archive.end(), encoded.begin(), encoded.end());
  blobs_.push_back(blob);
  return blob;
}

std::vector<uint8_t> ArchiveRecordHeader(const Key16& ekey, uint32_t encodedSize) {
  ByteWriter w;
  w.bytes(ekey);
  w.u32le(encodedSize);
  w.padTo(kArchiveRecordHeaderSize);
  return w.take();
}

std::vector<IndexEntry> DataArchiveWriter::IndexEntries(uint32_t offsetBits) const {
  std::vector<IndexEntry> entries;
  for (const StoredBlob& blob : blobs_) entries.push_back(blob.AsIndexEntry(offsetBits));
  return entries;
}

bool DataArchiveWriter::WriteTo(const std::string& folder) const {
  for (const auto& [number, bytes] : archives_) {
    if (!WriteFileBytes(folder + "/" + DataArchiveName(number), bytes)) return false;
  }
  return true;
}

std::string DataArchiveName(uint32_t archive) {
  char name[32];
  std::snprintf(name, sizeof(name), "data.%03u", archive);
  return name;
}

bool WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
  std::error_code error;
  const auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool WriteIndexFolder(const std::string& folder, const IndexFolder& index) {
  for (size_t bucket = 0; bucket < index.bucketCount; ++bucket) {
    IndexFileV7 file;
    file.bucket = static_cast<uint8_t>(bucket);
    file.offsetBits = index.offsetBits;
    file.scheme = index.scheme;
    for (const IndexEntry& entry : index.entries) {
      if (IndexBucketOf(entry.ekey) == bucket) file.entries.push_back(entry);
    }
    if (file.entries.empty()) file.padTo = kEmptyBucketFileSize;
    const std::string name =
        IndexFileName(static_cast<uint32_t>(bucket), index.version, index.upperCaseNames);
    if (!WriteFileBytes(folder + "/" + name, WriteIndexFileV7(file))) return false;
  }
  return true;
}

}  // namespace kestrine::testkit

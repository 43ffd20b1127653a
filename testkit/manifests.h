// Writers of ENCODING and DOWNLOAD manifests from parameters, with the faults
// a reader must notice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/hex_key.h"

namespace kestrine::testkit {

// One CKey-page entry: a file's CKey, its content size (40 bits) and the
// EKeys of its encoded forms (at least one).
struct EncodingEntry {
  Key16 ckey{};
  uint64_t contentSize = 0;
  std::vector<Key16> ekeys;
};

struct EncodingManifest {
  std::vector<EncodingEntry> entries;
  uint16_t pageSizeKb = 4;
  // Entries per page at most (0: as many as fit); the rest of a page is
  // zero padding.
  size_t entriesPerPage = 0;
  std::string especText = "z";
  // Shape and faults.
  std::string signature = "EN";
  uint8_t version = 1;
  uint8_t ckeyLength = 16;
  uint8_t ekeyLength = 16;
  std::optional<size_t> wrongTableKeyPage;  // page whose table entry names another key
  std::optional<uint32_t> pageCount;        // written instead of the real count
  size_t truncateBy = 0;                    // bytes cut from the end
};

// Pages are filled in order; an entry larger than a page throws.
std::vector<uint8_t> WriteEncodingManifest(const EncodingManifest& manifest);
// The number of CKey pages WriteEncodingManifest lays out.
size_t EncodingPageCount(const EncodingManifest& manifest);

struct DownloadEntry {
  Key16 ekey{};  // the first ekeyLength bytes are written
  uint64_t encodedSize = 0;
  uint8_t priority = 0;
  uint32_t checksum = 0;  // written when the manifest carries checksums
  uint64_t flags = 0;     // its low flagBytes bytes are written, big-endian
};

struct DownloadTag {
  std::string name;
  uint16_t type = 1;
  std::vector<size_t> entries;  // indexes of the entries the tag lists
};

struct DownloadManifest {
  uint8_t version = 3;
  uint8_t ekeyLength = 16;
  bool checksums = false;
  uint8_t flagBytes = 0;  // written for versions 2 and 3
  std::vector<DownloadEntry> entries;
  std::vector<DownloadTag> tags;
  // Faults.
  std::string signature = "DL";
  std::optional<uint32_t> entryCount;  // written instead of the real count
  size_t truncateBy = 0;
};

std::vector<uint8_t> WriteDownloadManifest(const DownloadManifest& manifest);

// `count` tags named "tag0", "tag1", ...; tag t lists the entries i with
// i % (t + 1) == 0.
std::vector<DownloadTag> ManyTags(size_t count, size_t entryCount);

}  // namespace kestrine::testkit

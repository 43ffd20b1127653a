// Writers of plain-text roots and INSTALL manifests from parameters, and an
// in-memory storage with content entries for the root handlers and search.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "storage/storage.h"

namespace kestrine::testkit {

// One line of a plain-text root: fields joined by "|".
struct PlainRootLine {
  std::string name;
  std::string key;                   // the CKey field as written
  std::optional<std::string> third;  // the optional third field
  std::vector<std::string> further;  // more fields (a malformed line)
};

// A line naming `ckey` in lower-case hex (upper case when asked).
PlainRootLine RootLine(std::string name, const Key16& ckey, bool upperCase = false);

struct PlainTextRoot {
  std::vector<PlainRootLine> lines;
  std::string lineBreak = "\n";  // written after every line
  bool leadingHash = false;      // "#" before the first line
};

std::vector<uint8_t> WritePlainTextRoot(const PlainTextRoot& root);

struct InstallTag {
  std::string name;
  uint16_t type = 1;
  std::vector<size_t> entries;  // indexes of the entries the tag lists
};

struct InstallEntry {
  std::string name;
  Key16 ckey{};
  uint32_t size = 0;
};

struct InstallManifest {
  std::vector<InstallTag> tags;
  std::vector<InstallEntry> entries;
  // Shape and faults.
  std::string signature = "IN";
  uint8_t version = 1;
  uint8_t hashSize = 16;
  std::optional<uint32_t> entryCount;  // header count; bitmaps keep the real size
  size_t truncateBy = 0;               // bytes cut from the end
};

std::vector<uint8_t> WriteInstallManifest(const InstallManifest& manifest);

struct StorageReleaser {
  void operator()(TCascStorage* storage) const { ReleaseStorage(storage); }
};
// The caller's reference to a storage; searches may hold more.
using StorageRef = std::unique_ptr<TCascStorage, StorageReleaser>;

// A storage on the heap with key tables for `capacity` entries and nothing
// else: no files, no root.
StorageRef MakeMemoryStorage(size_t capacity = 1024);

// Inserts an entry whose CKey is MakeKey(seed) and EKey MakeKey(seed + 0x10000)
// (each only when `flags` says it is known).
ContentEntry* AddContentEntry(TCascStorage& storage, uint32_t seed,
                              uint16_t flags = EF_CKEY | EF_EKEY | EF_IN_ENCODING,
                              uint32_t contentSize = 100, uint32_t encodedSize = 130);

}  // namespace kestrine::testkit

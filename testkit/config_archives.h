// The files of storages marked by "data\.build.config", which have no index
// files: the build configuration names every file by CKey and EKey, and the
// EKey's bytes 9 to 15 are its storage offset (56 bits big-endian, the
// archive number above 40 offset bits). Archive i is "%02u-%08x.data" in the
// data directory. At the offset lies the BLTE data, the same behind a
// 30-byte record header, or (build configuration "-espec = z") one bare
// zlib stream.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "testkit/build_files.h"

namespace kestrine::testkit {

enum class ConfigFileForm { kBlte, kBlteBehindHeader, kBareZlib };

struct ConfigFileLayout {
  std::string key;  // its build-configuration key: "vfs-1", "root", ...
  std::vector<uint8_t> content;
  ConfigFileForm form = ConfigFileForm::kBlteBehindHeader;
  uint32_t archive = 0;
};

// A file as stored.
struct ConfigFile {
  std::string key;
  ConfigFileForm form = ConfigFileForm::kBlte;
  Key16 ckey{};  // MD5 of the content
  Key16 ekey{};  // MD5 of the encoded bytes, bytes 9..15 replaced by the location
  std::vector<uint8_t> content;
  uint32_t encodedSize = 0;  // as named: the record header counts
  uint32_t archive = 0;
  uint64_t offset = 0;  // of the record header, or of the data without one
};

// `content` as one zlib stream without BLTE framing.
std::vector<uint8_t> BareZlibStream(const std::vector<uint8_t>& content);

// The storage offset packed with 40 offset bits.
uint64_t ConfigStorageOffset(uint32_t archive, uint64_t offset);

class ConfigArchiveWriter {
 public:
  // Encodes the file (BLTE in zlib frames of 4 KiB, or a bare zlib stream)
  // and appends it to its archive.
  ConfigFile Add(const ConfigFileLayout& layout);
  // Appends `encoded` as it is.
  ConfigFile AddEncoded(const std::string& key, std::vector<uint8_t> content,
                        const std::vector<uint8_t>& encoded, ConfigFileForm form, uint32_t archive);
  const std::map<uint32_t, std::vector<uint8_t>>& archives() const { return archives_; }
  // Writes every archive into the data directory. False on an I/O error.
  bool WriteTo(const std::filesystem::path& dataDirectory) const;

 private:
  std::map<uint32_t, std::vector<uint8_t>> archives_;
};

// "key = CKEY EKEY", "key-size = CONTENT ENCODED", and for a bare zlib file
// "key-espec = z".
void NameConfigFile(ConfigValues& values, const ConfigFile& file);

}  // namespace kestrine::testkit

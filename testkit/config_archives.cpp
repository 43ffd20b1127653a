#include "testkit/config_archives.h"

#include "common/md5.h"
#include "testkit/blte.h"
#include "testkit/index_files.h"
#include "testkit/installation.h"

namespace kestrine::testkit {

namespace {

constexpr uint32_t kOffsetBits = 40;
constexpr size_t kLocationInEKey = 9;

// The MD5 of the encoded bytes with the location in its last seven bytes.
Key16 LocatedEKey(const std::vector<uint8_t>& encoded, uint64_t storageOffset) {
  Key16 ekey = ComputeMd5(encoded);
  for (size_t i = 15; i >= kLocationInEKey; --i, storageOffset >>= 8) {
    ekey[i] = static_cast<uint8_t>(storageOffset);
  }
  return ekey;
}

}  // namespace

std::vector<uint8_t> BareZlibStream(const std::vector<uint8_t>& content) {
  std::vector<uint8_t> frame = EncodeFrame(content, FramePlan{}, 0);
  frame.erase(frame.begin());  // the mode byte
  return frame;
}

uint64_t ConfigStorageOffset(uint32_t archive, uint64_t offset) {
  return uint64_t{archive} << kOffsetBits | offset;
}

ConfigFile ConfigArchiveWriter::Add(const ConfigFileLayout& layout) {
  const std::vector<uint8_t> encoded = layout.form == ConfigFileForm::kBareZlib
                                           ? BareZlibStream(layout.content)
                                           : EncodeManifest(layout.content).encoded;
  return AddEncoded(layout.key, layout.content, encoded, layout.form, layout.archive);
}

ConfigFile ConfigArchiveWriter::AddEncoded(const std::string& key, std::vector<uint8_t> content,
                                           const std::vector<uint8_t>& encoded, ConfigFileForm form,
                                           uint32_t archive) {
  std::vector<uint8_t>& bytes = archives_[archive];
  const bool header = form == ConfigFileForm::kBlteBehindHeader;
  ConfigFile file;
  file.key = key;
  file.form = form;
  file.ckey = ComputeMd5(content);
  file.content = std::move(content);
  file.archive = archive;
  file.offset = bytes.size();
  file.encodedSize =
      static_cast<uint32_t>(encoded.size() + (header ? kArchiveRecordHeaderSize : 0));
  file.ekey = LocatedEKey(encoded, ConfigStorageOffset(archive, file.offset));
  if (header) {
    const std::vector<uint8_t> recordHeader = ArchiveRecordHeader(file.ekey, file.encodedSize);
    bytes.insert(bytes.end(), recordHeader.begin(), recordHeader.end());
  }
  bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  return file;
}

bool ConfigArchiveWriter::WriteTo(const std::filesystem::path& dataDirectory) const {
  for (const auto& [number, bytes] : archives_) {
    if (!WriteFileBytes((dataDirectory / BuildConfigArchiveName(number)).string(), bytes)) {
      return false;
    }
  }
  return true;
}

void NameConfigFile(ConfigValues& values, const ConfigFile& file) {
  values.emplace_back(file.key, KeyText(file.ckey) + " " + KeyText(file.ekey));
  values.emplace_back(file.key + "-size",
                      std::to_string(file.content.size()) + " " + std::to_string(file.encodedSize));
  if (file.form == ConfigFileForm::kBareZlib) values.emplace_back(file.key + "-espec", "z");
}

}  // namespace kestrine::testkit

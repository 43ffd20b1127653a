#include "testkit/manifests.h"

#include <stdexcept>

#include "common/md5.h"

namespace kestrine::testkit {

namespace {

void PutBig(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
  for (size_t i = bytes; i-- > 0;) {
    out.push_back(i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0);
  }
}

void PutKey(std::vector<uint8_t>& out, const Key16& key, size_t length = 16) {
  out.insert(out.end(), key.begin(), key.begin() + static_cast<std::ptrdiff_t>(length));
}

std::vector<uint8_t> EntryBytes(const EncodingEntry& entry) {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(entry.ekeys.size()));
  PutBig(out, entry.contentSize, 5);
  PutKey(out, entry.ckey);
  for (const Key16& ekey : entry.ekeys) PutKey(out, ekey);
  return out;
}

// The CKey pages, each padded to the page size, and their first keys.
struct Pages {
  std::vector<std::vector<uint8_t>> pages;
  std::vector<Key16> firstKeys;
};

Pages LayOutPages(const EncodingManifest& manifest) {
  const size_t pageSize = size_t{manifest.pageSizeKb} * 1024;
  Pages out;
  size_t inPage = 0;
  for (const EncodingEntry& entry : manifest.entries) {
    std::vector<uint8_t> bytes = EntryBytes(entry);
    if (bytes.size() > pageSize) throw std::invalid_argument("encoding entry exceeds a page");
    const bool pageFull = manifest.entriesPerPage != 0 && inPage == manifest.entriesPerPage;
    if (out.pages.empty() || pageFull || out.pages.back().size() + bytes.size() > pageSize) {
      out.pages.emplace_back();
      out.firstKeys.push_back(entry.ckey);
      inPage = 0;
    }
    out.pages.back().insert(out.pages.back().end(), bytes.begin(), bytes.end());
    ++inPage;
  }
  for (auto& page : out.pages) page.resize(pageSize, 0);
  return out;
}

void Truncate(std::vector<uint8_t>& out, size_t by) {
  out.resize(out.size() > by ? out.size() - by : 0);
}

}  // namespace

size_t EncodingPageCount(const EncodingManifest& manifest) {
  return LayOutPages(manifest).pages.size();
}

std::vector<uint8_t> WriteEncodingManifest(const EncodingManifest& manifest) {
  Pages pages = LayOutPages(manifest);
  std::vector<uint8_t> out(manifest.signature.begin(), manifest.signature.end());
  out.push_back(manifest.version);
  out.push_back(manifest.ckeyLength);
  out.push_back(manifest.ekeyLength);
  PutBig(out, manifest.pageSizeKb, 2);
  PutBig(out, manifest.pageSizeKb, 2);  // EKey-spec pages: none follow
  PutBig(out, manifest.pageCount.value_or(static_cast<uint32_t>(pages.pages.size())), 4);
  PutBig(out, 0, 4);
  out.push_back(0);
  PutBig(out, manifest.especText.size(), 4);
  out.insert(out.end(), manifest.especText.begin(), manifest.especText.end());

  for (size_t i = 0; i < pages.pages.size(); ++i) {
    Key16 first = pages.firstKeys[i];
    if (manifest.wrongTableKeyPage == i) first[5] ^= 0x5A;
    PutKey(out, first);
    PutKey(out, ComputeMd5(pages.pages[i]));
  }
  for (const auto& page : pages.pages) out.insert(out.end(), page.begin(), page.end());
  Truncate(out, manifest.truncateBy);
  return out;
}

std::vector<uint8_t> WriteDownloadManifest(const DownloadManifest& manifest) {
  std::vector<uint8_t> out(manifest.signature.begin(), manifest.signature.end());
  const size_t count = manifest.entries.size();
  const uint8_t flagBytes = manifest.version >= 2 ? manifest.flagBytes : 0;
  out.push_back(manifest.version);
  out.push_back(manifest.ekeyLength);
  out.push_back(manifest.checksums ? 1 : 0);
  PutBig(out, manifest.entryCount.value_or(static_cast<uint32_t>(count)), 4);
  PutBig(out, manifest.tags.size(), 2);
  if (manifest.version >= 2) out.push_back(flagBytes);
  if (manifest.version >= 3) PutBig(out, 0, 4);

  for (const DownloadEntry& entry : manifest.entries) {
    PutKey(out, entry.ekey, manifest.ekeyLength);
    PutBig(out, entry.encodedSize, 5);
    out.push_back(entry.priority);
    if (manifest.checksums) PutBig(out, entry.checksum, 4);
    PutBig(out, entry.flags, flagBytes);
  }
  for (const DownloadTag& tag : manifest.tags) {
    out.insert(out.end(), tag.name.begin(), tag.name.end());
    out.push_back(0);
    PutBig(out, tag.type, 2);
    std::vector<uint8_t> bits((count + 7) / 8, 0);
    for (size_t i : tag.entries) bits.at(i / 8) |= static_cast<uint8_t>(0x80 >> (i % 8));
    out.insert(out.end(), bits.begin(), bits.end());
  }
  Truncate(out, manifest.truncateBy);
  return out;
}

std::vector<DownloadTag> ManyTags(size_t count, size_t entryCount) {
  std::vector<DownloadTag> tags(count);
  for (size_t t = 0; t < count; ++t) {
    tags[t].name = "tag" + std::to_string(t);
    tags[t].type = static_cast<uint16_t>(t % 4 + 1);
    for (size_t i = 0; i < entryCount; i += t + 1) tags[t].entries.push_back(i);
  }
  return tags;
}

}  // namespace kestrine::testkit

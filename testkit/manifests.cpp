#include "testkit/manifests.h"

#include <stdexcept>

#include "common/md5.h"
#include "testkit/byte_writer.h"

namespace kestrine::testkit {

namespace {

std::vector<uint8_t> EntryBytes(const EncodingEntry& entry) {
  ByteWriter out;
  out.u8(static_cast<uint8_t>(entry.ekeys.size()));
  out.u40be(entry.contentSize);
  out.bytes(entry.ckey);
  for (const Key16& ekey : entry.ekeys) out.bytes(ekey);
  return out.take();
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

}  // namespace

size_t EncodingPageCount(const EncodingManifest& manifest) {
  return LayOutPages(manifest).pages.size();
}

std::vector<uint8_t> WriteEncodingManifest(const EncodingManifest& manifest) {
  Pages pages = LayOutPages(manifest);
  ByteWriter out;
  out.text(manifest.signature);
  out.u8(manifest.version);
  out.u8(manifest.ckeyLength);
  out.u8(manifest.ekeyLength);
  out.u16be(manifest.pageSizeKb);
  out.u16be(manifest.pageSizeKb);  // EKey-spec pages: none follow
  out.u32be(manifest.pageCount.value_or(static_cast<uint32_t>(pages.pages.size())));
  out.u32be(0);
  out.u8(0);
  out.u32be(static_cast<uint32_t>(manifest.especText.size()));
  out.text(manifest.especText);

  for (size_t i = 0; i < pages.pages.size(); ++i) {
    Key16 first = pages.firstKeys[i];
    if (manifest.wrongTableKeyPage == i) first[5] ^= 0x5A;
    out.bytes(first);
    out.bytes(ComputeMd5(pages.pages[i]));
  }
  for (const auto& page : pages.pages) out.bytes(page);
  out.dropLast(manifest.truncateBy);
  return out.take();
}

std::vector<uint8_t> WriteDownloadManifest(const DownloadManifest& manifest) {
  ByteWriter out;
  out.text(manifest.signature);
  const size_t count = manifest.entries.size();
  const uint8_t flagBytes = manifest.version >= 2 ? manifest.flagBytes : 0;
  out.u8(manifest.version);
  out.u8(manifest.ekeyLength);
  out.u8(manifest.checksums ? 1 : 0);
  out.u32be(manifest.entryCount.value_or(static_cast<uint32_t>(count)));
  out.u16be(static_cast<uint16_t>(manifest.tags.size()));
  if (manifest.version >= 2) out.u8(flagBytes);
  if (manifest.version >= 3) out.u32be(0);

  for (const DownloadEntry& entry : manifest.entries) {
    out.bytes(std::span(entry.ekey).first(manifest.ekeyLength));
    out.u40be(entry.encodedSize);
    out.u8(entry.priority);
    if (manifest.checksums) out.u32be(entry.checksum);
    out.be(entry.flags, flagBytes);
  }
  for (const DownloadTag& tag : manifest.tags) {
    out.text(tag.name);
    out.u8(0);
    out.u16be(tag.type);
    std::vector<uint8_t> bits((count + 7) / 8, 0);
    for (size_t i : tag.entries) bits.at(i / 8) |= static_cast<uint8_t>(0x80 >> (i % 8));
    out.bytes(bits);
  }
  out.dropLast(manifest.truncateBy);
  return out.take();
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

#include "testkit/wow_root.h"

#include <algorithm>

#include "roots/file_tree.h"
#include "testkit/byte_writer.h"

namespace kestrine::testkit {

namespace {

constexpr uint32_t kHeadedHeaderSize = 20;

void PutBlockHeader(ByteWriter& out, const WowRootBlock& block, uint32_t version) {
  out.u32le(block.fileCount.value_or(static_cast<uint32_t>(block.files.size())));
  if (version < 2) {
    out.u32le(block.contentFlags);
    out.u32le(block.localeFlags);
    return;
  }
  constexpr uint32_t kByteBits = 0xFFu << 17;
  out.u32le(block.localeFlags);
  out.u32le(block.contentFlags & 0xFFFF);
  out.u32le(block.contentFlags & ~0xFFFFu & ~kByteBits);
  out.u8(static_cast<uint8_t>(block.contentFlags >> 17));
}

void PutBlock(ByteWriter& out, const WowRootBlock& block, uint32_t version, bool oldEntries) {
  PutBlockHeader(out, block, version);
  uint32_t previous = 0;
  for (size_t i = 0; i < block.files.size(); ++i) {
    const uint32_t id = block.files[i].fileId;
    out.u32le(i == 0 ? id : id - previous - 1);
    previous = id;
  }
  if (oldEntries) {
    for (const WowRootFile& file : block.files) {
      out.bytes(file.ckey);
      out.u64le(file.NameHashWritten());
    }
    return;
  }
  for (const WowRootFile& file : block.files) out.bytes(file.ckey);
  if (block.contentFlags & 0x10000000) return;
  for (const WowRootFile& file : block.files) out.u64le(file.NameHashWritten());
}

uint32_t TotalFiles(const WowRootPlan& plan) {
  size_t total = 0;
  for (const WowRootBlock& block : plan.blocks) total += block.files.size();
  return plan.totalCount.value_or(static_cast<uint32_t>(total));
}

uint32_t NamedFiles(const WowRootPlan& plan) {
  size_t named = 0;
  for (const WowRootBlock& block : plan.blocks) {
    named += std::count_if(block.files.begin(), block.files.end(),
                           [](const WowRootFile& file) { return file.NameHashWritten() != 0; });
  }
  return plan.namedCount.value_or(static_cast<uint32_t>(named));
}

void PutHeader(ByteWriter& out, const WowRootPlan& plan) {
  if (plan.layout == WowLayout::kHeaderless) return;
  out.text("TSFM");
  if (plan.layout == WowLayout::kHeaded) {
    out.u32le(plan.headerSize.value_or(kHeadedHeaderSize));
    out.u32le(plan.version);
  }
  out.u32le(TotalFiles(plan));
  out.u32le(NamedFiles(plan));
  // A larger header size pads the header; a smaller one leaves the blocks
  // behind the whole header, where the reader does not look for them.
  if (plan.layout == WowLayout::kHeaded && plan.padHeader) out.padTo(plan.headerSize.value_or(0));
}

}  // namespace

uint64_t WowRootFile::NameHashWritten() const {
  return hashed && !name.empty() ? NameHash(name) : 0;
}

WowRootPlan WowPlan(WowLayout layout, uint32_t version) {
  WowRootPlan plan;
  plan.layout = layout;
  plan.version = version;
  return plan;
}

WowRootBlock WowBlock(uint32_t localeFlags, uint32_t contentFlags, std::vector<WowRootFile> files) {
  WowRootBlock block;
  block.localeFlags = localeFlags;
  block.contentFlags = contentFlags;
  block.files = std::move(files);
  return block;
}

WowRootFile WowFile(uint32_t fileId, const Key16& ckey, std::string name, bool hashed) {
  WowRootFile file;
  file.fileId = fileId;
  file.ckey = ckey;
  file.name = std::move(name);
  file.hashed = hashed;
  return file;
}

std::vector<uint8_t> WriteWowRoot(const WowRootPlan& plan) {
  ByteWriter out;
  PutHeader(out, plan);
  const uint32_t version = plan.layout == WowLayout::kHeaded ? plan.version : 0;
  for (const WowRootBlock& block : plan.blocks) {
    PutBlock(out, block, version, plan.layout == WowLayout::kHeaderless);
  }
  out.dropLast(plan.truncateBy);
  return out.take();
}

uint32_t UnnamedFilesOf(const WowRootPlan& plan) {
  return TotalFiles(plan) - NamedFiles(plan);
}

std::string NameListFile(const std::vector<std::string>& names, const std::string& lineBreak) {
  std::string text;
  for (const std::string& name : names) text += name + lineBreak;
  return text;
}

std::string IdListFile(const std::vector<std::pair<uint32_t, std::string>>& lines) {
  std::string text;
  for (const auto& [id, name] : lines) text += std::to_string(id) + ";" + name + "\n";
  return text;
}

void StoreListedFile(InstallationPlan& layout, const StoredFile& file) {
  layout.files.push_back({file.ekey, file.encoded});
  layout.encoding.entries.push_back({file.ckey, file.content.size(), {file.ekey}});
}

}  // namespace kestrine::testkit

#include "testkit/diablo_root.h"

#include <algorithm>

#include "common/md5.h"
#include "roots/diablo_core_toc.h"
#include "roots/diablo_root.h"
#include "testkit/byte_writer.h"

namespace kestrine::testkit {

namespace {

constexpr char kBaseDirectory[] = "Base";

void PutName(ByteWriter& out, const std::string& name, bool terminated = true) {
  out.text(name);
  if (terminated) out.u8(0);
}

uint32_t Count(size_t real, const std::optional<uint32_t>& written) {
  return written.value_or(static_cast<uint32_t>(real));
}

// The name of the table of contents and of the package list inside "Base".
std::string InsideBase(const char* fullName) {
  return std::string(fullName).substr(sizeof kBaseDirectory);
}

}  // namespace

std::vector<uint8_t> WriteDiabloDirectory(const DiabloDirectoryPlan& plan) {
  ByteWriter out;
  out.u32le(plan.signature);
  if (plan.signature != kDiabloRootSignature) {
    out.u32le(Count(plan.assets.size(), plan.assetCount));
    for (const DiabloAssetPlan& asset : plan.assets) {
      out.bytes(asset.ckey);
      out.u32le(asset.snoId);
    }
    out.u32le(Count(plan.parts.size(), plan.partCount));
    for (const DiabloAssetPartPlan& part : plan.parts) {
      out.bytes(part.ckey);
      out.u32le(part.snoId);
      out.u32le(part.subIndex);
    }
  }
  out.u32le(Count(plan.named.size(), plan.namedCount));
  for (size_t i = 0; i < plan.named.size(); ++i) {
    out.bytes(plan.named[i].ckey);
    const bool last = i + 1 == plan.named.size();
    PutName(out, plan.named[i].name, !(last && plan.unterminatedLastName));
  }
  out.dropLast(plan.truncateBy);
  return out.take();
}

std::vector<uint8_t> WriteCoreToc(const CoreTocPlan& plan) {
  ByteWriter out;
  out.zeros(kCoreTocHeaderSize);
  for (uint32_t table = 0; table < kCoreTocTables; ++table) {
    std::vector<const CoreTocRecord*> records;
    for (const CoreTocRecord& record : plan.records) {
      if (record.table.value_or(record.group) == table) records.push_back(&record);
    }
    const size_t offset = out.size() - kCoreTocHeaderSize;
    out.patchU32le(4 * table, plan.counts.contains(table) ? plan.counts.at(table)
                                                          : static_cast<uint32_t>(records.size()));
    out.patchU32le(4 * (kCoreTocTables + table), plan.offsets.contains(table)
                                                     ? plan.offsets.at(table)
                                                     : static_cast<uint32_t>(offset));
    uint32_t nameOffset = 0;
    for (const CoreTocRecord* record : records) {
      out.u32le(record->group);
      out.u32le(record->snoId);
      out.u32le(record->nameOffset.value_or(nameOffset));
      nameOffset += static_cast<uint32_t>(record->name.size() + 1);
    }
    for (const CoreTocRecord* record : records) PutName(out, record->name);
  }
  out.dropLast(plan.truncateBy);
  return out.take();
}

CoreTocRecord TocRecord(uint32_t group, uint32_t snoId, std::string name) {
  CoreTocRecord record;
  record.group = group;
  record.snoId = snoId;
  record.name = std::move(name);
  return record;
}

CoreTocPlan TocOf(std::vector<CoreTocRecord> records) {
  CoreTocPlan plan;
  plan.records = std::move(records);
  return plan;
}

PackageListPlan PackagesOf(std::vector<std::string> names) {
  PackageListPlan plan;
  plan.names = std::move(names);
  return plan;
}

DiabloDirectoryPlan RootDirectory() {
  DiabloDirectoryPlan plan;
  plan.signature = kDiabloRootSignature;
  return plan;
}

std::vector<uint8_t> WritePackageList(const PackageListPlan& plan) {
  ByteWriter out;
  out.u32le(plan.signature);
  out.u32le(Count(plan.names.size(), plan.count));
  for (const std::string& name : plan.names) PutName(out, name);
  out.dropLast(plan.truncateBy);
  return out.take();
}

std::vector<uint8_t> WriteDiabloRoot(const DiabloRootPlan& plan, const DiabloFileStore& store) {
  std::vector<DiabloDirectoryFile> directories = plan.directories;
  if (plan.toc || plan.packages) {
    auto base = std::find_if(directories.begin(), directories.end(),
                             [](const DiabloDirectoryFile& d) { return d.name == kBaseDirectory; });
    if (base == directories.end()) {
      directories.push_back({kBaseDirectory, {}});
      base = directories.end() - 1;
    }
    if (plan.toc) {
      base->file.named.push_back({store(WriteCoreToc(*plan.toc)), InsideBase(kDiabloCoreTocName)});
    }
    if (plan.packages) {
      base->file.named.push_back(
          {store(WritePackageList(*plan.packages)), InsideBase(kDiabloPackagesName)});
    }
  }
  DiabloDirectoryPlan root = plan.root;
  for (const DiabloDirectoryFile& directory : directories) {
    root.named.push_back({store(WriteDiabloDirectory(directory.file)), directory.name});
  }
  return WriteDiabloDirectory(root);
}

DiabloFileStore InstallationStore(InstallationPlan& layout) {
  return [&layout](const std::vector<uint8_t>& content) {
    WrittenManifest file = EncodeManifest(content);
    const bool listed = std::any_of(layout.encoding.entries.begin(), layout.encoding.entries.end(),
                                    [&](const EncodingEntry& e) { return e.ckey == file.ckey; });
    if (!listed) {
      layout.files.push_back({file.ekey, file.encoded});
      layout.encoding.entries.push_back({file.ckey, content.size(), {file.ekey}});
    }
    return file.ckey;
  };
}

void StoreDiabloRoot(InstallationPlan& layout, const DiabloRootPlan& plan) {
  layout.rootFile = WriteDiabloRoot(plan, InstallationStore(layout));
}

Key16 MemoryFiles::Store(const std::vector<uint8_t>& content) {
  ContentEntry record;
  record.ckey = ComputeMd5(content);
  record.ekey = ComputeMd5(record.ckey);
  record.flags = EF_CKEY | EF_EKEY | EF_IN_ENCODING;
  record.contentSize = static_cast<uint32_t>(content.size());
  storage_.contents.Insert(record);
  files_[record.ckey] = content;
  return record.ckey;
}

uint32_t MemoryFiles::Read(ContentEntry* entry, std::vector<uint8_t>& out) const {
  out.clear();
  if (entry == nullptr) return kErrorFileNotFound;
  if (auto failure = failures_.find(entry->ckey); failure != failures_.end()) {
    return failure->second;
  }
  auto file = files_.find(entry->ckey);
  if (file == files_.end()) return kErrorFileNotFound;
  out = file->second;
  return kErrorSuccess;
}

}  // namespace kestrine::testkit

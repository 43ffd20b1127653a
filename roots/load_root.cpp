#include "roots/load_root.h"

#include <array>
#include <cstring>

#include "common/errors.h"
#include "roots/root_handler.h"
#include "roots/root_loaders.h"
#include "storage/manifest_file.h"

namespace kestrine {

namespace {

// Shorter files are no root of any format.
constexpr size_t kMinimumRootSize = 33;

// A loader and the format it reports for the storage when it takes a root.
struct FormatLoader {
  RootLoader loader;
  RootFormat format;
};

struct SignedFormat {
  std::array<uint8_t, 4> signature;
  FormatLoader format;
};

constexpr SignedFormat kSignedFormats[] = {
    {{0xC4, 0xD0, 0x07, 0x80}, {LoadDiabloRoot, kRootDiablo}},
    {{'T', 'S', 'F', 'M'}, {LoadWowRoot, kRootWow}},
    {{'T', 'V', 'F', 'S'}, {LoadTvfsRoot, kRootTvfs}},
    {{'M', 'N', 'D', 'X'}, {LoadMndxRoot, kRootNone}},
};

constexpr FormatLoader kUnsignedFormats[] = {
    {LoadOwRoot, kRootNone}, {LoadPlainTextRoot, kRootPlainText}, {LoadWowRoot, kRootWow}};

// A loader that installed its handler (it may also have asked for the root
// to be read again, 1011) names the storage's root format.
uint32_t RunLoader(TCascStorage& storage, const FormatLoader& format, std::span<const uint8_t> data,
                   uint32_t localeMask) {
  const uint32_t result = format.loader(storage, data, localeMask);
  if (storage.root) storage.rootFormat = format.format;
  return result;
}

struct NamedManifest {
  const char* name;
  ContentEntry TCascStorage::*entry;
};

constexpr NamedManifest kNamedManifests[] = {
    {"ENCODING", &TCascStorage::encodingEntry}, {"DOWNLOAD", &TCascStorage::downloadEntry},
    {"INSTALL", &TCascStorage::installEntry},   {"PATCH", &TCascStorage::patchEntry},
    {"ROOT", &TCascStorage::rootEntry},         {"SIZE", &TCascStorage::sizeEntry},
};

ContentEntry* StoredEntry(TCascStorage& storage, const ContentEntry& record) {
  return storage.contents.FindByCKey(record.ckey.data());
}

uint32_t ReadManifest(TCascStorage& storage, ContentEntry* entry, std::vector<uint8_t>& out) {
  return LoadManifestFile(storage, entry, out);
}

// The root step's result, and whether a root file itself read as damaged.
struct RootOutcome {
  uint32_t result = kErrorSuccess;
  bool rootDamaged = false;
};

RootOutcome LoadAndDispatch(TCascStorage& storage, const StoredFileReader& read,
                            const ContentEntry& record, uint32_t localeMask) {
  ContentEntry* entry = StoredEntry(storage, record);
  std::vector<uint8_t> data;
  uint32_t result = WithOnlineFallback(storage, [&] { return read(storage, entry, data); });
  if (result != kErrorSuccess) return {result, result == kErrorFileCorrupt};
  if (data.size() < kMinimumRootSize) return {kErrorBadFormat};
  return {DispatchRoot(storage, data, localeMask)};
}

// A root read through the VFS-root entry may ask (1011) for the ROOT entry to
// be read as well; the handler built from it then takes over the first
// handler's names.
RootOutcome LoadRoot(TCascStorage& storage, const StoredFileReader& read) {
  const uint32_t localeMask = storage.EffectiveLocaleMask();
  const bool vfsRoot = storage.vfsRootEntry.contentSize != kUnknownSize;
  if (ProgressCancelled(storage, kStageManifest, "ROOT", 0, 0)) return {kErrorCancelled};
  RootOutcome outcome = LoadAndDispatch(
      storage, read, vfsRoot ? storage.vfsRootEntry : storage.rootEntry, localeMask);
  if (outcome.result == kErrorReparseRoot && vfsRoot) {
    if (ProgressCancelled(storage, kStageManifest, "ROOT (reparsed)", 0, 0)) {
      return {kErrorCancelled};
    }
    const std::unique_ptr<TRootHandler> setAside = std::move(storage.root);
    outcome = LoadAndDispatch(storage, read, storage.rootEntry, localeMask);
    if (storage.root && setAside) storage.root->AdoptNames(*setAside);
  }
  // The reparse request is between a loader and this step only.
  if (outcome.result == kErrorReparseRoot) outcome.result = kErrorBadFormat;
  return outcome;
}

uint32_t LoadInstallFallback(TCascStorage& storage, const StoredFileReader& read) {
  if (ProgressCancelled(storage, kStageManifest, "INSTALL", 0, 0)) return kErrorCancelled;
  storage.root.reset();
  std::vector<uint8_t> data;
  if (uint32_t error = read(storage, StoredEntry(storage, storage.installEntry), data)) {
    return error;
  }
  const uint32_t result = LoadInstallRoot(storage, data, storage.EffectiveLocaleMask());
  if (storage.root) storage.rootFormat = kRootInstallManifest;
  return result;
}

}  // namespace

uint32_t DispatchRoot(TCascStorage& storage, std::span<const uint8_t> data, uint32_t localeMask) {
  if (data.size() >= 4) {
    for (const SignedFormat& format : kSignedFormats) {
      if (std::memcmp(data.data(), format.signature.data(), 4) == 0) {
        return RunLoader(storage, format.format, data, localeMask);
      }
    }
  }
  uint32_t result = kErrorBadFormat;
  for (const FormatLoader& format : kUnsignedFormats) {
    result = RunLoader(storage, format, data, localeMask);
    if (result != kErrorBadFormat) break;
  }
  return result;
}

// A name the tree cannot take: its nodes could not be allocated.
uint32_t NameManifests(TCascStorage& storage) {
  if (!storage.root) return kErrorSuccess;
  for (const NamedManifest& manifest : kNamedManifests) {
    const ContentEntry& record = storage.*manifest.entry;
    if ((record.flags & EF_CKEY) == 0) continue;
    uint16_t flags = EF_MANIFEST;
    ContentEntry* entry = StoredEntry(storage, record);
    // An online storage reads the patch manifest from the content servers.
    if (entry == nullptr && manifest.entry == &TCascStorage::patchEntry && storage.IsOnline()) {
      entry = storage.contents.Insert(record);
      flags |= EF_REMOTE_ARCHIVE;
    }
    if (entry == nullptr) continue;
    if (storage.root->InsertName(manifest.name, entry) != kErrorSuccess) {
      return kErrorNotEnoughMemory;
    }
    entry->flags |= flags;
  }
  return kErrorSuccess;
}

uint32_t LoadRootStep(TCascStorage& storage) {
  return LoadRootStep(storage, ReadManifest);
}

// A root that is missing or in no format a loader takes falls back to the
// INSTALL manifest, whose names at least can be opened. A cancel, a lack of
// memory or a root whose bytes read as damaged (its content key or a frame
// check failed) ends the open instead: the INSTALL manifest would name other
// files, and a storage that silently lists fewer files than it holds is worse
// than one that does not open.
uint32_t LoadRootStep(TCascStorage& storage, const StoredFileReader& read) {
  const RootOutcome outcome = LoadRoot(storage, read);
  uint32_t result = outcome.result;
  if (result == kErrorCancelled || outcome.rootDamaged) return result;
  if (storage.kind != BUILD_CONFIG && result != kErrorSuccess && result != kErrorNotEnoughMemory) {
    result = LoadInstallFallback(storage, read);
  }
  if (result != kErrorSuccess) return result;
  if (storage.kind == BUILD_CONFIG) storage.entriesAtEnd = storage.contents.size();
  return NameManifests(storage);
}

}  // namespace kestrine

#include "tool/import_driver.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "tool/asset_selection.h"
#include "tool/bundle_writer.h"
#include "tool/import_error.h"
#include "tool/sound_table.h"
#include "tool/verified_read.h"

namespace kestrine {

namespace {

constexpr double kBytesPerMiB = 1048576.0;
constexpr size_t kHugePageSize = size_t{2} << 20;

// One run of the import. Holds everything the run has taken, so that a
// failure at any step can release it in one place.
class ClassicImport {
 public:
  ClassicImport(StorageApi& api, std::FILE* out) : api_(api), out_(out) {}

  void Run(const char* installDirectory, const char* outputPath);
  void ReleaseAfterFailure();

 private:
  void OpenLocalStorage(const char* installDirectory);
  void EnumerateAssets();
  void AddSearchResult(const SearchResult& result);
  void SelectAndSort();
  void WriteBundle(const char* outputPath);
  void ImportAsset(const AssetEntry& entry);
  void PrintProgress(size_t index);
  uint8_t* AssetBuffer(size_t size);

  StorageApi& api_;
  std::FILE* out_;
  ApiStorage storage_;
  ApiSearch search_;
  ApiFile openFile_;
  std::unique_ptr<BundleWriter> bundle_;
  std::vector<AssetEntry> entries_;
  std::unordered_set<std::string> seenNames_;
  std::string soundTableStorageName_;
  uint64_t totalBytes_ = 0;
  struct FreeDeleter {
    void operator()(uint8_t* block) const { std::free(block); }
  };
  // One asset's content at a time, in a buffer kept from asset to asset.
  std::unique_ptr<uint8_t, FreeDeleter> assetBuffer_;
  size_t assetCapacity_ = 0;
};

void ClassicImport::Run(const char* installDirectory, const char* outputPath) {
  OpenLocalStorage(installDirectory);
  EnumerateAssets();
  SelectAndSort();
  WriteBundle(outputPath);
  storage_.reset();
  std::fprintf(out_, "Imported %zu original asset files, %.1f MiB from local storage.\n",
               entries_.size(), static_cast<double>(totalBytes_) / kBytesPerMiB);
}

void ClassicImport::ReleaseAfterFailure() {
  openFile_.reset();
  search_.reset();
  storage_.reset();
  bundle_.reset();  // closes and removes the unfinished bundle
}

void ClassicImport::OpenLocalStorage(const char* installDirectory) {
  StorageOpenArgs args{};
  args.size = sizeof(StorageOpenArgs);
  args.localeMask = kImportLocaleMask;
  storage_ = ApiStorage(api_.OpenStorage(installDirectory, &args), ApiCloser{&api_});
  if (!storage_) {
    FailImportWithError("Cannot open local CASC storage (finish Lumengate installation first)");
  }
}

void ClassicImport::EnumerateAssets() {
  SearchResult result{};
  search_ = ApiSearch(api_.SearchFirst(storage_.get(), "*", &result, nullptr), ApiCloser{&api_});
  if (!search_) FailImport("Cannot enumerate local CASC files");
  do {
    AddSearchResult(result);
  } while (api_.SearchNext(search_.get(), &result));
  search_.reset();
}

// The first storage name found for an asset name is the one imported; the
// sound table, however, is read from the last one found.
void ClassicImport::AddSearchResult(const SearchResult& result) {
  std::string storageName(result.fileName, strnlen(result.fileName, sizeof(result.fileName)));
  std::string assetName = NormalizeAssetName(storageName);
  if (assetName == kSoundTableAssetName) soundTableStorageName_ = storageName;
  if (IsClassicAsset(assetName) && seenNames_.insert(assetName).second) {
    entries_.push_back({std::move(assetName), std::move(storageName)});
  }
}

void ClassicImport::SelectAndSort() {
  SoundSet wanted = LoadSoundTable(api_, storage_.get(), soundTableStorageName_);
  FilterSounds(entries_, wanted);
  // std::string compares like memcmp, as unsigned bytes; a proper prefix sorts first.
  std::sort(entries_.begin(), entries_.end(),
            [](const AssetEntry& a, const AssetEntry& b) { return a.assetName < b.assetName; });
  if (entries_.empty()) FailImport("No classic StarCraft assets found");
}

void ClassicImport::WriteBundle(const char* outputPath) {
  bundle_ = std::make_unique<BundleWriter>(outputPath);
  bundle_->WriteHeader(static_cast<uint32_t>(entries_.size()));
  for (size_t i = 0; i < entries_.size(); ++i) {
    ImportAsset(entries_[i]);
    if (i % kProgressInterval == 0) PrintProgress(i);
  }
  bundle_->Commit();
  bundle_.reset();
}

void ClassicImport::ImportAsset(const AssetEntry& entry) {
  FileHandle opened = nullptr;
  if (!api_.OpenFileByName(storage_.get(), entry.storageName.c_str(), &opened)) {
    FailImportWithError("Cannot open local asset " + entry.storageName);
  }
  openFile_ = ApiFile(opened, ApiCloser{&api_});
  uint64_t size = 0;
  if (uint32_t error = api_.GetFileContentSize(openFile_.get(), &size)) {
    SetCascError(error);
    FailImport("Invalid classic asset size");
  }
  if (size > kMaxAssetSize || totalBytes_ + size > kMaxTotalSize) {
    FailImport("Invalid classic asset size");
  }

  // A zero-size asset is written as an empty record, without a read (its
  // key is still checked: a size lowered to 0 must not pass).
  uint8_t* data = AssetBuffer(size);
  if (!ReadVerifiedContent(api_, openFile_.get(), data, size)) {
    FailImportWithError("Cannot read local asset " + entry.storageName);
  }
  openFile_.reset();

  bundle_->WriteRecord(entry.assetName, {data, static_cast<size_t>(size)});
  totalBytes_ += size;
}

// Room for `size` bytes. The buffer grows to the largest asset met and is
// reused: a fresh zero-filled block per asset cost a page fault per page and
// a pass of zeros, all of it overwritten, since a read that does not fill the
// whole content fails the import. It is made of whole huge pages where the
// system offers them: faulting in a multi-MiB asset 4 KiB at a time took a
// noticeable share of the import.
uint8_t* ClassicImport::AssetBuffer(size_t size) {
  if (size <= assetCapacity_) return assetBuffer_.get();
  assetBuffer_.reset();
  assetCapacity_ = 0;
  const size_t rounded = (size + kHugePageSize - 1) / kHugePageSize * kHugePageSize;
  assetBuffer_.reset(static_cast<uint8_t*>(std::aligned_alloc(kHugePageSize, rounded)));
  if (!assetBuffer_) throw std::bad_alloc();
  ::madvise(assetBuffer_.get(), rounded, MADV_HUGEPAGE);  // a hint; refused, nothing changes
  assetCapacity_ = rounded;
  return assetBuffer_.get();
}

void ClassicImport::PrintProgress(size_t index) {
  std::fprintf(out_, "Imported %zu/%zu files, %.1f MiB\n", index + 1, entries_.size(),
               static_cast<double>(totalBytes_) / kBytesPerMiB);
  std::fflush(out_);
}

}  // namespace

int ImportClassicAssets(StorageApi& api, const char* installDirectory, const char* outputPath,
                        std::FILE* out, std::FILE* err) {
  ClassicImport import(api, out);
  try {
    import.Run(installDirectory, outputPath);
    return 0;
  } catch (const std::exception& failure) {
    import.ReleaseAfterFailure();
    std::fprintf(err, "Asset import failed: %s\n", failure.what());
    return 1;
  }
}

int ImportClassicAssets(const char* installDirectory, const char* outputPath) {
  return ImportClassicAssets(LibraryStorageApi(), installDirectory, outputPath, stdout, stderr);
}

}  // namespace kestrine

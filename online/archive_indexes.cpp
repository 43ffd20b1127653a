// The indexes of the remote data archives, read during the open of an
// online storage. A storage lists hundreds of archives, and on a fresh cache
// each index is one request: asked one after another, the open would wait
// out every round trip. So the downloads run side by side (a bounded number
// at once, on the calling thread), while the indexes are taken strictly in
// list order as they become ready, so that records, progress and errors are
// exactly those of reading them one by one.
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "common/platform.h"
#include "kestrine.h"
#include "online/cdn_cache.h"
#include "online/cdn_download.h"
#include "online/online_open.h"
#include "online/transfer.h"
#include "storage/remote_index.h"
#include "storage/storage.h"

namespace kestrine {

namespace {

constexpr std::string_view kIndexExtension = ".index";
constexpr uint64_t kMaxArchiveIndexSize = 32 * 1024 * 1024;

std::atomic<size_t> g_fetchesInFlight{16};

uint32_t ReadIndexFile(const std::string& path, std::vector<uint8_t>& bytes) {
  platform::File file;
  uint64_t size = 0;
  if (uint32_t error = file.Open(path, false)) return error;
  if (uint32_t error = file.Size(&size)) return error;
  if (size == 0 || size > kMaxArchiveIndexSize) return kErrorBadFormat;
  bytes.resize(size);
  size_t read = 0;
  return file.ReadAt(0, bytes.data(), bytes.size(), &read);
}

class ArchiveIndexLoader {
 public:
  ArchiveIndexLoader(TCascStorage& storage, size_t maxInFlight)
      : storage_(storage),
        maxInFlight_(std::max<size_t>(maxInFlight, 1)),
        batch_(maxInFlight_),
        items_(storage.archives.size()),
        hosts_(SplitCdnHosts(storage.cdnHosts)) {}

  uint32_t Run() {
    Pump();
    batch_.Run();
    CommitDownloads();
    if (result_) return *result_;
    return processed_ == items_.size() ? map().BuildHashMap() : kErrorFileNotFound;
  }

 private:
  struct Item {
    bool done = false;
    uint32_t error = kErrorSuccess;
    std::string path;
    std::unique_ptr<CdnDownload> download;
  };

  RemoteArchiveMap& map() { return *storage_.remoteArchives; }
  // Downloads go below the data directory, or the root when there is none.
  const std::string& DownloadBase() const {
    return storage_.dataPath.empty() ? storage_.rootPath : storage_.dataPath;
  }
  uint32_t count() const { return static_cast<uint32_t>(items_.size()); }
  bool Stopped() const { return result_.has_value() || cancelledAt_.has_value(); }

  // Starts what the window allows, and takes what is ready, until neither
  // moves on.
  void Pump() {
    do {
      StartNext();
    } while (TakeReady());
  }

  void StartNext() {
    while (!Stopped() && next_ < items_.size() && next_ - processed_ < maxInFlight_) {
      const uint32_t index = static_cast<uint32_t>(next_);
      if (ProgressCancelled(storage_, kStageArchiveIndexes, nullptr, index, count())) {
        cancelledAt_ = next_;
        return;
      }
      ++next_;
      Start(index);
    }
  }

  void Start(uint32_t index) {
    Item& item = items_[index];
    const Key16& key = storage_.archives[index];
    for (const std::string* base : {&storage_.dataPath, &storage_.rootPath}) {
      if (base->empty()) continue;
      if (FindCachedCdnFile(*base, kCdnData, key, kIndexExtension, item.path)) {
        return Complete(item, kErrorSuccess);
      }
    }
    if (!storage_.IsOnline()) return Complete(item, kErrorFileNotFound);
    const std::string& base = DownloadBase();
    std::string remote;
    if (uint32_t error =
            PrepareCdnDownload(storage_, base, kCdnData, key, kIndexExtension, item.path, remote)) {
      return Complete(item, error);
    }
    item.download = std::make_unique<CdnDownload>(hosts_, remote, std::nullopt, item.path, true);
    if (!item.download->HasHost()) return Complete(item, kErrorFileNotFound);
    if (uint32_t error = item.download->Prepare()) return Complete(item, error);
    Request(index);
  }

  void Request(uint32_t index) {
    CdnDownload& download = *items_[index].download;
    batch_.Add(download.Request(), download.sink(), [this, index](uint32_t error) {
      Item& item = items_[index];
      std::optional<uint32_t> result = item.download->Finish(error);
      if (!result) return Request(index);
      Complete(item, *result);
      Pump();
    });
  }

  static void Complete(Item& item, uint32_t error) {
    item.done = true;
    item.error = error;
  }

  // Takes the ready indexes at the front of the list. True when one was.
  bool TakeReady() {
    bool advanced = false;
    while (!result_ && processed_ < items_.size() && items_[processed_].done) {
      Item& item = items_[processed_];
      uint32_t error = item.error;
      if (error == kErrorSuccess) {
        const bool downloaded = item.download && item.download->ready();
        error = ParseIndex(downloaded ? item.download->readyPath() : item.path,
                           static_cast<uint32_t>(processed_));
      }
      if (error != kErrorSuccess) {
        Finish(error);
        return advanced;
      }
      ++processed_;
      advanced = true;
    }
    if (!result_ && cancelledAt_ && processed_ == *cancelledAt_) Finish(kErrorCancelled);
    return advanced;
  }

  uint32_t ParseIndex(const std::string& path, uint32_t archiveNumber) {
    std::vector<uint8_t> bytes;
    if (uint32_t error = ReadIndexFile(path, bytes)) return error;
    return ParseRemoteArchiveIndex(bytes, archiveNumber, map(), &storage_);
  }

  // The downloads wait complete under temporary names: one flush of the
  // file system puts them all on the disk, then each takes its name. Those
  // of a failed open are kept too; the next open need not fetch them again.
  void CommitDownloads() {
    std::vector<CdnDownload*> ready;
    for (Item& item : items_) {
      if (item.download && item.download->ready()) ready.push_back(item.download.get());
    }
    if (ready.empty()) return;
    const std::string& base = DownloadBase();
    if (platform::SyncFileSystem(base) != kErrorSuccess) return;
    for (CdnDownload* download : ready) (void)download->CommitSynced();
  }

  void Finish(uint32_t error) {
    result_ = error;
    batch_.Stop();
  }

  TCascStorage& storage_;
  size_t maxInFlight_;
  TransferBatch batch_;
  std::vector<Item> items_;
  std::vector<std::string> hosts_;
  size_t next_ = 0;       // the next archive to start
  size_t processed_ = 0;  // archives taken into the map
  std::optional<size_t> cancelledAt_;
  std::optional<uint32_t> result_;
};

}  // namespace

void SetArchiveIndexFetchesInFlight(size_t count) {
  g_fetchesInFlight = std::max<size_t>(count, 1);
}

size_t ArchiveIndexFetchesInFlight() {
  return g_fetchesInFlight;
}

uint32_t LoadArchiveIndexes(TCascStorage& storage) {
  storage.remoteArchives = std::make_unique<RemoteArchiveMap>();
  ArchiveIndexLoader loader(storage, ArchiveIndexFetchesInFlight());
  return loader.Run();
}

}  // namespace kestrine

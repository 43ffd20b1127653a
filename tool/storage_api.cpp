#include "tool/storage_api.h"

namespace kestrine {

namespace {

class LibraryApi final : public StorageApi {
 public:
  StorageHandle OpenStorage(const char* parameters, const StorageOpenArgs* args) override {
    return kestrine::OpenStorage(parameters, args);
  }
  SearchHandle SearchFirst(StorageHandle storage, const char* mask, SearchResult* result,
                           const char* listFile) override {
    return kestrine::SearchFirst(storage, mask, result, listFile);
  }
  bool SearchNext(SearchHandle search, SearchResult* result) override {
    return kestrine::SearchNext(search, result);
  }
  bool SearchClose(SearchHandle search) override { return kestrine::SearchClose(search); }
  bool OpenFileByName(StorageHandle storage, const char* name, FileHandle* file) override {
    return kestrine::OpenFileByName(storage, name, file);
  }
  uint32_t GetFileContentSize(FileHandle file, uint64_t* contentSize) override {
    return kestrine::GetFileContentSize(file, contentSize);
  }
  bool ReadOpenFile(FileHandle file, void* buffer, uint32_t bytesToRead,
                    uint32_t* bytesRead) override {
    return kestrine::ReadOpenFile(file, buffer, bytesToRead, bytesRead);
  }
  bool GetFileContentKey(FileHandle file, uint8_t ckey[16]) override {
    return kestrine::GetFileContentKey(file, ckey);
  }
  bool CloseFile(FileHandle file) override { return kestrine::CloseFile(file); }
  bool CloseStorage(StorageHandle storage) override { return kestrine::CloseStorage(storage); }
};

}  // namespace

StorageApi& LibraryStorageApi() {
  static LibraryApi api;
  return api;
}

}  // namespace kestrine

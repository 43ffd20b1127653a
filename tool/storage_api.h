// The storage operations the import calls, behind one interface so that the
// import can also run over an in-memory storage in tests.
#pragma once

#include <cstdint>

#include "kestrine.hpp"

namespace kestrine {

class StorageApi {
 public:
  virtual ~StorageApi() = default;
  virtual StorageHandle OpenStorage(const char* parameters, const StorageOpenArgs* args) = 0;
  virtual SearchHandle SearchFirst(StorageHandle storage, const char* mask, SearchResult* result,
                                   const char* listFile) = 0;
  virtual bool SearchNext(SearchHandle search, SearchResult* result) = 0;
  virtual bool SearchClose(SearchHandle search) = 0;
  virtual bool OpenFileByName(StorageHandle storage, const char* name, FileHandle* file) = 0;
  virtual uint32_t GetFileContentSize(FileHandle file, uint64_t* contentSize) = 0;
  virtual bool ReadOpenFile(FileHandle file, void* buffer, uint32_t bytesToRead,
                            uint32_t* bytesRead) = 0;
  virtual bool GetFileContentKey(FileHandle file, uint8_t ckey[16]) = 0;
  virtual bool CloseFile(FileHandle file) = 0;
  virtual bool CloseStorage(StorageHandle storage) = 0;
};

// The storage reader of this library.
StorageApi& LibraryStorageApi();

// Releases a handle through the api that gave it.
struct ApiCloser {
  StorageApi* api = nullptr;
  void operator()(KestrineStorage* storage) const { api->CloseStorage(storage); }
  void operator()(KestrineSearch* search) const { api->SearchClose(search); }
  void operator()(KestrineFile* file) const { api->CloseFile(file); }
};
// Owners of the api's handles: each goes back to the api when its owner goes.
using ApiStorage = HandleOwner<KestrineStorage, ApiCloser>;
using ApiSearch = HandleOwner<KestrineSearch, ApiCloser>;
using ApiFile = HandleOwner<KestrineFile, ApiCloser>;

}  // namespace kestrine

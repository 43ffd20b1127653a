// An in-memory storage behind the import's StorageApi, for driving the import
// without storage files. Files are listed in the order they were added. Large
// files can be generated: their content is a function of the offset and never
// held in memory. Every failure the import must handle can be injected.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tool/storage_api.h"

namespace kestrine::testkit {

// Byte at `offset` of a generated file with `seed`.
uint8_t GeneratedByte(uint32_t seed, uint64_t offset);

class MemoryStorage final : public StorageApi {
 public:
  struct FileFaults {
    std::optional<uint32_t> openError;  // OpenFileByName fails with it
    std::optional<uint32_t> sizeError;  // GetFileContentSize returns it
    std::optional<uint32_t> readError;  // ReadOpenFile fails with it
    std::optional<uint32_t> shortBy;    // ReadOpenFile succeeds, this many bytes short
    bool wrongContentKey = false;       // the content key names other content
  };

  MemoryStorage();
  ~MemoryStorage() override;

  // A file with explicit content has a content key (its MD5); generated and
  // listed-only files have none.
  MemoryStorage& AddFile(const std::string& name, std::string content);
  MemoryStorage& AddGeneratedFile(const std::string& name, uint64_t size, uint32_t seed = 0);
  // Lists the name without a file behind it (opening it fails with 2).
  MemoryStorage& AddListedName(const std::string& name);
  FileFaults& Faults(const std::string& name) { return faults_[name]; }
  void FailOpen(uint32_t error) { openError_ = error; }
  void FailSearch() { searchFails_ = true; }

  // What the import asked for, and what it left open.
  const std::vector<std::string>& openedNames() const { return openedNames_; }
  const std::vector<std::string>& readNames() const { return readNames_; }
  std::string openParameters() const { return openParameters_; }
  StorageOpenArgs openArgs() const { return openArgs_; }
  int openStorages() const { return openStorages_; }
  int openSearches() const { return openSearches_; }
  int openFiles() const { return openFiles_; }

  StorageHandle OpenStorage(const char* parameters, const StorageOpenArgs* args) override;
  SearchHandle SearchFirst(StorageHandle storage, const char* mask, SearchResult* result,
                           const char* listFile) override;
  bool SearchNext(SearchHandle search, SearchResult* result) override;
  bool SearchClose(SearchHandle search) override;
  bool OpenFileByName(StorageHandle storage, const char* name, FileHandle* file) override;
  uint32_t GetFileContentSize(FileHandle file, uint64_t* contentSize) override;
  bool ReadOpenFile(FileHandle file, void* buffer, uint32_t bytesToRead,
                    uint32_t* bytesRead) override;
  bool GetFileContentKey(FileHandle file, uint8_t ckey[16]) override;
  bool CloseFile(FileHandle file) override;
  bool CloseStorage(StorageHandle storage) override;

 private:
  struct File {
    std::optional<std::string> content;  // explicit content, else generated
    uint64_t size = 0;
    uint32_t seed = 0;
    bool listedOnly = false;
  };
  struct StorageRecord;
  struct SearchRecord;
  struct FileRecord;

  const File* FindFile(const std::string& name) const;
  void FillResult(size_t index, SearchResult* result) const;

  std::vector<std::pair<std::string, File>> files_;
  std::map<std::string, FileFaults> faults_;
  std::optional<uint32_t> openError_;
  bool searchFails_ = false;
  std::vector<std::string> openedNames_;
  std::vector<std::string> readNames_;
  std::string openParameters_;
  StorageOpenArgs openArgs_{};
  int openStorages_ = 0;
  int openSearches_ = 0;
  int openFiles_ = 0;
};

}  // namespace kestrine::testkit

#include "testkit/memory_storage.h"

#include <algorithm>
#include <cstring>

#include "common/errors.h"
#include "common/handle.h"
#include "common/md5.h"

namespace kestrine::testkit {

// Handle records start with the same signatures as the library's, so that a
// handle of the wrong kind is refused the same way.
struct MemoryStorage::StorageRecord {
  char signature[8] = {'C', 'A', 'S', 'C', 'S', 'T', 'O', 'R'};
};
struct MemoryStorage::SearchRecord {
  char signature[8] = {'C', 'A', 'S', 'C', 'F', 'I', 'N', 'D'};
  size_t next = 0;
};
struct MemoryStorage::FileRecord {
  char signature[8] = {'C', 'A', 'S', 'C', 'F', 'I', 'L', 'E'};
  std::string name;
  const File* file = nullptr;
  uint64_t position = 0;
};

uint8_t GeneratedByte(uint32_t seed, uint64_t offset) {
  uint64_t x = (offset + 1) * 0x9E3779B97F4A7C15ull ^ seed;
  return static_cast<uint8_t>(x >> 56);
}

MemoryStorage::MemoryStorage() = default;
MemoryStorage::~MemoryStorage() = default;

MemoryStorage& MemoryStorage::AddFile(const std::string& name, std::string content) {
  File file;
  file.size = content.size();
  file.content = std::move(content);
  files_.emplace_back(name, std::move(file));
  return *this;
}

MemoryStorage& MemoryStorage::AddGeneratedFile(const std::string& name, uint64_t size,
                                               uint32_t seed) {
  files_.emplace_back(name, File{std::nullopt, size, seed, false});
  return *this;
}

MemoryStorage& MemoryStorage::AddListedName(const std::string& name) {
  files_.emplace_back(name, File{std::nullopt, 0, 0, true});
  return *this;
}

const MemoryStorage::File* MemoryStorage::FindFile(const std::string& name) const {
  auto it = std::find_if(files_.begin(), files_.end(),
                         [&](const auto& named) { return named.first == name; });
  if (it == files_.end() || it->second.listedOnly) return nullptr;
  return &it->second;
}

StorageHandle MemoryStorage::OpenStorage(const char* parameters, const StorageOpenArgs* args) {
  openParameters_ = parameters ? parameters : "";
  openArgs_ = *args;
  if (openError_) {
    SetCascError(*openError_);
    return nullptr;
  }
  ++openStorages_;
  return reinterpret_cast<StorageHandle>(new StorageRecord);
}

void MemoryStorage::FillResult(size_t index, SearchResult* result) const {
  *result = SearchResult{};
  const std::string& name = files_[index].first;
  std::memcpy(result->fileName, name.c_str(), std::min(name.size() + 1, sizeof(result->fileName)));
  result->fileName[sizeof(result->fileName) - 1] = '\0';
  result->fileSize = files_[index].second.size;
}

SearchHandle MemoryStorage::SearchFirst(StorageHandle storage, const char*, SearchResult* result,
                                        const char*) {
  if (!HasSignature(storage, "CASCSTOR") || searchFails_ || files_.empty()) return nullptr;
  auto* search = new SearchRecord;
  FillResult(0, result);
  search->next = 1;
  ++openSearches_;
  return reinterpret_cast<SearchHandle>(search);
}

bool MemoryStorage::SearchNext(SearchHandle handle, SearchResult* result) {
  if (!HasSignature(handle, "CASCFIND")) return FailWith(kErrorInvalidParameter);
  auto* search = reinterpret_cast<SearchRecord*>(handle);
  if (search->next >= files_.size()) return false;
  FillResult(search->next++, result);
  return true;
}

bool MemoryStorage::SearchClose(SearchHandle handle) {
  if (!HasSignature(handle, "CASCFIND")) return FailWith(kErrorInvalidParameter);
  delete reinterpret_cast<SearchRecord*>(handle);
  --openSearches_;
  return true;
}

bool MemoryStorage::OpenFileByName(StorageHandle storage, const char* name, FileHandle* out) {
  if (!HasSignature(storage, "CASCSTOR")) return FailWith(kErrorInvalidHandle);
  openedNames_.push_back(name);
  if (auto fault = faults_.find(name); fault != faults_.end() && fault->second.openError) {
    return FailWith(*fault->second.openError);
  }
  const File* file = FindFile(name);
  if (file == nullptr) return FailWith(kErrorFileNotFound);
  auto* record = new FileRecord;
  record->name = name;
  record->file = file;
  *out = reinterpret_cast<FileHandle>(record);
  ++openFiles_;
  return true;
}

uint32_t MemoryStorage::GetFileContentSize(FileHandle handle, uint64_t* contentSize) {
  if (!HasSignature(handle, "CASCFILE")) return kErrorInvalidHandle;
  auto* record = reinterpret_cast<FileRecord*>(handle);
  if (auto fault = faults_.find(record->name); fault != faults_.end() && fault->second.sizeError) {
    return *fault->second.sizeError;
  }
  *contentSize = record->file->size;
  return kErrorSuccess;
}

bool MemoryStorage::ReadOpenFile(FileHandle handle, void* buffer, uint32_t bytesToRead,
                                 uint32_t* bytesRead) {
  if (!HasSignature(handle, "CASCFILE")) return FailWith(kErrorInvalidHandle);
  if (buffer == nullptr) return FailWith(kErrorInvalidParameter);
  auto* record = reinterpret_cast<FileRecord*>(handle);
  readNames_.push_back(record->name);
  FileFaults faults = faults_[record->name];
  if (faults.readError) return FailWith(*faults.readError);

  const File& file = *record->file;
  uint64_t count =
      std::min<uint64_t>(bytesToRead, file.size - std::min(file.size, record->position));
  if (faults.shortBy) count -= std::min<uint64_t>(count, *faults.shortBy);
  auto* out = static_cast<uint8_t*>(buffer);
  if (file.content) {
    std::memcpy(out, file.content->data() + record->position, count);
  } else {
    for (uint64_t i = 0; i < count; ++i) out[i] = GeneratedByte(file.seed, record->position + i);
  }
  record->position += count;
  if (bytesRead) *bytesRead = static_cast<uint32_t>(count);
  SetCascError(kErrorSuccess);
  return true;
}

bool MemoryStorage::GetFileContentKey(FileHandle handle, uint8_t ckey[16]) {
  if (!HasSignature(handle, "CASCFILE")) return FailWith(kErrorInvalidHandle);
  auto* record = reinterpret_cast<FileRecord*>(handle);
  const File& file = *record->file;
  if (!file.content) return FailWith(kErrorFileNotFound);
  Md5Digest key =
      ComputeMd5({reinterpret_cast<const uint8_t*>(file.content->data()), file.content->size()});
  if (faults_[record->name].wrongContentKey) key[0] ^= 0x80;
  std::memcpy(ckey, key.data(), key.size());
  SetCascError(kErrorSuccess);
  return true;
}

bool MemoryStorage::CloseFile(FileHandle handle) {
  if (!HasSignature(handle, "CASCFILE")) return FailWith(kErrorInvalidHandle);
  delete reinterpret_cast<FileRecord*>(handle);
  --openFiles_;
  return true;
}

bool MemoryStorage::CloseStorage(StorageHandle storage) {
  if (!HasSignature(storage, "CASCSTOR")) return FailWith(kErrorInvalidParameter);
  delete reinterpret_cast<StorageRecord*>(storage);
  --openStorages_;
  return true;
}

}  // namespace kestrine::testkit

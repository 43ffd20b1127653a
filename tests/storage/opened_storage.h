// An installation opened through the public interface for the length of a
// test, with the few reads the tests make of it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kestrine.h"
#include "storage/storage.h"
#include "testkit/installation.h"

namespace kestrine::test {

class OpenedStorage {
 public:
  explicit OpenedStorage(const std::filesystem::path& root, uint32_t flags = 0,
                         uint32_t localeMask = 0) {
    StorageOpenArgs args{};
    args.size = sizeof args;
    args.flags = flags;
    args.localeMask = localeMask;
    handle_ = OpenStorage(root.string().c_str(), &args);
    error_ = GetCascError();
  }
  explicit OpenedStorage(const testkit::Installation& installation, uint32_t flags = 0)
      : OpenedStorage(installation.root, flags) {}
  ~OpenedStorage() {
    if (handle_ != nullptr) CloseStorage(handle_);
  }
  OpenedStorage(const OpenedStorage&) = delete;
  OpenedStorage& operator=(const OpenedStorage&) = delete;

  StorageHandle handle() const { return handle_; }
  uint32_t error() const { return error_; }  // the open's
  TCascStorage* get() const { return StorageFromHandle(handle_); }
  TCascStorage* operator->() const { return get(); }

  // The whole content of `name`: empty when it does not open, the bytes
  // BA D0 when its read fails or comes up short.
  std::vector<uint8_t> Read(const std::string& name) const {
    FileHandle file = nullptr;
    if (!OpenFileByName(handle_, name.c_str(), &file)) return {};
    uint64_t size = 0;
    std::vector<uint8_t> content;
    if (GetFileContentSize(file, &size) == 0) {
      content.resize(size);
      uint32_t read = 0;
      if (!ReadOpenFile(file, content.data(), static_cast<uint32_t>(size), &read) || read != size) {
        content = {0xBA, 0xD0};
      }
    }
    CloseFile(file);
    return content;
  }

  // True when `name` opens.
  bool Names(const std::string& name) const {
    FileHandle file = nullptr;
    if (!OpenFileByName(handle_, name.c_str(), &file)) return false;
    CloseFile(file);
    return true;
  }

  // Every name a search over "*" reports, in its order (at most 1000).
  std::vector<std::string> SearchNames() const {
    std::vector<std::string> names;
    SearchResult result{};
    SearchHandle search = SearchFirst(handle_, "*", &result, nullptr);
    for (bool found = search != nullptr; found && names.size() < 1000;
         found = SearchNext(search, &result)) {
      names.push_back(result.fileName);
    }
    if (search != nullptr) SearchClose(search);
    return names;
  }

 private:
  StorageHandle handle_ = nullptr;
  uint32_t error_ = 0;
};

}  // namespace kestrine::test

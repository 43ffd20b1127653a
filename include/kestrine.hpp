// kestrine for C++ (C++17 and later): owners of the three handles, a search
// as a range, whole-file reads, and failures as exceptions.
//
//   kestrine::Storage storage = kestrine::Storage::open("/games/Starcraft");
//   for (const kestrine::SearchResult& result : storage.search("*.grp")) {
//     std::vector<uint8_t> bytes = storage.open_file(result.fileName).read_all();
//   }
//
// Every failure throws kestrine::Error, which carries the library's error
// number and its words. Exceptions rather than error codes because the calls
// that fail most (opening a storage, stepping a search) sit in constructors
// and iterator increments, which have no result to report through; the
// number is still there (Error::code) for callers that tell failures apart.
// The owners are move-only and release their handle when they go.
#ifndef KESTRINE_HPP
#define KESTRINE_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "kestrine.h"

namespace kestrine {

// A failed call: the library's error number, and "error N (words)" as what().
class Error : public std::runtime_error {
 public:
  explicit Error(uint32_t code)
      : std::runtime_error("error " + std::to_string(code) + " (" + kestrine_error_text(code) +
                           ")"),
        code_(code) {}
  uint32_t code() const noexcept { return code_; }

 private:
  uint32_t code_;
};

namespace detail {

// Throws the calling thread's last error, or `fallback` when the failed call
// left none.
[[noreturn]] inline void ThrowLastError(uint32_t fallback) {
  const uint32_t error = kestrine_get_last_error();
  throw Error(error != KESTRINE_ERROR_SUCCESS ? error : fallback);
}

struct CloseStorage {
  void operator()(KestrineStorage* storage) const noexcept { kestrine_close_storage(storage); }
};
struct CloseSearch {
  void operator()(KestrineSearch* search) const noexcept { kestrine_search_close(search); }
};
struct CloseFile {
  void operator()(KestrineFile* file) const noexcept { kestrine_close_file(file); }
};

}  // namespace detail

// One handle, and the closer that releases it when the owner goes: the
// library's own for Storage, Search and File, or the caller's for handles
// that come through an indirection of its own.
template <typename Handle, typename Closer>
class HandleOwner {
 public:
  HandleOwner() noexcept = default;
  explicit HandleOwner(Handle* handle, Closer closer = Closer()) noexcept
      : handle_(handle), closer_(closer) {}
  HandleOwner(HandleOwner&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)), closer_(other.closer_) {}
  HandleOwner& operator=(HandleOwner&& other) noexcept {
    if (this != &other) {
      reset(std::exchange(other.handle_, nullptr));
      closer_ = other.closer_;
    }
    return *this;
  }
  HandleOwner(const HandleOwner&) = delete;
  HandleOwner& operator=(const HandleOwner&) = delete;
  ~HandleOwner() { reset(); }

  Handle* get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  // Gives up the handle without releasing it.
  Handle* release() noexcept { return std::exchange(handle_, nullptr); }
  // Releases the handle held, if any, and holds `handle`.
  void reset(Handle* handle = nullptr) noexcept {
    if (handle_ != nullptr) closer_(handle_);
    handle_ = handle;
  }

 private:
  Handle* handle_ = nullptr;
  Closer closer_{};
};

// An open file of a storage; reads advance its file pointer.
class File : public HandleOwner<KestrineFile, detail::CloseFile> {
 public:
  using HandleOwner::HandleOwner;

  // The decoded size.
  uint64_t size() const {
    uint64_t contentSize = 0;
    if (uint32_t error = kestrine_get_file_size(get(), &contentSize)) throw Error(error);
    return contentSize;
  }

  // Reads up to `count` bytes; returns how many came (fewer at the end).
  uint32_t read(void* buffer, uint32_t count) {
    uint32_t bytesRead = 0;
    kestrine_set_last_error(KESTRINE_ERROR_SUCCESS);
    if (!kestrine_read_file(get(), buffer, count, &bytesRead)) {
      detail::ThrowLastError(KESTRINE_ERROR_FILE_CORRUPT);
    }
    return bytesRead;
  }

  // The content key (MD5 of the decoded content), when the storage knows one
  // for the whole file.
  std::optional<std::array<uint8_t, 16>> content_key() const {
    std::array<uint8_t, 16> key{};
    if (!kestrine_get_file_content_key(get(), key.data())) return std::nullopt;
    return key;
  }

  // The whole content from the file pointer on, checked against the content
  // key when the file has one. A short read, or bytes that are not the
  // content the key names, throw error 1392 (file corrupt).
  std::vector<uint8_t> read_all() {
    const uint64_t total = size();
    if (total > UINT32_MAX) throw Error(KESTRINE_ERROR_NOT_SUPPORTED);
    std::vector<uint8_t> bytes(static_cast<size_t>(total));
    const auto count = static_cast<uint32_t>(total);
    if (count != 0 && read(bytes.data(), count) != count) throw Error(KESTRINE_ERROR_FILE_CORRUPT);
    if (const auto expected = content_key()) {
      KestrineContentKeyHash hash;
      std::array<uint8_t, 16> actual{};
      kestrine_content_key_hash_start(&hash);
      kestrine_content_key_hash_update(&hash, bytes.data(), bytes.size());
      kestrine_content_key_hash_finish(&hash, actual.data());
      if (actual != *expected) throw Error(KESTRINE_ERROR_FILE_CORRUPT);
    }
    return bytes;
  }
};

// A search of a storage, read as a single-pass range of results:
//   for (const SearchResult& result : storage.search("*")) ...
// A search that matches nothing is an empty range. The reference a result
// gives is valid until the next step.
class Search : public HandleOwner<KestrineSearch, detail::CloseSearch> {
 public:
  Search() noexcept = default;
  Search(KestrineSearch* handle, const KestrineSearchResult& first) noexcept
      : HandleOwner(handle), result_(first) {}

  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = KestrineSearchResult;
    using difference_type = std::ptrdiff_t;
    using pointer = const KestrineSearchResult*;
    using reference = const KestrineSearchResult&;

    iterator() noexcept = default;
    explicit iterator(Search* search) noexcept : search_(search) {}
    reference operator*() const noexcept { return search_->result_; }
    pointer operator->() const noexcept { return &search_->result_; }
    iterator& operator++() {
      if (!kestrine_search_next(search_->get(), &search_->result_)) search_ = nullptr;
      return *this;
    }
    void operator++(int) { ++*this; }
    bool operator==(const iterator& other) const noexcept { return search_ == other.search_; }
    bool operator!=(const iterator& other) const noexcept { return search_ != other.search_; }

   private:
    Search* search_ = nullptr;
  };

  // Where the search stands: begin() gives the current result, not a new
  // search from the start.
  iterator begin() noexcept { return iterator(get() != nullptr ? this : nullptr); }
  iterator end() noexcept { return iterator(); }

 private:
  KestrineSearchResult result_{};
};

// An open storage. The library counts references: searches and files keep
// their storage alive after the owner goes.
class Storage : public HandleOwner<KestrineStorage, detail::CloseStorage> {
 public:
  using HandleOwner::HandleOwner;

  // Opens with default arguments, or with the caller's (`size` set).
  static Storage open(const char* parameters, const KestrineOpenArgs* args = nullptr) {
    KestrineOpenArgs defaults{};
    defaults.size = sizeof defaults;
    kestrine_set_last_error(KESTRINE_ERROR_SUCCESS);
    KestrineStorage* handle = kestrine_open_storage(parameters, args != nullptr ? args : &defaults);
    if (handle == nullptr) detail::ThrowLastError(KESTRINE_ERROR_CAN_NOT_COMPLETE);
    return Storage(handle);
  }
  static Storage open(const std::string& parameters, const KestrineOpenArgs* args = nullptr) {
    return open(parameters.c_str(), args);
  }

  // Searches `mask` ("*" and "?" wildcards); nothing matching is an empty
  // search, any other failure throws.
  Search search(const char* mask = "*", const char* listFile = nullptr) const {
    KestrineSearchResult first{};
    kestrine_set_last_error(KESTRINE_ERROR_SUCCESS);
    KestrineSearch* handle = kestrine_search_first(get(), mask, &first, listFile);
    if (handle == nullptr) {
      const uint32_t error = kestrine_get_last_error();
      if (error == KESTRINE_ERROR_FILE_NOT_FOUND) return Search();
      throw Error(error != KESTRINE_ERROR_SUCCESS ? error : KESTRINE_ERROR_CAN_NOT_COMPLETE);
    }
    return Search(handle, first);
  }
  Search search(const std::string& mask, const char* listFile = nullptr) const {
    return search(mask.c_str(), listFile);
  }

  // Opens a file by name, file-data-id name or key (see kestrine_open_file).
  File open_file(const char* name) const {
    KestrineFile* handle = nullptr;
    kestrine_set_last_error(KESTRINE_ERROR_SUCCESS);
    if (!kestrine_open_file(get(), name, &handle)) {
      detail::ThrowLastError(KESTRINE_ERROR_FILE_NOT_FOUND);
    }
    return File(handle);
  }
  File open_file(const std::string& name) const { return open_file(name.c_str()); }

  void add_decryption_key(uint64_t keyName, const uint8_t key[16]) {
    kestrine_set_last_error(KESTRINE_ERROR_SUCCESS);
    if (!kestrine_add_decryption_key(get(), keyName, key)) {
      detail::ThrowLastError(KESTRINE_ERROR_CAN_NOT_COMPLETE);
    }
  }

  KestrineStorageInfo info() const {
    KestrineStorageInfo info{};
    info.size = sizeof info;
    kestrine_set_last_error(KESTRINE_ERROR_SUCCESS);
    if (!kestrine_get_storage_info(get(), &info)) {
      detail::ThrowLastError(KESTRINE_ERROR_CAN_NOT_COMPLETE);
    }
    return info;
  }
};

}  // namespace kestrine

#endif  // KESTRINE_HPP

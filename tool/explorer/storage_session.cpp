#include "storage_session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kestrine::explorer {

uint32_t LastErrorOr(uint32_t fallback) {
  const uint32_t error = GetCascError();
  return error != kErrorSuccess ? error : fallback;
}

namespace {

// An online storage is found through an empty "versions" file in its cache
// folder; both are made on first use.
bool PrepareCacheFolder(const std::string& parameters) {
  const std::filesystem::path folder = parameters.substr(0, parameters.find('*'));
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error && !std::filesystem::exists(folder / "versions", error) && !error) {
    std::ofstream marker(folder / "versions", std::ios::app);
    if (!marker) error = std::error_code(errno, std::generic_category());
  }
  if (error) {
    std::fprintf(stderr, "kestrine-casc: cannot prepare the cache folder %s: %s\n",
                 folder.c_str(), error.message().c_str());
    return false;
  }
  return true;
}

}  // namespace

StorageOwner OpenStorageWith(const std::string& parameters, const StorageOptions& options,
                             uint32_t& error) {
  StorageOpenArgs args{};
  args.size = sizeof args;
  args.productCode = options.productCode ? options.productCode->c_str() : nullptr;
  args.localeMask = options.localeMask;
  args.flags = options.onlineFallback ? STF_ONLINE_FALLBACK : 0;
  SetCascError(kErrorSuccess);
  StorageOwner storage(OpenStorage(parameters.c_str(), &args));
  if (!storage) {
    error = LastErrorOr(kErrorCanNotComplete);
    return nullptr;
  }
  for (const DecryptionKey& key : options.keys) {
    if (!AddDecryptionKey(storage.get(), key.name, key.key.data())) {
      error = LastErrorOr(kErrorCanNotComplete);
      return nullptr;
    }
  }
  error = kErrorSuccess;
  return storage;
}

StorageOwner OpenCommandStorage(const CommandLine& line) {
  if (line.options.online && !PrepareCacheFolder(line.storage)) return nullptr;
  uint32_t error = kErrorSuccess;
  StorageOwner storage = OpenStorageWith(line.storage, line.options, error);
  if (!storage) {
    std::fprintf(stderr, "kestrine-casc: cannot open %s, error %u\n", line.storage.c_str(), error);
  }
  return storage;
}

}  // namespace kestrine::explorer

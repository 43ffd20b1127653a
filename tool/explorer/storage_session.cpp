#include "storage_session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kestrine::explorer {

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
    std::fprintf(stderr, "kestrine-casc: cannot prepare the cache folder %s: %s\n", folder.c_str(),
                 error.message().c_str());
    return false;
  }
  return true;
}

}  // namespace

Storage OpenStorageWith(const std::string& parameters, const StorageOptions& options,
                        uint32_t& error) {
  StorageOpenArgs args{};
  args.size = sizeof args;
  args.productCode = options.productCode ? options.productCode->c_str() : nullptr;
  args.localeMask = options.localeMask;
  args.flags = options.onlineFallback ? STF_ONLINE_FALLBACK : 0;
  try {
    Storage storage = Storage::open(parameters, &args);
    for (const DecryptionKey& key : options.keys) {
      storage.add_decryption_key(key.name, key.key.data());
    }
    error = kErrorSuccess;
    return storage;
  } catch (const Error& failure) {
    error = failure.code();
    return Storage();
  }
}

Storage OpenCommandStorage(const CommandLine& line) {
  if (line.options.online && !PrepareCacheFolder(line.storage)) return Storage();
  uint32_t error = kErrorSuccess;
  Storage storage = OpenStorageWith(line.storage, line.options, error);
  if (!storage) {
    std::fprintf(stderr, "kestrine-casc: cannot open %s, error %u\n", line.storage.c_str(), error);
  }
  return storage;
}

}  // namespace kestrine::explorer

#include "storage_session.h"

#include <cstdio>

namespace kestrine::explorer {

uint32_t LastErrorOr(uint32_t fallback) {
  const uint32_t error = GetCascError();
  return error != kErrorSuccess ? error : fallback;
}

StorageOwner OpenStorageWith(const std::string& parameters, const StorageOptions& options,
                             uint32_t& error) {
  StorageOpenArgs args{};
  args.size = sizeof args;
  args.productCode = options.productCode ? options.productCode->c_str() : nullptr;
  args.localeMask = options.localeMask;
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
  uint32_t error = kErrorSuccess;
  StorageOwner storage = OpenStorageWith(line.storage, line.options, error);
  if (!storage) {
    std::fprintf(stderr, "kestrine-casc: cannot open %s, error %u\n", line.storage.c_str(), error);
  }
  return storage;
}

}  // namespace kestrine::explorer

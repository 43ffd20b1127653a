#include "storage/open_storage.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/api_boundary.h"
#include "common/errors.h"
#include "common/handle.h"
#include "common/platform.h"
#include "storage/build_file.h"
#include "storage/load_storage.h"
#include "storage/storage.h"

namespace kestrine {

namespace {

// Where each optional string field of StorageOpenArgs ends; a record whose
// size does not reach that far has no such field.
constexpr size_t kLocalPathEnd = offsetof(StorageOpenArgs, localPath) + 8;
constexpr size_t kProductCodeEnd = offsetof(StorageOpenArgs, productCode) + 8;
constexpr size_t kRegionEnd = offsetof(StorageOpenArgs, region) + 8;
constexpr size_t kBuildKeyEnd = offsetof(StorageOpenArgs, buildKey) + 8;
constexpr size_t kCdnHostEnd = offsetof(StorageOpenArgs, cdnHost) + 8;

bool IsSet(const char* text) {
  return text != nullptr && text[0] != '\0';
}

// The field value that the caller's record carries, when its size covers it.
const char* CarriedField(const StorageOpenArgs& args, const char* StorageOpenArgs::*field,
                         size_t fieldEnd) {
  return ArgsCover(args, fieldEnd) ? args.*field : nullptr;
}

std::vector<std::string_view> SplitAtStars(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t star; (star = text.find('*', start)) != std::string_view::npos; start = star + 1) {
    parts.push_back(text.substr(start, star - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool LooksLikeCdnHost(std::string_view segment) {
  return segment.find_first_of("./") != std::string_view::npos;
}

}  // namespace

uint32_t SplitParameterString(const char* parameters, const StorageOpenArgs& args,
                              ParameterSegments& segments) {
  if (parameters == nullptr) return kErrorInvalidParameter;
  segments = ParameterSegments{};
  // '*' is legal in a folder name: a path that exists as written is a path.
  if (std::strchr(parameters, '*') != nullptr && platform::Exists(parameters)) {
    segments.localPath = parameters;
    return kErrorSuccess;
  }
  std::vector<std::string_view> parts = SplitAtStars(parameters);

  segments.localPath = std::string(parts[0]);
  size_t next = 1;
  if (parts.size() > 1 && LooksLikeCdnHost(parts[1])) {
    if (IsSet(CarriedField(args, &StorageOpenArgs::cdnHost, kCdnHostEnd))) {
      return kErrorInvalidParameter;
    }
    segments.cdnHost = std::string(parts[1]);
    next = 2;
  }

  struct Slot {
    std::optional<std::string>& value;
    const char* StorageOpenArgs::*field;
    size_t fieldEnd;
  };
  Slot slots[] = {
      {segments.productCode, &StorageOpenArgs::productCode, kProductCodeEnd},
      {segments.region, &StorageOpenArgs::region, kRegionEnd},
      {segments.buildKey, &StorageOpenArgs::buildKey, kBuildKeyEnd},
  };
  if (parts.size() - next > std::size(slots)) return kErrorInvalidParameter;
  for (size_t i = 0; next + i < parts.size(); ++i) {
    if (IsSet(CarriedField(args, slots[i].field, slots[i].fieldEnd))) {
      return kErrorInvalidParameter;
    }
    slots[i].value = std::string(parts[next + i]);
  }

  if (segments.localPath.empty()) return kErrorInvalidParameter;
  return kErrorSuccess;
}

namespace {

// Copies one field when the caller's record reaches to its end.
template <typename T>
void CopyIfCovered(const StorageOpenArgs& from, StorageOpenArgs& to, T StorageOpenArgs::*field) {
  static const StorageOpenArgs probe{};
  size_t fieldEnd = static_cast<size_t>(reinterpret_cast<const char*>(&(probe.*field)) -
                                        reinterpret_cast<const char*>(&probe)) +
                    sizeof(T);
  if (ArgsCover(from, fieldEnd)) to.*field = from.*field;
}

// The record the open works with: every field of the caller's record that its
// size covers, with the segments of the parameter string filled in.
StorageOpenArgs EffectiveArgs(const StorageOpenArgs& caller, const ParameterSegments& segments) {
  StorageOpenArgs args{};
  args.size = sizeof(args);
  CopyIfCovered(caller, args, &StorageOpenArgs::productCode);
  CopyIfCovered(caller, args, &StorageOpenArgs::region);
  CopyIfCovered(caller, args, &StorageOpenArgs::progressCallback);
  CopyIfCovered(caller, args, &StorageOpenArgs::progressContext);
  CopyIfCovered(caller, args, &StorageOpenArgs::productCallback);
  CopyIfCovered(caller, args, &StorageOpenArgs::productContext);
  CopyIfCovered(caller, args, &StorageOpenArgs::localeMask);
  CopyIfCovered(caller, args, &StorageOpenArgs::flags);
  CopyIfCovered(caller, args, &StorageOpenArgs::buildKey);
  CopyIfCovered(caller, args, &StorageOpenArgs::cdnHost);
  args.localPath = segments.localPath.c_str();
  for (auto [segment, field] : {std::pair{&segments.productCode, &StorageOpenArgs::productCode},
                                {&segments.region, &StorageOpenArgs::region},
                                {&segments.buildKey, &StorageOpenArgs::buildKey},
                                {&segments.cdnHost, &StorageOpenArgs::cdnHost}}) {
    if (*segment) args.*field = (*segment)->c_str();
  }
  return args;
}

}  // namespace

extern "C" KESTRINE_API KestrineStorage* kestrine_open_storage(const char* parameters,
                                                               const KestrineOpenArgs* args) try {
  if (args == nullptr || !ArgsCover(*args, kLocalPathEnd)) {
    SetCascError(kErrorInvalidParameter);
    return nullptr;
  }
  ParameterSegments segments;
  if (uint32_t error = SplitParameterString(parameters, *args, segments)) {
    SetCascError(error);
    return nullptr;
  }
  segments.localPath = AbsoluteInternalPath(segments.localPath);
  StorageOpenArgs effective = EffectiveArgs(*args, segments);

  BuildFileInfo buildFile;
  if (uint32_t error = FindBuildFileAbove(segments.localPath, buildFile)) {
    SetCascError(error);
    return nullptr;
  }
  StorageReference storage(new TCascStorage);
  uint32_t flags = STF_DATA_DIRS | STF_HEX_DATA_DIR | (effective.flags & STF_ONLINE_FALLBACK);
  if (uint32_t error = LoadStorage(*storage, effective, buildFile, flags)) {
    SetCascError(error);
    return nullptr;
  }
  SetCascError(kErrorSuccess);
  return reinterpret_cast<KestrineStorage*>(storage.release());
} catch (...) {
  return FailFromException<KestrineStorage*>(nullptr);
}

extern "C" KESTRINE_API bool kestrine_close_storage(KestrineStorage* handle) try {
  TCascStorage* storage = StorageFromHandle(handle);
  if (storage == nullptr) return FailWith(kErrorInvalidParameter);
  ReleaseStorage(storage);
  return true;
} catch (...) {
  return FailFromException(false);
}

}  // namespace kestrine

#include "storage/open_storage.h"

#include <cstddef>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "common/handle.h"

namespace kestrine {

namespace {

constexpr char kStorageSignature[] = "CASCSTOR";

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

// Stores the segments in the caller's string fields for the duration of the
// open and puts the caller's values back when it returns: the segments point
// into the open's own copy of the parameter string. Only fields that the
// record's size covers are read or written, so a shorter record is safe.
class ArgsSegmentScope {
 public:
  ArgsSegmentScope(StorageOpenArgs& args, const ParameterSegments& segments) : args_(args) {
    Store(&StorageOpenArgs::localPath, kLocalPathEnd, &segments.localPath);
    Store(&StorageOpenArgs::productCode, kProductCodeEnd, segments.productCode);
    Store(&StorageOpenArgs::region, kRegionEnd, segments.region);
    Store(&StorageOpenArgs::buildKey, kBuildKeyEnd, segments.buildKey);
    Store(&StorageOpenArgs::cdnHost, kCdnHostEnd, segments.cdnHost);
  }
  ~ArgsSegmentScope() {
    for (size_t i = 0; i < savedCount_; ++i) args_.*saved_[i].field = saved_[i].value;
  }
  ArgsSegmentScope(const ArgsSegmentScope&) = delete;
  ArgsSegmentScope& operator=(const ArgsSegmentScope&) = delete;

 private:
  struct SavedField {
    const char* StorageOpenArgs::*field;
    const char* value;
  };

  void Store(const char* StorageOpenArgs::*field, size_t fieldEnd,
             const std::optional<std::string>& value) {
    if (value) Store(field, fieldEnd, &*value);
  }
  void Store(const char* StorageOpenArgs::*field, size_t fieldEnd, const std::string* value) {
    if (!ArgsCover(args_, fieldEnd)) return;
    saved_[savedCount_++] = {field, args_.*field};
    args_.*field = value->c_str();
  }

  StorageOpenArgs& args_;
  SavedField saved_[5] = {};
  size_t savedCount_ = 0;
};

}  // namespace

uint32_t SplitParameterString(const char* parameters, const StorageOpenArgs& args,
                              ParameterSegments& segments) {
  if (parameters == nullptr) return kErrorInvalidParameter;
  std::vector<std::string_view> parts = SplitAtStars(parameters);

  segments = ParameterSegments{};
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

StorageHandle OpenStorage(const char* parameters, StorageOpenArgs* args) {
  if (args == nullptr || !ArgsCover(*args, kLocalPathEnd)) {
    SetCascError(kErrorInvalidParameter);
    return nullptr;
  }
  ParameterSegments segments;
  if (uint32_t error = SplitParameterString(parameters, *args, segments)) {
    SetCascError(error);
    return nullptr;
  }
  ArgsSegmentScope scope(*args, segments);

  // The build-file search and the load sequence are not part of this build:
  // no storage can be opened yet.
  SetCascError(kErrorNotSupported);
  return nullptr;
}

bool CloseStorage(StorageHandle storage) {
  if (!HasSignature(storage, kStorageSignature)) return FailWith(kErrorInvalidParameter);
  return FailWith(kErrorNotSupported);
}

}  // namespace kestrine

// Base providers: a local file read and written at explicit offsets and a
// read-only mapped view of a whole local file. The network providers live in
// the online layer.
#include <algorithm>
#include <cstring>

#include "common/platform.h"
#include "encoded/stream_internal.h"

namespace kestrine {

namespace {

// The provider bits of the open flags.
constexpr uint32_t kProviderFile = 0;
constexpr uint32_t kProviderMap = 1;
constexpr uint32_t kProviderRibbit = 3;

class LocalFileProvider final : public BaseProvider {
 public:
  using BaseProvider::BaseProvider;

  uint32_t Create(std::string_view path) override {
    if (uint32_t error = file_.Create(path)) return error;
    return LoadState();
  }

  uint32_t Open(std::string_view path, bool writable) override {
    if (uint32_t error = file_.Open(path, writable)) return error;
    return LoadState();
  }

  uint32_t Write(std::optional<uint64_t> offset, const void* buffer, size_t length) override {
    std::lock_guard guard(lock_);
    uint64_t at = offset.value_or(position_);
    if (uint32_t error = file_.WriteAt(at, buffer, length)) return error;
    position_ = at + length;
    fileSize_ = std::max(fileSize_, position_);
    return kErrorSuccess;
  }

  uint32_t Resize(uint64_t size) override {
    std::lock_guard guard(lock_);
    if (uint32_t error = file_.Resize(size)) return error;
    fileSize_ = size;
    return kErrorSuccess;
  }

 private:
  uint32_t LoadState() {
    if (uint32_t error = file_.Size(&fileSize_)) return error;
    return file_.LastWriteTime(&fileTime_);
  }

  uint32_t ReadLocked(uint64_t offset, void* buffer, size_t length, size_t* bytesRead) override {
    return file_.ReadAt(offset, buffer, length, bytesRead);
  }

  platform::File file_;
};

class MappedFileProvider final : public BaseProvider {
 public:
  using BaseProvider::BaseProvider;

  uint32_t Open(std::string_view path, bool /*writable*/) override {
    if (uint32_t error = view_.Open(path)) return error;
    fileSize_ = view_.size();
    fileTime_ = view_.lastWriteTime();
    return kErrorSuccess;
  }

  bool setsReadOnly() const override { return true; }

 private:
  uint32_t ReadLocked(uint64_t offset, void* buffer, size_t length, size_t* bytesRead) override {
    uint64_t available = offset < fileSize_ ? fileSize_ - offset : 0;
    *bytesRead = static_cast<size_t>(std::min<uint64_t>(available, length));
    if (*bytesRead != 0) std::memcpy(buffer, view_.data() + offset, *bytesRead);
    return *bytesRead == length ? kErrorSuccess : kErrorHandleEof;
  }

  platform::MappedFile view_;
};

}  // namespace

uint32_t BaseProvider::Create(std::string_view /*path*/) {
  return kErrorNotSupported;
}

uint32_t BaseProvider::Write(std::optional<uint64_t>, const void*, size_t) {
  return kErrorNotSupported;
}

uint32_t BaseProvider::Resize(uint64_t) {
  return kErrorNotSupported;
}

uint32_t BaseProvider::Read(std::optional<uint64_t> offset, void* buffer, size_t length) {
  std::lock_guard guard(lock_);
  uint64_t at = offset.value_or(position_);
  if (length > UINT64_MAX - at) return kErrorHandleEof;
  size_t done = 0;
  uint32_t error = ReadLocked(at, buffer, length, &done);
  if (error == kErrorHandleEof && zeroFill_) {
    std::memset(static_cast<uint8_t*>(buffer) + done, 0, length - done);
    done = length;
    error = kErrorSuccess;
  }
  position_ = at + done;
  return error;
}

uint64_t BaseProvider::size() const {
  std::lock_guard guard(lock_);
  return fileSize_;
}

uint64_t BaseProvider::position() const {
  std::lock_guard guard(lock_);
  return position_;
}

std::unique_ptr<BaseProvider> MakeBaseProvider(uint32_t flags) {
  bool zeroFill = (flags & SF_ZEROFILL) != 0;
  switch (flags & SF_PROVIDER_MASK) {
    case kProviderFile:
      return std::make_unique<LocalFileProvider>(zeroFill);
    case kProviderMap:
      return std::make_unique<MappedFileProvider>(zeroFill);
    default:
      return MakeNetworkProvider((flags & SF_PROVIDER_MASK) == kProviderRibbit, zeroFill);
  }
}

}  // namespace kestrine

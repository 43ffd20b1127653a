#include "storage/build_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>

#include "common/errors.h"
#include "common/path_builder.h"
#include "encoded/stream.h"

namespace kestrine {

namespace {

struct BuildFileName {
  std::string_view name;
  BuildFileKind kind;
};

// In the order they are tried.
constexpr std::array<BuildFileName, 4> kBuildFileNames = {{
    {".build.info", BUILD_INFO},
    {".build.db", BUILD_DB},
    {"data\\.build.config", BUILD_CONFIG},
    {"versions", BUILD_VERSIONS},
}};

constexpr size_t kShortestBuildFilePath = 8;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  std::string_view tail = text.substr(text.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
    if (IsSeparator(a) && IsSeparator(b)) return true;
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

// 0 when the file opens for reading; 8 when memory ran out trying, which
// must not read as "no build file here" and send the search further up.
uint32_t TryOpenForReading(std::string_view path) {
  StreamPtr stream(OpenLocalStream(path, SF_READONLY));
  if (stream != nullptr) return kErrorSuccess;
  return GetCascError() == kErrorNotEnoughMemory ? kErrorNotEnoughMemory : kErrorFileNotFound;
}

std::string_view StripTrailingSeparators(std::string_view path) {
  while (!path.empty() && IsSeparator(path.back())) path.remove_suffix(1);
  return path;
}

}  // namespace

uint32_t FindBuildFile(std::string_view path, BuildFileInfo& info) {
  if (path.size() < kShortestBuildFilePath) return kErrorFileNotFound;
  for (const BuildFileName& candidate : kBuildFileNames) {
    if (!EndsWithIgnoringCase(path, candidate.name)) continue;
    if (uint32_t error = TryOpenForReading(path)) {
      if (error == kErrorNotEnoughMemory) return error;
      continue;
    }
    info.path = std::string(path);
    size_t separator = info.path.find_last_of("\\/");
    info.fileNameOffset = separator == std::string::npos ? 0 : separator + 1;
    info.kind = candidate.kind;
    return kErrorSuccess;
  }
  return kErrorFileNotFound;
}

uint32_t FindBuildFileAbove(std::string_view localPath, BuildFileInfo& info) {
  uint32_t result = FindBuildFile(localPath, info);
  if (result != kErrorFileNotFound) return result;
  std::string folder(StripTrailingSeparators(localPath));
  for (;;) {
    for (const BuildFileName& candidate : kBuildFileNames) {
      result = FindBuildFile(CombinePath({folder, candidate.name}), info);
      if (result != kErrorFileNotFound) return result;
    }
    size_t separator = folder.find_last_of("\\/");
    if (separator == std::string::npos || separator == 0) return kErrorFileNotFound;
    folder = std::string(StripTrailingSeparators(folder.substr(0, separator)));
    if (folder.empty()) return kErrorFileNotFound;
  }
}

std::string AbsoluteInternalPath(std::string_view path) {
  std::string result;
  if (!path.empty() && !IsSeparator(path.front())) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof(cwd)) != nullptr) result = std::string(cwd) + "\\";
  }
  result += path;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

std::string ParentPath(std::string_view path) {
  path = StripTrailingSeparators(path);
  size_t separator = path.find_last_of("\\/");
  if (separator == std::string_view::npos) return {};
  return std::string(StripTrailingSeparators(path.substr(0, separator)));
}

}  // namespace kestrine

// The build file that marks an installation, and the walk up the folders
// that finds it from any path inside the installation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/storage.h"

namespace kestrine {

struct BuildFileInfo {
  std::string path;           // internal path of the build file
  size_t fileNameOffset = 0;  // where its file name starts in `path`
  BuildFileKind kind = BUILD_NONE;
};

// Recognises `path` as a build file by its end (case-insensitive):
// ".build.info", ".build.db", "data\.build.config", "versions", in that order;
// a match counts only when the file can be opened for reading. Returns 0,
// kErrorFileNotFound, or kErrorNotEnoughMemory when trying to open it ran
// out of memory.
[[nodiscard]] uint32_t FindBuildFile(std::string_view path, BuildFileInfo& info);

// Tries `localPath` itself, then each folder from it upwards joined with the
// four build file names. Returns 0 or kErrorFileNotFound; an allocation
// failure stops the walk with kErrorNotEnoughMemory.
[[nodiscard]] uint32_t FindBuildFileAbove(std::string_view localPath, BuildFileInfo& info);

// `path` with '/' turned into '\', made absolute against the working folder.
std::string AbsoluteInternalPath(std::string_view path);

// `path` without its last component (trailing separators removed first).
std::string ParentPath(std::string_view path);

}  // namespace kestrine

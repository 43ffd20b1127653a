#include "tool/asset_selection.h"

#include <algorithm>
#include <span>

namespace kestrine {

namespace {

bool IsOneOf(std::string_view name, std::span<const std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Extensions such as ".loa", ".lob" or ".lol": ".lo" and exactly one more byte.
bool HasLoExtension(std::string_view name) {
  return name.size() > 4 && name.substr(name.size() - 4, 3) == ".lo";
}

bool HasClassicExtension(std::string_view name) {
  return std::any_of(kClassicExtensions.begin(), kClassicExtensions.end(),
                     [&](std::string_view extension) { return name.ends_with(extension); });
}

bool IsSoundFile(std::string_view name) {
  return name.starts_with(kSoundFolder) && (name.ends_with(".wav") || name.ends_with(".ogg"));
}

}  // namespace

std::string NormalizeAssetName(std::string_view storageName) {
  std::string name(storageName);
  for (char& c : name) {
    if (c == '\\') {
      c = '/';
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + ('a' - 'A'));
    }
  }
  if (name.starts_with("sd/")) name.erase(0, 3);
  return name;
}

bool IsClassicAsset(std::string_view name) {
  if (name.find("..") != std::string_view::npos) return false;
  if (name.find(".dds.") != std::string_view::npos) return false;
  if (IsOneOf(name, kMusicNames)) return true;
  if (IsSoundFile(name)) return true;
  if (IsOneOf(name, kConsoleNames)) return true;
  for (std::string_view prefix : kClassicDirectories) {
    if (!name.starts_with(prefix)) continue;
    if (HasLoExtension(name) || HasClassicExtension(name)) return true;
  }
  return false;
}

}  // namespace kestrine

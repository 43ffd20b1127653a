// The Diablo III root. Loading it:
//
// 1. Every named entry of the root is a directory: its name becomes a folder
//    whose own entry is the directory file, and every named entry of that
//    file becomes the file "directory\name".
// 2. The table of contents "Base\CoreTOC.dat", found among those names, gives
//    every SNO id its asset group and name; the package list
//    "Base\Data_D3\PC\Misc\Packages.dat", when there is one, the true
//    extensions.
// 3. The numbered entries of every directory, first those without sub-index
//    and then those with, become "directory\" and the asset's name.
//
// Only entries whose CKey the storage knows are named. The directory files
// are marked EF_ROOT_DIRECTORY, so that a search reports them neither by
// name nor as unnamed entries; a directory named twice lists the files of
// both its files under the one folder.
#include "roots/diablo_root.h"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "roots/diablo_asset_names.h"
#include "roots/diablo_core_toc.h"
#include "roots/diablo_directory.h"
#include "roots/diablo_packages.h"
#include "roots/root_loaders.h"
#include "storage/manifest_file.h"

namespace kestrine {

namespace {

// A directory file that was read, and the folder that holds its files.
struct DirectorySlot {
  std::vector<uint8_t> data;
  DiabloDirectory tables;  // points into `data`, whose bytes never move
  uint32_t folder = kNoNode;
};

// The length of a node's full path at most: its fragments and a separator
// behind each. The walk is bounded by the node count.
size_t PathLengthBound(const FileTree& tree, uint32_t node) {
  size_t length = 0;
  for (size_t depth = 0; depth < tree.nodeCount() && node < tree.nodeCount(); ++depth) {
    const FileTreeNode& head = tree.Node(node);
    if (head.parent == kNoNode) break;
    length += head.nameLength + 1;
    node = head.parent;
  }
  return length;
}

// The full path of a folder node, ending in "\".
std::string FolderPath(const FileTree& tree, uint32_t node) {
  std::string path(PathLengthBound(tree, node) + 2, '\0');
  path.resize(tree.BuildPath(node, path.data(), path.size()));
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

class DiabloRootLoader {
 public:
  DiabloRootLoader(TCascStorage& storage, TDiabloRoot& root, const StoredFileReader& read)
      : storage_(storage), tree_(root.tree()), root_(root), read_(read) {}

  uint32_t Load(const DiabloDirectory& rootDirectory) {
    if (uint32_t error = LoadDirectories(rootDirectory)) return error;
    if (uint32_t error = LoadTableOfContents()) return error;
    if (uint32_t error = LoadPackages()) return error;
    return NameNumberedFiles();
  }

 private:
  uint32_t LoadDirectories(const DiabloDirectory& rootDirectory) {
    DiabloNamedEntries entries(rootDirectory);
    DiabloNamedEntry entry;
    while (entries.Next(entry)) {
      ContentEntry* file = storage_.contents.FindByCKey(entry.ckey.data());
      if (file == nullptr) continue;
      if (uint32_t error = LoadDirectory(entry.name, file)) return error;
    }
    return kErrorSuccess;
  }

  // A directory file that cannot be read leaves its folder empty. Running
  // out of memory ends the load instead: a storage that opens listing fewer
  // files than it holds would be worse than one that does not open.
  uint32_t LoadDirectory(std::string_view name, ContentEntry* file) {
    if (tree_.InsertFile(file, name, kNoFileId) == nullptr) return kErrorNotEnoughMemory;
    const uint32_t folder = tree_.FindName(name);
    if (folder == kNoNode) return kErrorNotEnoughMemory;
    file->flags |= EF_ROOT_DIRECTORY;
    tree_.MarkDirectoryFile(folder);
    std::vector<uint8_t> data;
    const uint32_t read = read_(storage_, file, data);
    if (read == kErrorNotEnoughMemory) return read;
    if (read != kErrorSuccess || data.empty()) return kErrorSuccess;
    DirectorySlot& slot = slots_.emplace_back();
    slot.data = std::move(data);
    if (uint32_t error = ParseDiabloDirectory(slot.data, slot.tables)) return error;
    slot.folder = folder;
    return EnterNamedFiles(name, slot.tables);
  }

  uint32_t EnterNamedFiles(std::string_view directory, const DiabloDirectory& tables) {
    DiabloNamedEntries entries(tables);
    DiabloNamedEntry entry;
    std::string path;
    while (entries.Next(entry)) {
      ContentEntry* file = storage_.contents.FindByCKey(entry.ckey.data());
      if (file == nullptr) continue;
      path.assign(directory).append(1, '\\').append(entry.name);
      if (uint32_t error = Enter(file, path)) return error;
    }
    return kErrorSuccess;
  }

  uint32_t LoadTableOfContents() {
    ContentEntry* file = root_.LookupName(&storage_, kDiabloCoreTocName);
    if (file == nullptr) return kErrorFileNotFound;
    if (uint32_t error = read_(storage_, file, toc_)) return error;
    return snoTable_.Load(toc_);
  }

  // A package list that is missing or cannot be read leaves the extensions
  // of the built-in table; running out of memory ends the load.
  uint32_t LoadPackages() {
    ContentEntry* file = root_.LookupName(&storage_, kDiabloPackagesName);
    if (file == nullptr) return kErrorSuccess;
    const uint32_t read = read_(storage_, file, packageList_);
    if (read == kErrorNotEnoughMemory) return read;
    if (read == kErrorSuccess) packages_.Load(packageList_);
    return kErrorSuccess;
  }

  uint32_t NameNumberedFiles() {
    for (const DirectorySlot& slot : slots_) {
      const std::string base = FolderPath(tree_, slot.folder);
      for (size_t i = 0; i < slot.tables.assetCount(); ++i) {
        if (uint32_t error = NameAsset(base, DiabloAssetAt(slot.tables, i))) return error;
      }
      for (size_t i = 0; i < slot.tables.assetPartCount(); ++i) {
        if (uint32_t error = NameAsset(base, DiabloAssetPartAt(slot.tables, i))) return error;
      }
    }
    return kErrorSuccess;
  }

  // An asset the table of contents does not name is passed over.
  uint32_t NameAsset(const std::string& base, const DiabloAssetEntry& asset) {
    ContentEntry* file = storage_.contents.FindByCKey(asset.ckey.data());
    if (file == nullptr) return kErrorSuccess;
    const std::optional<uint32_t> subIndex =
        asset.hasSubIndex ? std::optional<uint32_t>(asset.subIndex) : std::nullopt;
    const std::optional<std::string> name =
        DiabloAssetName(snoTable_, packages_, asset.snoId, subIndex);
    if (!name) return kErrorSuccess;
    return Enter(file, base + *name);
  }

  uint32_t Enter(ContentEntry* file, std::string_view name) {
    return tree_.InsertFile(file, name, kNoFileId) != nullptr ? kErrorSuccess
                                                              : kErrorNotEnoughMemory;
  }

  TCascStorage& storage_;
  FileTree& tree_;
  TDiabloRoot& root_;
  const StoredFileReader& read_;
  // As many as the root names; a vector that grows moves each slot's data
  // buffer along with it, so the tables cut from it stay valid.
  std::vector<DirectorySlot> slots_;
  std::vector<uint8_t> toc_;
  DiabloSnoTable snoTable_;
  std::vector<uint8_t> packageList_;
  DiabloPackageSet packages_;
};

uint32_t ReadStoredFile(TCascStorage& storage, ContentEntry* entry, std::vector<uint8_t>& out) {
  return LoadManifestFile(storage, entry, out);
}

}  // namespace

uint32_t LoadDiabloRootWith(TCascStorage& storage, std::span<const uint8_t> data,
                            const StoredFileReader& read) {
  DiabloDirectory rootDirectory;
  if (uint32_t error = ParseDiabloDirectory(data, rootDirectory)) return error;
  try {
    auto root = std::make_unique<TDiabloRoot>();
    DiabloRootLoader loader(storage, *root, read);
    if (uint32_t error = loader.Load(rootDirectory)) return error;
    storage.root = std::move(root);
    return kErrorSuccess;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

uint32_t LoadDiabloRoot(TCascStorage& storage, std::span<const uint8_t> data,
                        uint32_t /*localeMask*/) {
  return LoadDiabloRootWith(storage, data, ReadStoredFile);
}

}  // namespace kestrine

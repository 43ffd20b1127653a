// Writers of Diablo III roots from plans: directory files (the root is one),
// the table of contents "Base\CoreTOC.dat" and the package list
// "Base\Data_D3\PC\Misc\Packages.dat", each with the faults a reader must
// survive; and the stores that put the files a root names into a local
// installation or into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "roots/diablo_directory.h"
#include "roots/diablo_packages.h"
#include "roots/load_root.h"
#include "testkit/installation.h"

namespace kestrine::testkit {

struct DiabloAssetPlan {  // an A entry
  Key16 ckey{};
  uint32_t snoId = 0;
};

struct DiabloAssetPartPlan {  // a B entry
  Key16 ckey{};
  uint32_t snoId = 0;
  uint32_t subIndex = 0;
};

struct DiabloNamedPlan {
  Key16 ckey{};
  std::string name;
};

// A directory file. With kDiabloRootSignature (the root's) only the named
// entries are written.
struct DiabloDirectoryPlan {
  uint32_t signature = kDiabloDirectorySignature;
  std::vector<DiabloAssetPlan> assets;
  std::vector<DiabloAssetPartPlan> parts;
  std::vector<DiabloNamedPlan> named;
  // Faults.
  std::optional<uint32_t> assetCount;  // written instead of the real counts
  std::optional<uint32_t> partCount;
  std::optional<uint32_t> namedCount;
  bool unterminatedLastName = false;  // the last name's NUL left out
  size_t truncateBy = 0;              // bytes cut from the end
};

std::vector<uint8_t> WriteDiabloDirectory(const DiabloDirectoryPlan& plan);

struct CoreTocRecord {
  uint32_t group = 0;
  uint32_t snoId = 0;
  std::string name;
  std::optional<uint32_t> table;       // the table holding it, when not its group's
  std::optional<uint32_t> nameOffset;  // written instead of the real one
};

// Records go into the tables of their groups (0 to 69), in the order given;
// each table's names follow its records.
struct CoreTocPlan {
  std::vector<CoreTocRecord> records;
  // Faults: per table, written instead of the real values.
  std::map<uint32_t, uint32_t> counts;
  std::map<uint32_t, uint32_t> offsets;
  size_t truncateBy = 0;
};

std::vector<uint8_t> WriteCoreToc(const CoreTocPlan& plan);

// A record in the table of its group; a plan of such records.
CoreTocRecord TocRecord(uint32_t group, uint32_t snoId, std::string name);
CoreTocPlan TocOf(std::vector<CoreTocRecord> records);

struct PackageListPlan {
  std::vector<std::string> names;
  // Faults.
  uint32_t signature = kDiabloPackagesSignature;
  std::optional<uint32_t> count;  // written instead of the real one
  size_t truncateBy = 0;
};

std::vector<uint8_t> WritePackageList(const PackageListPlan& plan);

PackageListPlan PackagesOf(std::vector<std::string> names);

// Puts a file named by a root where the storage finds it; returns its CKey.
using DiabloFileStore = std::function<Key16(const std::vector<uint8_t>& content)>;

// An empty directory plan signed as a root.
DiabloDirectoryPlan RootDirectory();

struct DiabloDirectoryFile {
  std::string name;  // as the root names it
  DiabloDirectoryPlan file;
};

// A whole root: the root file names its own named entries first, then the
// directories in order. The table of contents and the package list, when
// planned, are named by the first directory called "Base" (one is added
// behind the others when none is planned). The open refuses root files
// shorter than 33 bytes: a root naming one short directory is not read.
struct DiabloRootPlan {
  DiabloDirectoryPlan root = RootDirectory();
  std::vector<DiabloDirectoryFile> directories;
  std::optional<CoreTocPlan> toc;
  std::optional<PackageListPlan> packages;
};

// Stores the directory files, the table of contents and the package list
// through `store`; returns the root file.
std::vector<uint8_t> WriteDiabloRoot(const DiabloRootPlan& plan, const DiabloFileStore& store);

// Stores each file BLTE-encoded in the installation's archives, listed by
// its ENCODING manifest (once per content).
DiabloFileStore InstallationStore(InstallationPlan& layout);

// Makes the planned root the installation's root, its files stored.
void StoreDiabloRoot(InstallationPlan& layout, const DiabloRootPlan& plan);

// Files held in memory for a storage made by MakeMemoryStorage: a stored
// file gets a content entry (its CKey the MD5 of its content, listed as by
// the ENCODING manifest), and the reader reads it back, as LoadManifestFile
// would from the archives.
class MemoryFiles {
 public:
  explicit MemoryFiles(TCascStorage& storage) : storage_(storage) {}

  Key16 Store(const std::vector<uint8_t>& content);
  DiabloFileStore store() {
    return [this](const std::vector<uint8_t>& content) { return Store(content); };
  }
  // Reading the file of `ckey` fails with `error` from now on.
  void FailReading(const Key16& ckey, uint32_t error) { failures_[ckey] = error; }

  // 2 for a null entry or one not stored here.
  uint32_t Read(ContentEntry* entry, std::vector<uint8_t>& out) const;
  StoredFileReader reader() const {
    return [this](TCascStorage&, ContentEntry* entry, std::vector<uint8_t>& out) {
      return Read(entry, out);
    };
  }

 private:
  TCascStorage& storage_;
  std::map<Key16, std::vector<uint8_t>> files_;
  std::map<Key16, uint32_t> failures_;
};

}  // namespace kestrine::testkit

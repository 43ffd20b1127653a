#include "storage/config_entries.h"

namespace kestrine {

void InsertConfigEntries(TCascStorage& storage) {
  for (const ContentEntry* entry :
       {&storage.downloadEntry, &storage.installEntry, &storage.patchEntry, &storage.rootEntry,
        &storage.sizeEntry, &storage.vfsRootEntry}) {
    storage.contents.Insert(*entry);
  }
  for (const ContentEntry& entry : storage.vfsRootEntries) storage.contents.Insert(entry);
}

}  // namespace kestrine

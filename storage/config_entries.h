// The manifest entries that the build configuration names become content
// entries of the storage.
#pragma once

#include "storage/storage.h"

namespace kestrine {

// Inserts the DOWNLOAD, INSTALL, PATCH, ROOT, SIZE and VFS-root entries, in
// this order, then every element of the VFS-root array. Entries that do not
// fit the table are dropped, as every content entry is.
void InsertConfigEntries(TCascStorage& storage);

}  // namespace kestrine

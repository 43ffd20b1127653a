// Installations whose files tests read back by key: the files stored in the
// data archives with index entries, and content entries given to them while
// the storage opens, as an encoding manifest listing them would.
#pragma once

#include <filesystem>
#include <span>

#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/installation.h"

namespace kestrine::testkit {

// Adds the files to the installation's data archives (each behind its
// 30-byte record header, with a matching index entry).
void AddStoredFiles(InstallationPlan& layout, std::span<const StoredFile> files);

// Opens the installation at `path` while giving each of `files` its content
// entry (InsertContentEntries) right after the local index loads, with the
// sizes and flags the files ask for. The entry array is sized from the
// ENCODING manifest, which does not list these files: a few dozen fit. For
// more, list the files in InstallationPlan::encoding and open as usual.
// Null, with the last error set, on failure.
StorageHandle OpenWithContentEntries(const std::filesystem::path& path,
                                     std::span<const StoredFile> files);

}  // namespace kestrine::testkit

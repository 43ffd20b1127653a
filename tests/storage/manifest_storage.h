// A storage with key tables and, when asked, a local index in memory: what
// the open has built by the time it reads the ENCODING and DOWNLOAD manifests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "storage/index_files.h"
#include "storage/storage.h"
#include "testkit/index_files.h"

namespace kestrine::test {

class ManifestStorage {
 public:
  // Key tables sized as the open sizes them from the manifests' content sizes.
  explicit ManifestStorage(uint32_t encodingSize = 1 << 20, uint32_t downloadSize = kUnknownSize) {
    EXPECT_EQ(storage_.contents.Create(encodingSize, downloadSize, 9), 0u);
  }

  // Index entries that LocateEncodedFile will find.
  void Index(const std::vector<testkit::IndexEntry>& entries) {
    storage_.localIndex = std::make_unique<LocalIndex>();
    LocalIndex& index = *storage_.localIndex;
    testkit::IndexFileV7 file;
    file.entries = entries;
    index.slots()[0].data = testkit::WriteIndexFileV7(file);
    ASSERT_EQ(index.CreateMap(index.slots()[0].data.size()), 0u);
    ASSERT_EQ(index.ParseIndexFile(storage_, 0, index.slots()[0].data), 0u);
  }

  TCascStorage& operator*() { return storage_; }
  TCascStorage* operator->() { return &storage_; }

 private:
  TCascStorage storage_;
};

}  // namespace kestrine::test

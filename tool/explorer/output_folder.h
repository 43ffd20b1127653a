// The folder `extract` writes into. Folders below it are entered one
// component at a time without following links, so that a link left in the
// output folder (by an earlier extract of a hostile storage, or by anyone)
// cannot carry a file outside it. Each file is written under a temporary
// name in its folder and renamed into place when complete; the temporary
// file is removed when the write fails and when the process is interrupted
// (SIGINT, SIGTERM, SIGHUP), so that no half-written file ever carries a
// real name.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "content_copy.h"
#include "extract_path.h"

namespace kestrine::explorer {

// Where writing a file ended.
struct WriteOutcome {
  enum Kind { kWritten, kFolderMade, kRefused, kReadFailed, kWriteFailed } kind = kWritten;
  uint32_t readError = 0;  // kReadFailed: the storage's error number
  int systemError = 0;     // kWriteFailed: errno
  uint64_t bytes = 0;      // kWritten: the file's size
};

// Fills a file through the sink it is given.
using ContentSource = std::function<CopyResult(const ContentSink& sink)>;

class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Creates the folder (and its parents) when missing and opens it; 0 or errno.
  int Open(const std::string& path);

  // Writes one file at `path`; a container's path only makes its folder.
  WriteOutcome Write(const ExtractPath& path, const ContentSource& source);

 private:
  int descriptor_ = -1;
};

}  // namespace kestrine::explorer

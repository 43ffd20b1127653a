// One file downloaded from the content servers into the cache: asked of
// each CDN host in turn, written to a temporary file beside its final name
// as the bytes arrive, and renamed into place only when complete and on the
// disk. Whatever fails, no file is left under the final name, and the
// temporary file goes with the object.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"
#include "online/transfer.h"

namespace kestrine {

class CdnDownload {
 public:
  // `hosts`: "host[:port]" or "http://host[:port]" each; `remotePath`: the
  // path below a host ("tpr/x/data/ab/cd/<key>"); `localPath`: the final
  // cache path, whose folder exists.
  //
  // A deferred download stops short of its rename: once complete it waits
  // under its temporary name (readyPath) until CommitSynced, so that a
  // caller of many downloads can put them all on the disk with one flush of
  // the file system instead of one flush each.
  CdnDownload(std::vector<std::string> hosts, std::string remotePath,
              std::optional<ByteRange> range, std::string localPath, bool deferred = false);
  ~CdnDownload();
  CdnDownload(const CdnDownload&) = delete;
  CdnDownload& operator=(const CdnDownload&) = delete;

  // Creates the temporary file. 0 or the error number.
  [[nodiscard]] uint32_t Prepare();
  // The request for the current host; valid while HasHost().
  bool HasHost() const { return host_ < hosts_.size(); }
  TransferRequest Request() const;
  BodySink& sink();
  // Takes the result of the current host's request. Returns the final
  // result (0: the file is in place), or nothing when the next host is to
  // be asked.
  std::optional<uint32_t> Finish(uint32_t error);

  // Runs the whole download on the calling thread.
  [[nodiscard]] uint32_t Run();

  // A deferred download that completed: where its bytes are until
  // CommitSynced renames them into place.
  bool ready() const { return ready_; }
  const std::string& readyPath() const { return tempPath_; }
  // Renames a ready download into place once the caller flushed the file
  // system that holds it.
  [[nodiscard]] uint32_t CommitSynced();

 private:
  class FileSink;

  // Checks what arrived, puts it on the disk when `sync`, and closes the
  // temporary file: 0, 11 for a size that cannot be the file, 112.
  uint32_t Complete(bool sync);
  uint32_t Commit();
  void Discard();

  std::vector<std::string> hosts_;
  std::string remotePath_;
  std::optional<ByteRange> range_;
  std::string localPath_;
  std::string tempPath_;
  size_t host_ = 0;
  bool deferred_ = false;
  bool ready_ = false;
  platform::File file_;
  std::unique_ptr<FileSink> sink_;  // writes into file_
};

// The hosts of a blank-separated list; names longer than 259 characters are
// skipped.
std::vector<std::string> SplitCdnHosts(std::string_view hosts);

}  // namespace kestrine

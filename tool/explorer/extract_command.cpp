// extract: every file matching the mask, written below the output folder.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>

#include "commands.h"
#include "output_folder.h"
#include "progress_bar.h"
#include "storage_session.h"

namespace kestrine::explorer {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

struct Tally {
  uint64_t filesDone = 0;  // written, failed or refused
  uint64_t filesWritten = 0;
  uint64_t bytesWritten = 0;
  bool anyFailed = false;
};

// A search over the command's mask; empty when nothing matches, empty with
// the error printed when the search itself failed.
Search StartSearch(const CommandLine& line, const Storage& storage, bool& failed) {
  const char* listFile = line.options.listFile ? line.options.listFile->c_str() : nullptr;
  failed = false;
  try {
    return storage.search(line.mask, listFile);
  } catch (const Error& failure) {
    failed = true;
    std::fprintf(stderr, "kestrine-casc: cannot search %s, error %u\n", line.mask.c_str(),
                 failure.code());
    return Search();
  }
}

// The number of matches, for the progress bar's total.
uint64_t CountMatches(const CommandLine& line, const Storage& storage) {
  bool failed = false;
  Search search = StartSearch(line, storage, failed);
  uint64_t count = 0;
  for (auto it = search.begin(); it != search.end(); ++it) ++count;
  return count;
}

void ReportFailure(const char* name, const WriteOutcome& outcome) {
  switch (outcome.kind) {
    case WriteOutcome::kRefused:
      std::fprintf(stderr,
                   "kestrine-casc: refused %s, error %u: the name leads outside the output "
                   "folder\n",
                   name, kErrorInvalidParameter);
      break;
    case WriteOutcome::kReadFailed:
      std::fprintf(stderr, "kestrine-casc: cannot read %s, error %u\n", name, outcome.readError);
      break;
    case WriteOutcome::kWriteFailed:
      std::fprintf(stderr, "kestrine-casc: cannot write %s, errno %d: %s\n", name,
                   outcome.systemError, std::strerror(outcome.systemError));
      break;
    case WriteOutcome::kWritten:
    case WriteOutcome::kFolderMade:
      break;
  }
}

WriteOutcome ExtractOne(const Storage& storage, OutputFolder& folder, const SearchResult& result) {
  const std::optional<ExtractPath> path =
      ExtractPathOf(result.fileName, result.nameType != kNameFull);
  if (!path) return {WriteOutcome::kRefused};
  return folder.Write(*path, [&](const ContentSink& sink) {
    return CopyFileContent(storage, result.fileName, sink);
  });
}

void Count(Tally& tally, const SearchResult& result, const WriteOutcome& outcome,
           std::optional<ProgressBar>& progress) {
  ++tally.filesDone;
  if (outcome.kind == WriteOutcome::kWritten) {
    ++tally.filesWritten;
    tally.bytesWritten += outcome.bytes;
  } else if (outcome.kind != WriteOutcome::kFolderMade) {
    tally.anyFailed = true;
    if (progress) progress->ClearLine();
    ReportFailure(result.fileName, outcome);
  }
  if (progress) progress->Update(tally.filesDone, tally.bytesWritten);
}

}  // namespace

int RunExtract(const CommandLine& line) {
  const Storage storage = OpenCommandStorage(line);
  if (!storage) return 1;
  OutputFolder folder;
  if (int error = folder.Open(line.outputFolder)) {
    std::fprintf(stderr, "kestrine-casc: cannot create %s, errno %d: %s\n",
                 line.outputFolder.c_str(), error, std::strerror(error));
    return 1;
  }
  std::optional<ProgressBar> progress;
  if (isatty(STDERR_FILENO)) progress.emplace(stderr, CountMatches(line, storage));

  Tally tally;
  bool searchFailed = false;
  for (const SearchResult& result : StartSearch(line, storage, searchFailed)) {
    Count(tally, result, ExtractOne(storage, folder, result), progress);
  }
  if (progress) progress->Finish(tally.filesDone, tally.bytesWritten);
  std::printf("Extracted %" PRIu64 " files, %.1f MiB\n", tally.filesWritten,
              tally.bytesWritten / kMiB);
  return tally.anyFailed || searchFailed ? 1 : 0;
}

}  // namespace kestrine::explorer

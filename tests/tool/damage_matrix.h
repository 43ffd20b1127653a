// The damaged-installation matrix: the real tool imports damaged copies of
// one installation, one damage per run, over a bundle of an earlier run.
// Each run must keep the import's promise: exit 0 with exactly the expected
// bundle, or exit 1 with one "Asset import failed: " line, the earlier
// bundle untouched and nothing left beside it; never a crash, a hang or a
// sanitizer report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/tool/installation_damage.h"

namespace kestrine::test {

struct RunOutcome {
  std::string kind;     // the damaged file's kind
  std::string damage;   // which file or blob, what was done, where
  int exitCode = -1;    // -1 when the tool did not exit by itself
  std::string message;  // the failure line, for exit 1
  std::string failure;  // how the run broke the promise; empty when it kept it
};

struct MatrixReport {
  std::vector<RunOutcome> runs;

  size_t FailureCount() const;
  // Runs, exits 0 and 1 and failures per file kind, the failure lines seen,
  // and every failed run.
  std::string Summary() const;
};

// Runs the tool at `tool` once undamaged and then once per damage.
// `progress` (may be null) gets a line every few hundred runs.
MatrixReport RunDamageMatrix(MatrixSize size, uint64_t seed, const std::filesystem::path& tool,
                             std::FILE* progress = nullptr);

}  // namespace kestrine::test

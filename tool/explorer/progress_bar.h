// The progress of `extract` on a terminal: one line on standard error,
// redrawn in place at most ten times a second, with the files done of the
// total, the bytes written and the rate.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace kestrine::explorer {

class ProgressBar {
 public:
  ProgressBar(FILE* out, uint64_t totalFiles);

  // Files handled so far (written or not) and bytes written.
  void Update(uint64_t filesDone, uint64_t bytesWritten);
  // Clears the line for a message; the next update draws it again.
  void ClearLine();
  // Draws the final state and ends the line.
  void Finish(uint64_t filesDone, uint64_t bytesWritten);

 private:
  void Draw(uint64_t filesDone, uint64_t bytesWritten);

  FILE* out_;
  uint64_t totalFiles_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace kestrine::explorer

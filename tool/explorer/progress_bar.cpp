#include "progress_bar.h"

#include <cinttypes>
#include <string>

namespace kestrine::explorer {

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr double kMiB = 1024.0 * 1024.0;

}  // namespace

ProgressBar::ProgressBar(FILE* out, uint64_t totalFiles)
    : out_(out), totalFiles_(totalFiles), start_(std::chrono::steady_clock::now()) {
  lastDraw_ = start_ - kRedrawInterval;
}

void ProgressBar::Update(uint64_t filesDone, uint64_t bytesWritten) {
  if (std::chrono::steady_clock::now() - lastDraw_ < kRedrawInterval) return;
  Draw(filesDone, bytesWritten);
}

void ProgressBar::ClearLine() {
  std::fputs("\r\x1b[K", out_);
  lastDraw_ = start_ - kRedrawInterval;
}

void ProgressBar::Finish(uint64_t filesDone, uint64_t bytesWritten) {
  Draw(filesDone, bytesWritten);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ProgressBar::Draw(uint64_t filesDone, uint64_t bytesWritten) {
  lastDraw_ = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(lastDraw_ - start_).count();
  const double rate = seconds > 0 ? bytesWritten / kMiB / seconds : 0.0;
  const uint64_t filled = totalFiles_ != 0 ? filesDone * kBarWidth / totalFiles_ : kBarWidth;
  const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '.');
  std::fprintf(out_, "\r[%s] %" PRIu64 "/%" PRIu64 " files, %.1f MiB, %.1f MiB/s", bar.c_str(),
               filesDone, totalFiles_, bytesWritten / kMiB, rate);
  std::fflush(out_);
}

}  // namespace kestrine::explorer

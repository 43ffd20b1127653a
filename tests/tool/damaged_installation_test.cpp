// The real tool on damaged copies of an installation: every file kind cut
// short and bit-flipped, one damage per run. A quick set runs with the
// tests; `make torture` runs the whole matrix with seeded random damages
// (KESTRINE_TORTURE=1, TORTURE_SEED to replay a seed, TORTURE_TOOL for
// another build of the tool).
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tests/tool/damage_matrix.h"

namespace kestrine {
namespace {

using test::MatrixReport;
using test::MatrixSize;
using test::RunOutcome;

// TORTURE_TOOL runs another build of the tool, e.g. an older one.
std::string ToolPath() {
  const char* tool = std::getenv("TORTURE_TOOL");
  return tool != nullptr && *tool != '\0' ? tool : KESTRINE_TOOL_PATH;
}

TEST(DamagedInstallationTest, QuickMatrixKeepsThePromise) {
  const MatrixReport report = test::RunDamageMatrix(MatrixSize::kQuick, 0, ToolPath());

  std::set<std::string> kinds;
  for (const RunOutcome& run : report.runs) kinds.insert(run.kind);
  EXPECT_EQ(kinds,
            (std::set<std::string>{"(undamaged)", "build info", "build config", "CDN config",
                                   "index", "archive", "ENCODING", "DOWNLOAD", "root", "asset"}))
      << "every file kind takes damage";
  EXPECT_GE(report.runs.size(), 25u);
  EXPECT_EQ(report.FailureCount(), 0u) << report.Summary();
}

uint64_t TortureSeed() {
  const char* given = std::getenv("TORTURE_SEED");
  if (given != nullptr && *given != '\0') return std::strtoull(given, nullptr, 10);
  return std::random_device{}() % 1000000;
}

TEST(DamagedInstallationTest, WholeMatrix) {
  const char* enabled = std::getenv("KESTRINE_TORTURE");
  if (enabled == nullptr || *enabled == '\0') GTEST_SKIP() << "run by make torture";
  const uint64_t seed = TortureSeed();
  std::printf("Damaged-installation matrix, seed %llu (TORTURE_SEED=%llu replays it)\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
  std::fflush(stdout);

  const MatrixReport report = test::RunDamageMatrix(MatrixSize::kWhole, seed, ToolPath(), stdout);
  std::fputs(report.Summary().c_str(), stdout);
  EXPECT_EQ(report.FailureCount(), 0u) << "seed " << seed;
}

}  // namespace
}  // namespace kestrine

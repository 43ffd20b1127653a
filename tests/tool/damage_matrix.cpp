#include "tests/tool/damage_matrix.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "tests/tool/test_util.h"
#include "tests/tool/timed_process.h"

namespace kestrine::test {

namespace {

namespace fs = std::filesystem;

constexpr auto kRunLimit = std::chrono::seconds(20);
const std::string kEarlierBundle = "the bundle of an earlier run";
const std::string kBundleName = "classic.kvrn";
const std::string kFailurePrefix = "Asset import failed: ";

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

bool IsSanitizerReport(const std::string& err) {
  return err.find("Sanitizer") != std::string::npos ||
         err.find("runtime error:") != std::string::npos;
}

// How the bundle written differs from the expected records, briefly.
std::string BundleDifference(const DamageGame& game, const fs::path& bundle) {
  std::vector<BundleRecord> written;
  testing::AssertionResult parsed = ReadBundle(bundle, written);
  if (!parsed) return parsed.message();
  std::vector<std::string> differences;
  for (const testkit::DemoRecord& record : game.records) {
    auto found = std::find_if(written.begin(), written.end(),
                              [&](const BundleRecord& r) { return r.name == record.name; });
    if (found == written.end()) {
      differences.push_back(record.name + " missing");
    } else if (found->data.size() != record.size) {
      differences.push_back(record.name + " has " + std::to_string(found->data.size()) +
                            " bytes, not " + std::to_string(record.size));
    } else if (std::string(record.data.begin(), record.data.end()) != found->data) {
      differences.push_back(record.name + " has other content");
    }
  }
  if (written.size() != game.records.size()) {
    differences.push_back(std::to_string(written.size()) + " records, not " +
                          std::to_string(game.records.size()));
  }
  std::string text;
  for (const std::string& difference : differences) text += (text.empty() ? "" : ", ") + difference;
  return text.empty() ? "records equal, bytes differ" : text;
}

std::string ProblemWithSuccess(const DamageGame& game, const TimedRun& run, const fs::path& out) {
  if (!run.err.empty()) return "exit 0 with standard error: " + FirstLine(run.err);
  if (ReadFile(out / kBundleName) !=
      std::string(game.expectedBundle.begin(), game.expectedBundle.end())) {
    return "exit 0 with a wrong bundle: " + BundleDifference(game, out / kBundleName);
  }
  return "";
}

std::string ProblemWithFailure(const TimedRun& run, const fs::path& out) {
  const bool oneLine = run.err.ends_with('\n') && run.err.find('\n') == run.err.size() - 1;
  if (!oneLine || !run.err.starts_with(kFailurePrefix)) {
    return "exit 1 without one failure line: " + FirstLine(run.err);
  }
  // A failure always has a cause; error 0 would tell the user nothing.
  if (run.err.ends_with(", error 0\n")) return "exit 1 reporting error 0: " + FirstLine(run.err);
  if (ReadFile(out / kBundleName) != kEarlierBundle) return "exit 1, earlier bundle changed";
  return "";
}

// Why `run` breaks the import's promise, or nothing.
std::string Judge(const DamageGame& game, const TimedRun& run, const fs::path& out) {
  if (run.timedOut) return "hang: killed after 20 s";
  if (run.signal != 0) return "crash: signal " + std::to_string(run.signal);
  if (IsSanitizerReport(run.err)) return "sanitizer report: " + FirstLine(run.err);
  std::string failure;
  if (run.exitCode == 0) {
    failure = ProblemWithSuccess(game, run, out);
  } else if (run.exitCode == 1) {
    failure = ProblemWithFailure(run, out);
  } else {
    return "exit " + std::to_string(run.exitCode) + ": " + FirstLine(run.err);
  }
  if (failure.empty() && FolderListing(out) != std::vector<std::string>{kBundleName}) {
    failure = "left files beside the bundle";
  }
  return failure;
}

std::string DescribeDamage(const DamageTarget& target, const Damage& damage) {
  std::string text = target.label + ": " + damage.where;
  if (damage.where.ends_with("(random)")) return text;
  text += " (+" + std::to_string(damage.offset);
  if (damage.kind == DamageKind::kFlip && damage.mask != 0x01) {
    char mask[16];
    std::snprintf(mask, sizeof mask, ", mask 0x%02x", damage.mask);
    text += mask;
  }
  return text + ")";
}

class MatrixRunner {
 public:
  MatrixRunner(const fs::path& tool) : tool_(tool) {
    game_ = WriteDamageGame(dir_.path() / "pristine" / "StarCraft");
  }

  const DamageGame& game() const { return game_; }

  RunOutcome Run(const DamageTarget* target, const Damage* damage) {
    const fs::path copy = dir_.path() / "run" / "StarCraft";
    const fs::path out = dir_.path() / "out";
    fs::remove_all(dir_.path() / "run");
    fs::remove_all(out);
    fs::create_directories(copy.parent_path());
    fs::copy(game_.installation.root, copy, fs::copy_options::recursive);
    if (target != nullptr) ApplyDamage(game_, copy, *target, *damage);
    fs::create_directories(out);
    WriteFile(out / kBundleName, kEarlierBundle);

    const TimedRun run = RunTimed({tool_.string(), copy.string(), (out / kBundleName).string()},
                                  dir_.path() / "stderr", kRunLimit);
    RunOutcome outcome;
    outcome.kind = target != nullptr ? target->kind : "(undamaged)";
    outcome.damage = target != nullptr ? DescribeDamage(*target, *damage) : "none";
    outcome.exitCode = run.timedOut || run.signal != 0 ? -1 : run.exitCode;
    if (run.exitCode == 1) outcome.message = FirstLine(run.err);
    outcome.failure = Judge(game_, run, out);
    if (!outcome.failure.empty()) KeepFailedRun(copy, out);
    return outcome;
  }

 private:
  // With TORTURE_KEEP naming a folder, a failed run's damaged installation
  // and output stay there, numbered, to be replayed by hand.
  void KeepFailedRun(const fs::path& copy, const fs::path& out) {
    const char* keep = std::getenv("TORTURE_KEEP");
    if (keep == nullptr || *keep == '\0') return;
    const fs::path kept = fs::path(keep) / std::to_string(++keptRuns_);
    fs::create_directories(kept);
    fs::copy(copy, kept / "StarCraft", fs::copy_options::recursive);
    fs::copy(out, kept / "out", fs::copy_options::recursive);
    WriteFile(kept / "expected.kvrn",
              std::string(game_.expectedBundle.begin(), game_.expectedBundle.end()));
  }

  TempDir dir_;
  fs::path tool_;
  size_t keptRuns_ = 0;
  DamageGame game_;
};

}  // namespace

MatrixReport RunDamageMatrix(MatrixSize size, uint64_t seed, const fs::path& tool,
                             std::FILE* progress) {
  MatrixRunner runner(tool);
  const std::vector<DamageTarget> targets = PlanDamages(runner.game(), size, seed);
  MatrixReport report;
  // The undamaged installation must import, or every other verdict means nothing.
  report.runs.push_back(runner.Run(nullptr, nullptr));
  if (!report.runs.back().failure.empty()) return report;
  size_t total = 0;
  for (const DamageTarget& target : targets) total += target.damages.size();
  for (const DamageTarget& target : targets) {
    for (const Damage& damage : target.damages) {
      report.runs.push_back(runner.Run(&target, &damage));
      if (progress != nullptr && report.runs.size() % 250 == 0) {
        std::fprintf(progress, "  %zu of %zu runs\n", report.runs.size(), total + 1);
        std::fflush(progress);
      }
    }
  }
  return report;
}

size_t MatrixReport::FailureCount() const {
  return std::count_if(runs.begin(), runs.end(),
                       [](const RunOutcome& run) { return !run.failure.empty(); });
}

namespace {

struct KindCounts {
  size_t runs = 0, exit0 = 0, exit1 = 0, failures = 0;
};

std::string CountsTable(const std::vector<RunOutcome>& runs) {
  std::vector<std::string> order;
  std::map<std::string, KindCounts> counts;
  KindCounts total;
  for (const RunOutcome& run : runs) {
    if (!counts.contains(run.kind)) order.push_back(run.kind);
    for (KindCounts* c : {&counts[run.kind], &total}) {
      c->runs++;
      c->exit0 += run.exitCode == 0;
      c->exit1 += run.exitCode == 1;
      c->failures += !run.failure.empty();
    }
  }
  std::string text;
  char line[128];
  auto row = [&](const std::string& kind, const KindCounts& c) {
    std::snprintf(line, sizeof line, "%-14s %7zu %7zu %7zu %9zu\n", kind.c_str(), c.runs, c.exit0,
                  c.exit1, c.failures);
    text += line;
  };
  text += "file kind         runs  exit 0  exit 1  failures\n";
  for (const std::string& kind : order) row(kind, counts[kind]);
  row("total", total);
  return text;
}

std::string MessageTally(const std::vector<RunOutcome>& runs) {
  std::map<std::string, size_t> tally;
  for (const RunOutcome& run : runs) {
    if (run.message.empty()) continue;
    const bool prefixed = run.message.starts_with(kFailurePrefix);
    tally[prefixed ? run.message.substr(kFailurePrefix.size()) : run.message]++;
  }
  std::vector<std::pair<size_t, std::string>> sorted;
  for (const auto& [message, count] : tally) sorted.emplace_back(count, message);
  std::sort(sorted.rbegin(), sorted.rend());
  std::string text = "Failure lines of exit 1 (after \"" + kFailurePrefix + "\"):\n";
  for (const auto& [count, message] : sorted)
    text += "  " + std::to_string(count) + "  " + message + "\n";
  return text;
}

}  // namespace

std::string MatrixReport::Summary() const {
  std::string text = CountsTable(runs) + MessageTally(runs);
  if (FailureCount() == 0) return text + "No run broke the promise.\n";
  text += "Runs that broke the promise:\n";
  for (const RunOutcome& run : runs) {
    if (!run.failure.empty())
      text += "  " + run.kind + " " + run.damage + ": " + run.failure + "\n";
  }
  return text;
}

}  // namespace kestrine::test

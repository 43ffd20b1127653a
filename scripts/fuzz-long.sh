#!/usr/bin/env bash
# Fuzzes every target for a long while (FUZZ_LONG_SECONDS each, default 300),
# FUZZ_LONG_JOBS targets at a time (default 1). Every input that crashed, hung
# or leaked is copied into the target's corpus as "regression-<sha1>", so that
# CI's corpus replay keeps it as a regression case. Prints one line per target
# with its executions; exits 1 when any target found something.
# Usage: scripts/fuzz-long.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
seconds=${FUZZ_LONG_SECONDS:-300}
jobs=${FUZZ_LONG_JOBS:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

fuzz_one() {
  local target=$1 corpus="$root/fuzz/corpus/$1" work artifacts
  work=$(mktemp -d)
  artifacts=$(mktemp -d)
  cp "$corpus"/* "$work"/
  "$build/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" >"$logs/$target.log" 2>&1 || true
  local runs found=0
  runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$logs/$target.log" |
    grep -Eo '[0-9]+$' | tail -n 1)
  for artifact in "$artifacts"/*; do
    [[ -f "$artifact" ]] || continue
    found=$((found + 1))
    cp "$artifact" "$corpus/regression-$(sha1sum "$artifact" | cut -c1-40)"
  done
  printf 'fuzz_%-18s %12s executions in %ss, %d findings\n' "$target" "${runs:-?}" "$seconds" \
    "$found"
  rm -rf "$work" "$artifacts"
  [[ $found -eq 0 ]]
}
export -f fuzz_one
export build seconds root logs

targets=()
for corpus in "$root"/fuzz/corpus/*/; do
  target=$(basename "$corpus")
  [[ -x "$build/fuzz_$target" ]] || { echo "missing fuzz target $build/fuzz_$target" >&2; exit 1; }
  targets+=("$target")
done

echo "== fuzzing ${#targets[@]} targets for ${seconds}s each, $jobs at a time"
if printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'fuzz_one "$@"' _ {}; then
  echo "== no findings"
else
  echo "== findings were kept in fuzz/corpus/*/regression-*; the logs:" >&2
  for log in "$logs"/*.log; do
    grep -l -E 'ERROR|SUMMARY|crash|timeout' "$log" >/dev/null && tail -n 30 "$log" >&2
  done
  exit 1
fi

#!/usr/bin/env bash
# Replays every fuzz target's seed corpus with libFuzzer, then fuzzes each for
# a short while (FUZZ_SECONDS, default 0 = replay only).
# Usage: scripts/replay-fuzz.sh BUILD_DIR
set -euo pipefail
build=${1:?build dir}
seconds=${FUZZ_SECONDS:-0}
root=$(cd "$(dirname "$0")/.." && pwd)

for corpus in "$root"/fuzz/corpus/*/; do
  target=$(basename "$corpus")
  binary="$build/fuzz_$target"
  [[ -x "$binary" ]] || { echo "missing fuzz target $binary" >&2; exit 1; }
  echo "== fuzz_$target: replaying $(ls "$corpus" | wc -l) seeds"
  "$binary" -runs=0 "$corpus" 2>&1 | tail -n 2
  if [[ "$seconds" -gt 0 ]]; then
    work=$(mktemp -d)
    cp "$corpus"/* "$work"/
    "$binary" -max_total_time="$seconds" -max_len=4096 "$work" 2>&1 | tail -n 2
    rm -rf "$work"
  fi
done

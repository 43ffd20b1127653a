#!/bin/sh
# Profiles one open of the WoW benchmark storage and its first search, and
# prints the functions that cost the most. Uses perf when the kernel lets it
# sample, else callgrind on a smaller storage.
#
#   scripts/profile-wow-open.sh [BUILD_DIR] [FILES]
set -eu
build=${1:-build}
files=${2:-2000000}
bench="$build/wow_open_bench"
folder="$build/bench-wow"
[ -x "$bench" ] || { echo "build $bench first (ninja -C $build wow_open_bench)" >&2; exit 1; }
[ "$files" = 2000000 ] || folder="$build/bench-wow-$files"
"$bench" "$folder" "$files" --once >/dev/null  # generates the storage when needed
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if perf record -q -o "$out/perf.data" -F 999 -- "$bench" "$folder" "$files" --once; then
  perf report -i "$out/perf.data" --stdio --no-children --sort symbol 2>/dev/null |
    grep -v '^#' | grep -v '^$' | head -25
else
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
    "$bench" "$folder" "$files" --once
  callgrind_annotate "$out/callgrind.out" | head -40
fi

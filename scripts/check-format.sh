#!/usr/bin/env bash
# Checks that the tracked C and C++ sources are formatted as .clang-format
# says (fuzz corpora excluded). Prints the files that are not and fails;
# clang-format -i FILE fixes one.
# Usage: scripts/check-format.sh
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -d '' files < <(git ls-files -z -- '*.h' '*.hpp' '*.c' '*.cpp' ':!:fuzz/corpus/**')
# Each difference is reported as "FILE:LINE:COLUMN: error: code should be
# clang-formatted"; one run over all files, the file names taken from those.
report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1) && status=0 || status=$?
mapfile -t unformatted < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' \
                           <<<"$report" | sort -u)
if [[ $status -ne 0 && ${#unformatted[@]} -eq 0 ]]; then
  echo "$report" >&2
  echo "check-format: clang-format failed" >&2
  exit 1
fi
if [[ ${#unformatted[@]} -ne 0 ]]; then
  printf '%s\n' "${unformatted[@]}"
  echo "check-format: ${#unformatted[@]} of ${#files[@]} files are not formatted" \
       "(clang-format -i FILE fixes one)" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"

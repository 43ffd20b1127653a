#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it as an outside project
# would: builds tests/consumer once through the CMake package
# (find_package(kestrine), on the shared and on the static library) and once
# through pkg-config, and runs each on the demo installation. Also renders
# the installed man pages and checks that nothing installed names the
# source tree.
# Usage: scripts/check-install.sh [BUILD_DIR]   (default build; built already)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(cd "${1:-build}" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrine-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
library=$(find "$prefix" -name libkestrine.so.0 -print -quit)
[[ -n "$library" ]] || fail "no libkestrine.so.0 under $prefix"
libdir=$(dirname "$library")
echo "installed into $prefix (libraries in ${libdir#"$prefix"/})"

soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ "$soname" == libkestrine.so.0 ]] || fail "the shared library's SONAME is '$soname'"
# Every call the header marks for export is exported (the rest is hidden).
mapfile -t declared < <(grep -oE '^KESTRINE_API[^(]*[^a-z_]kestrine_[a-z0-9_]+\(' \
                          "$prefix/include/kestrine.h" | grep -oE 'kestrine_[a-z0-9_]+' | sort -u)
mapfile -t exported < <(nm -D --defined-only "$library" | awk '$2 == "T" {print $3}' | sort -u)
missing=$(comm -23 <(printf '%s\n' "${declared[@]}") <(printf '%s\n' "${exported[@]}"))
[[ ${#declared[@]} -gt 0 && -z "$missing" ]] || fail "the shared library does not export: $missing"
echo "exports: ${#declared[@]} calls of the header"
if grep -rlF "$source_dir" "$prefix/include" "$libdir/cmake" "$libdir/pkgconfig"; then
  fail "the files above name the source tree $source_dir"
fi

for page in kestrine kestrine-casc; do
  file="$prefix/share/man/man1/$page.1"
  warnings=$(groff -man -Tutf8 -ww -z "$file" 2>&1)
  [[ -z "$warnings" ]] || fail "$page.1 renders with warnings: $warnings"
  man -l "$file" 2>/dev/null | grep -q '^NAME' || fail "man -l $file shows no NAME section"
done
echo "man pages render: kestrine(1), kestrine-casc(1)"

storage="$build/demo/StarCraft"
if [[ ! -f "$storage/.build.info" ]]; then
  storage="$work/StarCraft"
  "$build/write_demo_installation" "$storage" >/dev/null
fi
expected="$("$build/kestrine-casc" list "$storage" | wc -l) files"

run() {  # run LABEL PROGRAM...: the consumer must count the explorer's files
  local output
  output=$("${@:2}") || fail "$1: $* failed"
  [[ "$output" == "$expected;"* ]] || fail "$1 printed '$output', expected '$expected; ...'"
  echo "$1: $output"
}

cmake -S tests/consumer -B "$work/cmake" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
ninja -C "$work/cmake" >/dev/null
ldd "$work/cmake/count_files" | grep -qF "$library" || fail "count_files does not load $library"
run "find_package, shared" "$work/cmake/count_files" "$storage"
ldd "$work/cmake/count_files_static" | grep -q libkestrine && fail "count_files_static loads libkestrine"
run "find_package, static" "$work/cmake/count_files_static" "$storage"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046  # the flags are separate words
c++ -std=c++17 -Wall -Wextra -Werror -o "$work/count_files_pc" tests/consumer/count_files.cpp \
  $(pkg-config --cflags --libs kestrine)
LD_LIBRARY_PATH="$libdir" run "pkg-config" "$work/count_files_pc" "$storage"
echo "check-install: passed"

#!/usr/bin/env bash
# The demo: generates (once) an installation laid out like the classic
# game's, runs the tool on it and shows what came out.
#
# The installation (testkit/demo_installation.cpp) is a real local CASC
# storage: ".build.info", build and CDN configuration files, 16 index files,
# a data archive of BLTE-encoded files, ENCODING and DOWNLOAD manifests and a
# plain-text root naming every file under "SD\" in mixed case. Beside the
# classic assets it holds decoys the import must leave out and sounds its
# sound table does not name. The generator also writes the bundle the import
# must produce, and the demo compares the two byte for byte.
set -uo pipefail
build=${1:-build}
tool="$build/kestrine"
writer="$build/write_demo_installation"
demo="$build/demo"
install="$demo/StarCraft"
expected="$demo/expected.kvrn"
bundle="$demo/classic-assets.kvrn"

for program in "$tool" "$writer"; do
  [[ -x "$program" ]] || { echo "demo: $program is missing; run 'make demo'" >&2; exit 1; }
done

echo "== kestrine demo"
if [[ ! -e "$demo/contents.txt" || "$writer" -nt "$demo/contents.txt" ]]; then
  rm -rf "$demo"
  mkdir -p "$demo"
  "$writer" "$install" "$expected" >"$demo/contents.txt" || exit 1
  echo "Generated the installation $install"
else
  echo "Installation (generated earlier): $install"
fi
echo "It holds $(cat "$demo/contents.txt")"
rm -f "$bundle"

echo "Running: $tool $install $bundle"
echo "---- tool output"
"$tool" "$install" "$bundle" 2>&1
status=$?
echo "---- exit code $status"
if [[ $status -ne 0 ]]; then
  echo "demo: the import failed (the line above says why)" >&2
  exit 1
fi

records=$(od -An -tu4 -j4 -N4 "$bundle" | tr -d ' ')
echo "The bundle is at $bundle: $(stat -c %s "$bundle") bytes, $records records."
if cmp -s "$bundle" "$expected"; then
  echo "It is identical, byte for byte, to the bundle the demo expects ($expected):"
  echo "exactly the classic assets, sorted by name; decoys and unnamed sounds left out."
else
  echo "demo: the bundle differs from the expected one at $expected" >&2
  exit 1
fi

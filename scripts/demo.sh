#!/usr/bin/env bash
# The demo: runs build/kestrine on a generated installation folder and says
# what happened.
#
# The storage reader under the tool is being built in steps. At this stage
# it opens an installation (build information, configuration files, index
# files) but cannot list its names yet; so the demo generates a small
# installation, runs the tool on it and shows the real failure line the
# tool prints there.
set -uo pipefail
build=${1:-build}
tool="$build/kestrine"
demo="$build/demo"
install="$demo/StarCraft"
bundle="$demo/classic-assets.kvrn"

[[ -x "$tool" ]] || { echo "demo: $tool is missing; run 'make demo'" >&2; exit 1; }
rm -rf "$demo"
mkdir -p "$demo"
"$build/write_demo_installation" "$install" >/dev/null || exit 1

echo "== kestrine demo"
echo "Installation (generated: .build.info, build and CDN configuration, 16 index files, one data archive):"
echo "  $install"
echo "Running: $tool $install $bundle"
echo "---- tool output"
"$tool" "$install" "$bundle" 2>&1
status=$?
echo "---- exit code $status"

if [[ $status -eq 0 ]]; then
  echo "The bundle is at $bundle ($(stat -c %s "$bundle") bytes)."
  exit 0
fi
if [[ -e "$bundle" ]]; then
  echo "demo: a failed import left a file at $bundle" >&2
  exit 1
fi
cat <<MSG
What happened: the tool opened the installation (it found the build file,
read the build information, checked and parsed both configuration files and
loaded the index files), then asked the storage for its file names. Listing
names needs the storage's root file and its decoder, which this build of
kestrine does not have yet, so the import stopped there with its one failure
line on standard error, exit code 1, and no bundle. The tool itself is at
$tool; 'make test' runs the import end to end over an in-memory storage.
MSG
exit 0

#!/usr/bin/env bash
# Installs the build and test dependencies that are missing, and nothing else.
# Usage: scripts/install-deps.sh [--fuzz]
#   --fuzz adds what CI needs beyond the tests: clang and its runtimes,
#   clang-format, and groff and man to render the man pages.
set -euo pipefail

packages=(g++ cmake ninja-build make pkg-config zlib1g-dev libgtest-dev libdeflate-dev libcli11-dev
          libcurl4-openssl-dev python3)
if [[ "${1:-}" == "--fuzz" ]]; then
  packages+=(clang libclang-rt-14-dev clang-format groff-base man-db)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing build dependencies: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

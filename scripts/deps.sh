#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
# Runs apt-get only when something is missing; needs root (or sudo).
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev binutils python3
          libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libopenimageio-dev
          libpng-dev libdeflate-dev libcpp-httplib-dev nlohmann-json3-dev pkg-config
          pybind11-dev python3-dev python3-numpy python3-pytest python3-openimageio
          slurm-wlm munge)  # the last two: the farm test's one-node Slurm cluster
if [[ "${1:-}" == "--demo" ]]; then
  packages+=(ffmpeg)
fi
# The browser tests of `vorn serve` (scripts/test-browser.sh); Node and npm
# come with the machine.
if [[ "${1:-}" == "--browser" ]]; then
  packages+=(chromium)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "deps: root needed to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

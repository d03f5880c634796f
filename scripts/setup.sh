#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then configures and builds
# one preset. Usage: scripts/setup.sh [PRESET]   (default: release)
set -euo pipefail
preset=${1:-release}
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
          libimath-dev nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
          libtinyobjloader-dev libembree-dev libtbb-dev libtinygltf-dev python3 python3-dev
          libboost1.81-dev
          chromium ffmpeg)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The viewer and tracker pages are bundled and tested with Node; a Node from elsewhere that brings its own npm
# serves as well as Debian's (whose npm package would conflict with it).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  sudo_cmd=(); [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"

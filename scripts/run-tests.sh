#!/usr/bin/env bash
# Installs what the tests need (apt-get, as root) when it is missing, builds
# everything with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

# ffmpeg, sox and sndfile-programs are the independent decoders the output
# is checked against.
packages=(cmake g++ libgtest-dev ffmpeg sox sndfile-programs)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build=build/test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPCM_ENCODER_WERROR=ON
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

#!/usr/bin/env bash
# Installs what the tests need (apt-get, as root) when it is missing, builds
# everything with warnings as errors (the program for Linux and, cross-built,
# pcm-encoder.exe for Windows) and runs every test, the .exe's under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

# ffmpeg, sox and sndfile-programs are the independent decoders the output
# is checked against; mingw-w64 builds the Windows program and Wine runs it;
# Google Benchmark builds the codec benchmark, so that it keeps building (it
# is run by hand, not here).
packages=(cmake g++ libgtest-dev libbenchmark-dev ffmpeg sox sndfile-programs g++-mingw-w64-x86-64 wine wine64)

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

windows_build=build/windows
cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DPCM_ENCODER_WERROR=ON -DPCM_ENCODER_BUILD_TESTS=OFF
cmake --build "$windows_build" -j"$(nproc)"

build=build/test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPCM_ENCODER_WERROR=ON \
  -DPCM_ENCODER_BUILD_BENCHMARKS=ON \
  -DPCM_ENCODER_WINDOWS_EXE="$PWD/$windows_build/pcm-encoder.exe"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

#!/usr/bin/env bash
# Installs what the tests need (apt-get, as root) when it is missing, builds
# everything with warnings as errors (the program for Linux and, cross-built,
# pcm-encoder.exe for Windows), makes the packages (the Windows zip and the
# .deb) and runs every test, the .exe's under Wine;
# then the native tests again in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer that encodes blocks without the vector lanes,
# and the libFuzzer targets for PCM_ENCODER_FUZZ_SECONDS each (30 unless set).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/apt.sh

# ffmpeg, sox and sndfile-programs are the independent decoders the output
# is checked against; mingw-w64 builds the Windows program and Wine runs it;
# clang and its runtimes build the fuzz targets; Google Benchmark builds the
# codec benchmark, so that it keeps building (it is run by hand, not here);
# dpkg-dev's dpkg-shlibdeps, with file, finds what the .deb depends on
# (nothing, the runtimes being linked in); lintian and man check the .deb and
# its manual; ffmpeg, sndfile-programs and python3 write the files of other
# tools that the program must take.
packages=(cmake make g++ libgtest-dev ffmpeg sox sndfile-programs g++-mingw-w64-x86-64 wine wine64
  clang-14 "$(available_package libclang-rt-14-dev libclang-common-14-dev)" libbenchmark-dev
  dpkg-dev file lintian man-db python3)
mapfile -t missing < <(missing_packages "${packages[@]}")
install_packages "${missing[@]}"

windows_build=build/windows
cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DPCM_ENCODER_WERROR=ON -DPCM_ENCODER_BUILD_TESTS=OFF
cmake --build "$windows_build" -j"$(nproc)"
cmake --build "$windows_build" --target package

# The .deb holds the program as a user builds it: Release, tests left out,
# hardened as Debian's packages are.
package_build=build/package
cmake -S . -B "$package_build" -DCMAKE_BUILD_TYPE=Release -DPCM_ENCODER_WERROR=ON \
  -DPCM_ENCODER_BUILD_TESTS=OFF -DPCM_ENCODER_HARDEN=ON
cmake --build "$package_build" -j"$(nproc)"
cmake --build "$package_build" --target package

build=build/test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPCM_ENCODER_WERROR=ON \
  -DPCM_ENCODER_BUILD_TESTS=ON -DPCM_ENCODER_BUILD_BENCHMARKS=ON \
  -DPCM_ENCODER_WINDOWS_EXE="$PWD/$windows_build/pcm-encoder.exe"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

# The Windows build's tests run no sanitized code, so they are left out here.
# This build encodes blocks one after the other, so that the whole native
# suite runs once on that path and once (above) on the vector lanes.
sanitize=build/sanitize
cmake -S . -B "$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPCM_ENCODER_WERROR=ON \
  -DPCM_ENCODER_BUILD_TESTS=ON -DPCM_ENCODER_SANITIZE=ON -DPCM_ENCODER_FORCE_SCALAR=ON
cmake --build "$sanitize" -j"$(nproc)"
ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$sanitize" --output-on-failure -j"$(nproc)" --exclude-regex '^wine|^windows_'

fuzz=build/fuzz
cmake -S . -B "$fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPCM_ENCODER_WERROR=ON \
  -DCMAKE_CXX_COMPILER=clang++-14 -DPCM_ENCODER_BUILD_TESTS=OFF -DPCM_ENCODER_FUZZ=ON \
  -DPCM_ENCODER_FUZZ_SECONDS="${PCM_ENCODER_FUZZ_SECONDS:-30}"
cmake --build "$fuzz" -j"$(nproc)"
ctest --test-dir "$fuzz" --output-on-failure -j"$(nproc)"
# How much each target was fuzzed, for the log.
grep -E "(Testing: fuzz_|^Done [0-9]+ runs)" "$fuzz/Testing/Temporary/LastTest.log"

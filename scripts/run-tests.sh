#!/usr/bin/env bash
# Builds everything with warnings as errors (the program for Linux and,
# cross-built, pcm-encoder.exe for Windows), makes the packages (the Windows
# zip and the .deb) and runs every test, the .exe's under Wine; then the
# native tests again in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer on the scalar path, and the libFuzzer targets for
# PCM_ENCODER_FUZZ_SECONDS each (30 unless set). The builds are the presets
# of CMakePresets.json.
#
# As root it first installs (apt-get) whatever the tests need that is
# missing. As anyone else it installs nothing: it runs what it can, and a
# build whose packages are missing is reported as skipped, and so are the
# tests that need a missing tool (in ctest's list of tests not run). It
# fails only when a build or a test that ran failed, or when not even the
# program can be built.
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
build_packages=(cmake make g++)
test_packages=(libgtest-dev)
windows_packages=(g++-mingw-w64-x86-64)
package_packages=(dpkg-dev file)
fuzz_packages=(clang-14 "$(available_package libclang-rt-14-dev libclang-common-14-dev)")
benchmark_packages=(libbenchmark-dev)
tool_packages=(ffmpeg sox sndfile-programs wine wine64 lintian man-db python3)
mapfile -t missing < <(missing_packages "${build_packages[@]}" "${test_packages[@]}" \
  "${windows_packages[@]}" "${package_packages[@]}" "${fuzz_packages[@]}" \
  "${benchmark_packages[@]}" "${tool_packages[@]}")
if ((EUID == 0)); then
  install_packages "${missing[@]}"
  missing=()
elif ((${#missing[@]})); then
  echo "Not root, so nothing is installed; missing: ${missing[*]}"
  echo "(as root: apt-get update && apt-get install -y --no-install-recommends ${missing[*]})"
fi

skipped=()
# Whether none of the given packages is missing; if some are, the build
# `what` is noted as skipped.
have() {
  local what=$1 package lacking=()
  shift
  for package; do
    [[ " ${missing[*]} " == *" $package "* ]] && lacking+=("$package")
  done
  ((${#lacking[@]} == 0)) && return 0
  skipped+=("$what (needs ${lacking[*]})")
  return 1
}

jobs=$(nproc)
configure() { cmake --preset "$@"; }
build() { cmake --build --preset "$1" -j"$jobs"; }

have "everything" "${build_packages[@]}" || {
  echo "$0: cannot build anything without ${build_packages[*]}" >&2
  exit 1
}

# A build that is skipped leaves its tests nothing to find, so that they
# show as skipped rather than try what an earlier run left in its folder.
nowhere=$PWD/build/skipped
test_settings=()
if have "the Windows build and its Wine tests" "${windows_packages[@]}"; then
  configure windows
  build windows
  build windows-package
else
  test_settings+=(-DPCM_ENCODER_WINDOWS_EXE="$nowhere/pcm-encoder.exe"
    -DPCM_ENCODER_ZIP_FOLDER="$nowhere")
fi

# The .deb holds the program as a user builds it: Release, tests left out,
# hardened as Debian's packages are.
if have "the .deb" "${package_packages[@]}"; then
  configure package
  build package
  build deb
else
  test_settings+=(-DPCM_ENCODER_DEB_FOLDER="$nowhere")
fi

# Without GoogleTest the program is still built, in the tests' folder.
tests=ON
have "the tests" "${test_packages[@]}" || tests=OFF
benchmarks=ON
have "the codec benchmark's build" "${benchmark_packages[@]}" || benchmarks=OFF
configure test -DPCM_ENCODER_BUILD_TESTS=$tests -DPCM_ENCODER_BUILD_BENCHMARKS=$benchmarks \
  ${test_settings[@]+"${test_settings[@]}"}
build test
if [[ $tests == ON ]]; then
  ctest --preset test -j"$jobs"

  # The Windows build's tests run no sanitized code, so they are left out
  # there. It encodes on the scalar path, so that the whole native suite
  # runs once on that path and once (above) in the SSE2 lanes.
  configure sanitize
  build sanitize
  ctest --preset sanitize -j"$jobs"
fi

if have "the fuzz targets" "${fuzz_packages[@]}"; then
  configure fuzz -DPCM_ENCODER_FUZZ_SECONDS="${PCM_ENCODER_FUZZ_SECONDS:-30}"
  build fuzz
  ctest --preset fuzz -j"$jobs"
  # How much each target was fuzzed, for the log.
  grep -E "(Testing: fuzz_|^Done [0-9]+ runs)" build/fuzz/Testing/Temporary/LastTest.log
fi

for what in "${skipped[@]}"; do echo "Skipped: $what"; done

#!/usr/bin/env bash
# Builds the program, optimised, in build/ and converts the bundled example
# into examples/Enc_hello.wav. What building needs (cmake, make, g++) is
# installed with apt-get when it is missing, as root; nothing that only the
# tests need.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/apt.sh

# By command, not by Debian package: what the build runs is what counts,
# however it was installed.
declare -A package_of=([cmake]=cmake [make]=make [g++]=g++)
missing=()
for command in cmake make g++; do
  command -v "$command" >/dev/null || missing+=("${package_of[$command]}")
done
install_packages "${missing[@]}"

# A configure that found no C++ compiler leaves a cache in build/ that builds
# unoptimised ever after: if one was run before g++ was installed, remove
# build/ and run this again.
build=build

# The release preset: only the program, and the compressed manual and
# documents that `cmake --install build` puts beside it; the tests are built
# and run by scripts/run-tests.sh.
cmake --preset release
cmake --build --preset release -j"$(nproc)"
"$build/pcm-encoder" examples/hello.wav </dev/null
echo "Converted examples/hello.wav into examples/Enc_hello.wav"

#!/usr/bin/env bash
# Sets up, builds the plain, the sanitizer and the fuzzing trees, runs the fuzz targets briefly
# and every test in the other two.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

build_tree build-asan -DCMAKE_BUILD_TYPE=Debug -DVORSEL_SANITIZE=ON
build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The fuzz targets need clang; this tree builds only them and their libraries.
CC=clang CXX=clang++ cmake -S "$repository_root" -B "$repository_root/build-fuzz" -G Ninja \
    -DVORSEL_FUZZ=ON >/dev/null
cmake --build "$repository_root/build-fuzz" -j "$(nproc)" \
    --target fuzz_frame_readers fuzz_frame_writers fuzz_response_report

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== fuzz targets, briefly, on their seed corpus"
ctest --test-dir "$repository_root/build-fuzz" -L fuzz --output-on-failure -j "$(nproc)"
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --test-dir "$repository_root/build-asan" --output-on-failure -j "$(nproc)"
echo "== tests"
ctest --test-dir "$repository_root/build" --output-on-failure -j "$(nproc)"

#!/usr/bin/env bash
# Sets up, builds the plain, the sanitizer and the fuzzing trees, runs the fuzz targets briefly
# and every test in the other two.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing "${demo_packages[@]}" "${test_packages[@]}"
install_missing "$(clang_runtime_package)"

configure_tree build-asan -DCMAKE_BUILD_TYPE=Debug -DVORSEL_SANITIZE=ON -DBUILD_TESTING=ON
build_targets build-asan
configure_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DVORSEL_BENCHMARKS=ON
build_targets build

# The fuzz targets need clang; this tree builds only them and their libraries.
CC=clang CXX=clang++ configure_tree build-fuzz -DVORSEL_FUZZ=ON -DBUILD_TESTING=ON
build_targets build-fuzz fuzz_frame_readers fuzz_frame_writers fuzz_response_report \
    fuzz_value_parsers

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== fuzz targets, briefly, on their seed corpus"
ctest --test-dir "$repository_root/build-fuzz" -L fuzz --output-on-failure -j "$(nproc)"
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --test-dir "$repository_root/build-asan" --output-on-failure -j "$(nproc)"
echo "== tests"
ctest --test-dir "$repository_root/build" --output-on-failure -j "$(nproc)"

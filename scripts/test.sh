#!/usr/bin/env bash
# Sets up, builds the plain and the sanitizer trees, and runs every test in both.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

build_tree build-asan -DCMAKE_BUILD_TYPE=Debug -DVORSEL_SANITIZE=ON
build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --test-dir "$repository_root/build-asan" --output-on-failure -j "$(nproc)"
echo "== tests"
ctest --test-dir "$repository_root/build" --output-on-failure -j "$(nproc)"

#!/usr/bin/env bash
# Installs the packages the build and the tests need, only those that are missing.
# Sourced by demo.sh and test.sh; defines build_tree for them.
set -euo pipefail

required_packages=(
    cmake ninja-build g++ pkg-config
    qtbase5-dev libqt5serialport5-dev
    libgtest-dev libbenchmark-dev
    clang libclang-rt-14-dev
    valgrind
    dpkg-dev file groff-base
)

missing_packages=()
for package in "${required_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing_packages+=("$package")
    fi
done
if ((${#missing_packages[@]} > 0)); then
    echo "Installing: ${missing_packages[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y --no-install-recommends "${missing_packages[@]}" >/dev/null
fi

# build_tree DIR [CMAKE_ARGS...]: configure and build the whole tree into DIR.
build_tree() {
    local directory=$1
    shift
    cmake -S "$repository_root" -B "$repository_root/$directory" -G Ninja "$@" >/dev/null
    cmake --build "$repository_root/$directory" -j "$(nproc)"
}

repository_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

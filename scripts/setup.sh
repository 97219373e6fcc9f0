#!/usr/bin/env bash
# Package lists and helpers for demo.sh and test.sh, which source this file.
set -euo pipefail

# What building the two programs needs; enough for a plain `cmake -B build && cmake --build build`
# too, which uses make.
demo_packages=(
    cmake make ninja-build g++
    qtbase5-dev libqt5serialport5-dev
)
# What the tests, benchmarks, fuzz targets and the package need besides. clang's sanitizer and
# fuzzer runtime follows once clang is there (clang_runtime_package).
test_packages=(
    libgtest-dev libbenchmark-dev
    clang
    dpkg-dev file groff-base lintian
)

# install_missing PACKAGE...: installs those of the packages that are not installed yet.
install_missing() {
    local package missing=()
    for package; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if [[ -z ${package_lists_updated-} ]]; then
        apt-get update -qq
        package_lists_updated=yes
    fi
    apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
}

# clang_runtime_package: the package of the sanitizer and fuzzer runtime of the installed clang,
# which is named after its major version.
clang_runtime_package() {
    local version
    version=$(clang -dumpversion)
    echo "libclang-rt-${version%%.*}-dev"
}

# configure_tree DIR [CMAKE_ARGS...]: configures the tree into DIR.
configure_tree() {
    local directory=$1
    shift
    cmake -S "$repository_root" -B "$repository_root/$directory" -G Ninja "$@" >/dev/null
}

# build_targets DIR [TARGET...]: builds the TARGETs of the tree in DIR, or all of it.
build_targets() {
    local directory=$1
    shift
    if (($# > 0)); then
        cmake --build "$repository_root/$directory" -j "$(nproc)" --target "$@"
    else
        cmake --build "$repository_root/$directory" -j "$(nproc)"
    fi
}

repository_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

#!/usr/bin/env bash
# Builds the Debian package of a build tree: lintian finds no error or warning, the licence and
# the changelog of the version are in it, every library its programs link comes from a package
# that it depends on, and the programs run from a scratch folder it is unpacked into (dpkg -x).
# Usage: package_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build_dir=$1 source_dir=$2 version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

log=$(cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" 2>&1) ||
    fail "cpack: $log"
deb=$scratch/out/vorsel_${version}_$(dpkg --print-architecture).deb
depends=$(dpkg-deb -f "$deb" Depends) || fail "no $(basename "$deb"): $log"
echo "Depends: $depends"
# The package names in Depends, one a line, without versions; alternatives count too.
depended=$(sed -e 's/ *([^)]*)//g' -e 's/ *[,|] */\n/g' <<<"$depends")

lintian --fail-on error,warning "$deb" || fail "lintian finds fault with the package"
dpkg -x "$deb" "$scratch/root"
doc=$scratch/root/usr/share/doc/vorsel
# The licence as the copyright file's continuation lines: indented, an empty line as " .".
[[ $(<"$doc/copyright") == *"$(sed -e 's/^$/./' -e 's/^/ /' "$source_dir/LICENSE")"* ]] ||
    fail "the copyright file does not hold LICENSE"
[[ $(gzip -dc "$doc/changelog.gz" | head -n 1) == "vorsel ($version) "* ]] || fail "changelog.gz"
for program in vorsel vorsel-sim; do
    binary=$scratch/root/usr/bin/$program
    ! readelf -d "$binary" | grep -E '\((RPATH|RUNPATH)\)' || fail "$program has a search path"
    for library in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        path=$(ldd "$binary" | awk -v name="$library" '$1 == name { print $3 }')
        owner=$({ dpkg -S "$path" || dpkg -S "$(realpath "$path")" || dpkg -S "/usr$path"; } \
            2>/dev/null) ||
            fail "$program: no package owns $library ($path)"
        grep -qxF "${owner%%:*}" <<<"$depended" ||
            fail "$program links $library of ${owner%%:*}, which Depends does not name"
    done
done
[[ $("$scratch/root/usr/bin/vorsel" --version) == "vorsel $version" ]] || fail "vorsel --version"
"$scratch/root/usr/bin/vorsel-sim" --help >/dev/null || fail "vorsel-sim --help"

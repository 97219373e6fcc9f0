#!/usr/bin/env bash
# Builds the Debian package of a build tree, checks its control data and contents, unpacks it
# with dpkg -x into a scratch folder and runs the programs from there.
# Usage: package_test.sh BUILD_DIR VERSION
set -euo pipefail
build_dir=$1 version=$2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$scratch/out/vorsel_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $(basename "$deb") in: $(ls "$scratch/out")"

[[ $(dpkg-deb -f "$deb" Package) == vorsel ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The package names in Depends, one a line, without versions; alternatives count too.
depended=$(sed -e 's/ *([^)]*)//g' -e 's/ *[,|] */\n/g' <<<"$depends")

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/vorsel ./usr/bin/vorsel-sim ./usr/share/man/man1/vorsel.1.gz \
    ./usr/share/man/man1/vorsel-sim.1.gz ./usr/share/bash-completion/completions/vorsel \
    ./usr/share/bash-completion/completions/vorsel-sim; do
    grep -qxF "$path" <<<"$contents" || fail "$path is not in the package"
done

root=$scratch/root
dpkg -x "$deb" "$root"

# Every library the programs link must come from a package that the package depends on.
for program in vorsel vorsel-sim; do
    binary=$root/usr/bin/$program
    if readelf -d "$binary" | grep -qE '\((RPATH|RUNPATH)\)'; then
        fail "$program carries a library search path"
    fi
    for library in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        path=$(ldd "$binary" | awk -v name="$library" '$1 == name {print $3}')
        [[ -n $path ]] || fail "$program: $library not found"
        owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null ||
            dpkg -S "/usr$path" 2>/dev/null) || fail "$program: no package owns $path"
        owner=${owner%%:*}
        grep -qxF "$owner" <<<"$depended" ||
            fail "$program links $library from $owner, which Depends does not name"
    done
done

[[ $("$root/usr/bin/vorsel" --version) == "vorsel $version" ]] || fail "vorsel --version"
"$root/usr/bin/vorsel-sim" --help >"$scratch/help.txt" || fail "vorsel-sim --help"
[[ $(head -n 1 "$scratch/help.txt") == "Usage: "*vorsel-sim* ]] || fail "vorsel-sim --help output"
echo "unpacked and ran: $(basename "$deb")"

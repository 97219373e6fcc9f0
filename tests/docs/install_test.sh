#!/usr/bin/env bash
# Installs a build tree into a scratch prefix and checks what arrives: exactly the programs, their
# man pages and their completion scripts, each as in the source tree, and programs that run.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build_dir=$1 source_dir=$2 version=$3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$build_dir" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }

expected="bin/vorsel
bin/vorsel-sim
share/bash-completion/completions/vorsel
share/bash-completion/completions/vorsel-sim
share/man/man1/vorsel-sim.1.gz
share/man/man1/vorsel.1.gz"
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[[ $installed == "$expected" ]] || fail "installed files differ:"$'\n'"$installed"

for program in vorsel vorsel-sim; do
    gzip -dc "$prefix/share/man/man1/$program.1.gz" | cmp -s - "$source_dir/docs/man/$program.1" ||
        fail "the installed $program(1) is not the source page"
    cmp -s "$prefix/share/bash-completion/completions/$program" \
        "$source_dir/docs/completion/$program.bash" ||
        fail "the installed completion for $program is not the source script"
    registration=$(bash --noprofile --norc -c \
        "source '$prefix/share/bash-completion/completions/$program' && complete -p $program") ||
        fail "the completion script for $program does not load"
    [[ $registration == "complete -F "* ]] || fail "unexpected registration: $registration"
done

[[ $("$prefix/bin/vorsel" --version) == "vorsel $version" ]] || fail "vorsel --version"
"$prefix/bin/vorsel-sim" --help >"$scratch/help.txt" || fail "vorsel-sim --help"
[[ $(head -n 1 "$scratch/help.txt") == "Usage: "*vorsel-sim* ]] || fail "vorsel-sim --help output"
echo "installed: $(echo "$installed" | tr '\n' ' ')"

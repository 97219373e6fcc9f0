#!/usr/bin/env bash
# Installs a build tree into a scratch prefix: exactly the programs, their man pages, completion
# scripts and documents arrive, the pages and scripts as in the source tree, and the programs run
# from there.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build_dir=$1 source_dir=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

log=$(cmake --install "$build_dir" --prefix "$prefix" 2>&1) || fail "cmake --install: $log"
installed=$(cd "$prefix" && find . ! -type d | LC_ALL=C sort)
diff - <(echo "$installed") <<'LIST' || fail "installed (>) and expected (<) differ"
./bin/vorsel
./bin/vorsel-sim
./share/bash-completion/completions/vorsel
./share/bash-completion/completions/vorsel-sim
./share/doc/vorsel/README.md.gz
./share/doc/vorsel/changelog.gz
./share/doc/vorsel/copyright
./share/man/man1/vorsel-sim.1.gz
./share/man/man1/vorsel.1.gz
LIST
for program in vorsel vorsel-sim; do
    gzip -dc "$prefix/share/man/man1/$program.1.gz" | cmp - "$source_dir/docs/man/$program.1" ||
        fail "the installed $program(1) is not the source page"
    cmp "$prefix/share/bash-completion/completions/$program" \
        "$source_dir/docs/completion/$program.bash" || fail "the installed completion of $program"
    "$prefix/bin/$program" --help >/dev/null || fail "the installed $program does not run"
done

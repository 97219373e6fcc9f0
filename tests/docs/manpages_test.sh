#!/usr/bin/env bash
# The man pages against the programs: the OPTIONS of each page tag exactly the options that
# --help lists ("-t, --target device" for "-t, --target <device>"), the pages render without
# warnings and carry the program's version, and vorsel(1) has the README's behaviour notes.
# Usage: manpages_test.sh SOURCE_DIR VERSION VORSEL VORSEL_SIM
set -euo pipefail
source_dir=$1 version=$2
status=0

fail() {
    echo "FAIL: $*" >&2
    status=1
}

for program in "$3" "$4"; do
    page=$source_dir/docs/man/$(basename "$program").1
    listed=$("$program" --help | sed -n '/^Options:$/,/^$/p' |
        sed -nE 's/^  ((-\w, )?--[a-z-]+( <[^>]+>)?)( .*)?$/\1/p' | tr -d '<>' | LC_ALL=C sort)
    # The line after each .TP of OPTIONS that starts with an option, font changes dropped.
    tagged=$(awk '/^\.SH / { section = $2 }
                  section == "OPTIONS" && previous == ".TP" && /^\\fB\\-/ { print }
                  { previous = $0 }' "$page" | sed -E 's/\\f[BIRP]//g; s/\\-/-/g' | LC_ALL=C sort)
    diff <(echo "$listed") <(echo "$tagged") ||
        fail "$page: OPTIONS (>) and --help (<) differ"
    warnings=$(groff -t -man -ww -z "$page" 2>&1) || fail "$page: groff failed"
    [[ -z $warnings ]] || fail "$page: $warnings"
    grep -q "^\.TH [^ ]* 1 [^ ]* \"vorsel $version\"" "$page" || fail "$page: not version $version"
done

# The numbered notes, word by word: the README's and the rendered ones of vorsel(1).
readme_notes=$(sed -n '/^## Behaviour notes$/,/^## [^B]/p' "$source_dir/README.md" |
    sed -n '/^1\. /,/^$/p' | tr -d '`' | grep -oE '\S+')
page_notes=$(groff -man -Tascii -rLL=1000n -rHY=0 -P-cbou "$source_dir/docs/man/vorsel.1" |
    sed -n '/^NOTES$/,/^[A-Z]/p' | sed -n '/^ *1\. /,/^[A-Z]/p' | sed '$d' | grep -oE '\S+')
[[ -n $page_notes ]] || fail "vorsel(1): no notes rendered"
diff <(echo "$readme_notes") <(echo "$page_notes") ||
    fail "the behaviour notes of README.md (<) and vorsel(1) (>) differ"
exit $status

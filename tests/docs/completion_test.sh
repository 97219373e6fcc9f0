#!/usr/bin/env bash
# The bash completion scripts, called the way bash calls them: "-" and "--" offer exactly the
# options that --help lists, a short option offers what its long form does, --target offers the
# simulator's pty and paths, and every value offered for a key option is one the programs take.
# Usage: completion_test.sh SOURCE_DIR VORSEL VORSEL_SIM
set -euo pipefail
source_dir=$1 vorsel=$2 simulator=$3
# A loopback address of this run's own, so that a run of another build tree never answers here.
address=127.$((1 + $$ / 254 % 254)).$((1 + $$ % 254)).2
status=0

fail() {
    echo "FAIL: $*" >&2
    status=1
}

# What the completion of PROGRAM offers for WORDS..., the last one being completed, one a line.
offered() {
    bash --noprofile --norc -c '
        source "$1" || exit 1
        shift
        COMP_WORDS=("$@") COMP_CWORD=$(($# - 1))
        registration=$(complete -p "$1") || exit 1
        registration=${registration#*-F }
        "${registration%% *}" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' \
        driver "$source_dir/docs/completion/$1.bash" "$@" 2>&1
}

for path in "$vorsel" "$simulator"; do
    program=$(basename "$path")
    # "--target -t", or "--nak -" for an option without a short name.
    options=$("$path" --help | sed -n '/^Options:$/,/^$/p' |
        sed -nE 's/^  (-(\w), )?(--[a-z-]+).*/\3 -\2/p')
    [[ -n $options ]] || fail "$program --help lists no options"
    long=$(awk '{ print $1 }' <<<"$options" | LC_ALL=C sort)
    all=$(tr ' ' '\n' <<<"$options" | grep -vx -- - | LC_ALL=C sort)
    diff <(echo "$long") <(offered "$program" --) || fail "$program --: --help (<) and offered (>)"
    diff <(echo "$all") <(offered "$program" -) || fail "$program -: --help (<) and offered (>)"
    # Ptys come and go with whatever else runs, so they are left out of the comparison.
    while read -r long_name short_name; do
        [[ $short_name == - ]] ||
            [[ $(offered "$program" "$short_name" "" | grep -v ^/dev/pts/) == \
                $(offered "$program" "$long_name" "" | grep -v ^/dev/pts/) ]] ||
            fail "$program $short_name does not offer what $long_name does"
    done <<<"$options"
done
[[ $(offered vorsel --output-format = "") == $(offered vorsel --output-format "") ]] ||
    fail "vorsel --output-format= does not offer the levels"

scratch=$(mktemp -d)
coproc simulation { exec "$simulator" --listen "$address" --pty --link "$scratch/v640"; }
trap 'kill $simulation_PID 2>/dev/null; wait; rm -rf "$scratch"' EXIT
pty=
while IFS= read -r -t 10 line <&"${simulation[0]}" && [[ $line != ready ]]; do
    [[ $line == "pty "* ]] && pty=${line#pty }
done
[[ $line == ready && -n $pty ]] || { echo "FAIL: vorsel-sim did not get ready" >&2; exit 1; }

grep -qxF "$pty" <(offered vorsel --target "") || fail "--target does not offer the pty $pty"
[[ $(offered vorsel -t "$scratch/v6") == "$scratch/v640" ]] || fail "-t does not complete paths"

# Each value as vorsel runs it: option, then what else the run needs.
while read -r option rest; do
    values=$(offered vorsel "$option" "")
    [[ -n $values ]] || fail "nothing offered for $option"
    for value in $values; do
        output=$("$vorsel" --target "$address" -i 10000 "$option" "$value" $rest 2>&1) &&
            [[ $output != NG:* ]] || fail "vorsel $option $value $rest: $output"
    done
done <<'EOF'
--node-number --get-model-number
--baud-rate --get-model-number
--timeout-interval --get-model-number
--output-format --get-model-number
--read
--byte-write 00
--set-subnet-mask
--wait --get-model-number
--retries --get-model-number
EOF
"$vorsel" --target "$scratch/v640" --get-model-number >/dev/null || fail "the completed link"

for node in $(offered vorsel-sim --node ""); do
    "$simulator" --pty --node "$node" <<<quit >/dev/null || fail "vorsel-sim --node $node"
done
addresses=$(offered vorsel-sim --listen "")
[[ -n $addresses ]] && ! grep -vq '^127\.' <<<"$addresses" || fail "--listen offers $addresses"
exit $status

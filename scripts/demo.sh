#!/usr/bin/env bash
# Sets up, builds, and shows vorsel at work against the bundled simulator.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing "${demo_packages[@]}"
configure_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
build_targets build vorsel vorsel-sim
echo

# The simulator serves on a loopback address only; nothing here reaches any other host.
simulator="$repository_root/build/sim/vorsel-sim"
address=
simulator_pid=
simulator_output=$(mktemp)
simulator_errors=$(mktemp)

stop_simulator() {
    exec 3>&- 4>&- 2>/dev/null || true
    if [[ -n $simulator_pid ]] && kill -0 "$simulator_pid" 2>/dev/null; then
        kill -TERM "$simulator_pid"
        wait "$simulator_pid" || true
    fi
    rm -f "$simulator_output" "$simulator_errors"
}
trap stop_simulator EXIT
trap 'exit 130' INT TERM

# readiness_line WORD: the value of the simulator's readiness line that starts with WORD.
readiness_line() {
    sed -n "s/^$1 //p" "$simulator_output"
}

# exchange MESSAGE: sends MESSAGE as one frame on the open program connection and shows the
# response (frames end with CR, which is shown as a line end here).
exchange() {
    local response
    printf '%s\r' "$1" >&3
    if ! IFS= read -r -d $'\r' -t 5 response <&3; then
        echo "No response to $1 within 5 s." >&2
        exit 1
    fi
    printf '  program -> %-30s simulator -> %s\n' "$1" "$response"
}

# control COMMAND: one command on the simulator's control channel, and its reply.
control() {
    local reply
    printf '%s\n' "$1" >&4
    if ! IFS= read -r -t 5 reply <&4; then
        echo "No reply to $1 within 5 s." >&2
        exit 1
    fi
    printf '  control: %-28s reply: %s\n' "$1" "$reply"
}

# start_simulator ADDRESS: starts the simulator on ADDRESS and waits for it to be ready (10 s at
# most). Fails with status 2 when something else holds port 7090 there.
start_simulator() {
    "$simulator" --listen "$1" --control 0 </dev/null >"$simulator_output" 2>"$simulator_errors" &
    simulator_pid=$!
    for _ in $(seq 100); do
        if grep -qx ready "$simulator_output"; then
            return 0
        fi
        kill -0 "$simulator_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$simulator_pid" 2>/dev/null || true
    wait "$simulator_pid" || true
    simulator_pid=
    if grep -qF "cannot listen on $1:7090" "$simulator_errors"; then
        return 2
    fi
    echo "The simulator did not start:" >&2
    cat "$simulator_errors" >&2
    exit 1
}

# The tour's simulator serves on 127.0.0.2, which the demo then leaves to it. 127.0.0.3 is kept
# for a target where nothing listens.
echo "== Starting the simulator on a free loopback address"
for candidate in 127.0.0.2 127.0.0.{4..9}; do
    status=0
    start_simulator "$candidate" || status=$?
    if ((status == 0)); then
        address=$candidate
        break
    fi
    echo "  $candidate:7090 is taken"
done
if [[ -z $address ]]; then
    echo "Port 7090 is taken on 127.0.0.2 and on 127.0.0.4 to 127.0.0.9." >&2
    exit 1
fi
echo "  $address is free: the demo runs against it"
sed 's/^/  /' "$simulator_output"
control_address=$(readiness_line control)

echo
echo "== Frames over TCP port 7090 (unaddressed: message and CR)"
exec 3<>"/dev/tcp/$address/7090"
exec 4<>"/dev/tcp/${control_address%:*}/${control_address##*:}"
exchange 1401
exchange 1402
exchange 0200000000040123456789ABCDEF
exchange 010000000004
echo
echo "== A fault switched on between two commands"
control "fault no-tag on"
exchange 010000000004
control "fault clear"
exchange 010000000004
# The unit serves one client at a time: hand the link over before anything else connects.
exec 3>&-

# run ARGUMENTS...: shows and runs one vorsel command against the simulator, and its exit status.
vorsel="$repository_root/build/app/vorsel"
run() {
    local output status=0
    printf '\n  $ vorsel %s\n' "$*"
    output=$("$vorsel" "$@" 2>&1) || status=$?
    if [[ -n $output ]]; then
        printf '%s\n' "$output" | sed 's/^/  /'
    fi
    printf '  (exit status %d)\n' "$status"
}

echo
echo "== vorsel against the simulator (every call names the simulator with --target)"
run --target "$address" --get-model-number
run --target "$address" --get-firmware-version
run --target "$address" --write 1,2 0123456789abcdef FEDCBA9876543210
run --target "$address" --same-write 3,4 1111222233334444
run --target "$address" --byte-write 1C 5AA5
run --target "$address" --read 1,2,3,4
run --target "$address" --output-format 2 --read 1
run --target "$address" --set-ip-address 192.168.1.50
run --target "$address" --get-ip-address-in-rom
run --target "$address" --get-communications-history

echo
echo "== Interactive mode: one frame message per line on standard input"
printf '  $ printf '"'"'1401\\n15\\n'"'"' | vorsel --target %s --output-format 2\n' "$address"
printf '1401\n15\n' | "$vorsel" --target "$address" --output-format 2 | sed 's/^/  /'

echo
echo "== Scripting with exit statuses"
echo "  No tag in the field: the error end is printed; only --error-abort makes it status 2."
control "fault no-tag on"
run --target "$address" --read 1
run --target "$address" --error-abort --read 1
control "fault clear"
echo
echo "  Page 0 does not exist: status 3, nothing sent."
run --target "$address" --read 0
echo
echo "  Nothing listens on 127.0.0.3: status 4, and --verbose says why."
run --target 127.0.0.3 --timeout-interval 1000 --verbose --get-model-number
echo
echo "  For scripts: JSON Lines, one object per exchange."
run --target "$address" -o json --get-firmware-version

echo
echo "== Stopping the simulator"
exec 4>&-
kill -TERM "$simulator_pid"
status=0
wait "$simulator_pid" || status=$?
simulator_pid=
echo "  vorsel-sim ended with status $status"
exit "$status"

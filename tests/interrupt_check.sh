#!/usr/bin/env bash
# Ctrl-C as a user at the terminal gives it, in real time (--sim-realtime):
# once during the flash the run warns and completes; twice it aborts with the
# failure banner; outside the flash the first one ends the run at once.
# Usage: interrupt_check.sh FLASH_TOOL_SIM
set -euo pipefail
# Job control: a background job of a script otherwise starts with SIGINT
# ignored, as a shell leaves it to jobs it cannot stop.
set -m
sim=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0

# run NAME EXPECTED_STATUS WAIT_FOR_TEXT INTERRUPTS SIM_ARGS...
run() {
    local name=$1 expected=$2 text=$3 count=$4
    shift 4
    "$sim" "$@" >"$dir/$name.out" 2>"$dir/$name.err" </dev/null &
    local pid=$! i
    for ((i = 0; i < 100; ++i)); do
        grep -q "$text" "$dir/$name.out" 2>/dev/null && break
        sleep 0.05
    done
    for ((i = 0; i < count; ++i)); do
        kill -INT "$pid" 2>/dev/null || true
        sleep 0.2
    done
    local status=0
    wait "$pid" || status=$?
    if [ "$status" != "$expected" ]; then
        echo "$name: exit status $status, expected $expected"
        sed 's/^/  | /' "$dir/$name.out" "$dir/$name.err"
        failed=1
    fi
}

# expect NAME FILE TEXT: FILE (out or err) of the run holds TEXT.
expect() {
    if ! grep -qF -- "$3" "$dir/$1.$2"; then
        echo "$1: no '$3' in its standard ${2/err/error}"
        failed=1
    fi
}

flash=(-n -s --sim-realtime --sim-set native.flash_busy_ms=1500)
run once 0 "Flashing:" 1 "${flash[@]}"
expect once err "NOTICE: An upgrade is in progress; interrupting it may leave the device unusable. Press Ctrl-C again to abort."
expect once out "* Operations succeeded! *"

run twice 1 "Flashing:" 2 "${flash[@]}"
expect twice err "ERROR: Interrupted by Ctrl-C."
expect twice out "* Operations failed! Please retry or call tech support. *"

# The first wait for a device whose DFU interface does not open: nothing
# has been sent to it yet.
run waiting 1 "Waiting for Korvix device" 1 -n -d --sim-realtime --sim-set usb.winusb=false
expect waiting err "ERROR: Interrupted by Ctrl-C."
expect waiting out "* Operations failed! Please retry or call tech support. *"
# In JSON the run ends with the interrupted result as its last event.
run json 1 '"phase":"wait"' 1 -n -d --json --sim-realtime --sim-set usb.winusb=false
expect json out '{"event":"result","ok":false,"exit_status":1,"failure":"interrupted",'
if grep -qF "NOTICE: An upgrade" "$dir/waiting.err"; then
    echo "waiting: warned outside an upgrade"
    failed=1
fi
exit "$failed"

#!/usr/bin/env bash
# bench/run takes a run of --all over several devices as a measurement only
# when every device it asked for was upgraded: a run in which one device
# fails, or in which the simulator got one device less, must not count.
# The simulator runs on its virtual clock here (--sim-realtime is dropped).
#
# Usage: all_devices_check.sh FLASH_TOOL_SIM
set -euo pipefail

sim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The simulator as bench/run calls it, bent as $work/mode says: as-is,
# last-fails (the last device's flash fails) or one-short (the last
# device's words are lost).
cat >"$work/sim" <<EOF_SIM
#!/usr/bin/env bash
args=()
for word in "\$@"; do [ "\$word" = --sim-realtime ] || args+=("\$word"); done
case "\$(cat "$work/mode")" in
    last-fails) args+=(--sim-set native.flash_status=1) ;;
    one-short) args=("\${args[@]:0:\${#args[@]}-3}") ;;
esac
exec "$sim" "\${args[@]}"
EOF_SIM
chmod +x "$work/sim"

FLASH_TOOL_SIM=$work/sim FLASH_TOOL_BENCH_DIR=$work source "$(dirname "$0")/run"

failures=0
# expect MODE ok|refused: all_devices_run over three devices.
expect() {
    local mode=$1 wanted=$2 got=refused
    echo "$mode" >"$work/mode"
    if all_devices_run 3 >"$work/result" 2>"$work/error"; then
        got=ok
        grep -Eqx '[0-9]+ [0-9]+' "$work/result" || got="ok but not 'WALL_MS CPU_MS': $(cat "$work/result")"
    fi
    if [ "$got" != "$wanted" ]; then
        echo "$mode: $got, expected $wanted"
        sed 's/^/  | /' "$work/error" "$work/all-3.out"
        failures=$((failures + 1))
    fi
}

expect as-is ok
expect last-fails refused
expect one-short refused
[ "$failures" -eq 0 ] && echo "bench --all runs: 3 checks passed"

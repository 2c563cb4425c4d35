#!/usr/bin/env bash
# Runs the reminder benchmark and prints one "name value unit" line per figure; never fails
# on speed. With a 4000 × 4000 photo saved: rescheduling per keystroke (median, p99), the
# first call after a photo change, a preview until its Notify call reaches the notification
# server, the literal decode-encode-write reference, the wake-ups of the idle program, and,
# with a user service manager of its own, a time change until the timer stands and the delay
# from a fire instant to the Notify of the timer's delivery run (about a minute more).
#   ./scripts/bench-reminders.sh [idle-seconds]     (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
idle_seconds=${1:-60}
./scripts/bootstrap.sh --tests
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERCH_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build --target perch_bench_reminders perchlight >/dev/null

# A fresh, private home and a session bus of its own: the user's reminders are never touched.
home=$(mktemp -d "${TMPDIR:-/tmp}/perch-bench.XXXXXX")
bus_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run"
mkdir -m 700 -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$home/bus"
export QT_QPA_PLATFORM=offscreen
cat >"$home/bus.conf" <<CONF
<busconfig><type>session</type><listen>unix:dir=$home/bus</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
CONF
{ read -r DBUS_SESSION_BUS_ADDRESS; read -r bus_pid; } < <(dbus-daemon --config-file="$home/bus.conf" --fork \
    --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS

./build/bench/reminders/perch_bench_reminders

# The program at rest with the reminder that the run above left armed, twelve hours ahead.
./build/app/perchlight >/dev/null 2>&1 &
app_pid=$!
# Per thread ("tid count" lines), since a thread that ends takes its count with it.
switches() {
    for task in /proc/"$app_pid"/task/*; do
        echo "${task##*/} $(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status" 2>/dev/null)"
    done
}
# Start-up settles and the worker threads it used expire (Qt lets idle pool threads go after 30 s).
sleep 35
switches >"$home/before"
sleep "$idle_seconds"
switches >"$home/after"
woken=$(awk 'NR == FNR {seen[$1] = $2; next} {n += $2 - seen[$1]} END {print n + 0}' "$home/before" "$home/after")
[ -d /proc/"$app_pid" ] || { echo "the program ended early" >&2; exit 1; }
# The reminder's alarm is a timerfd with a time left on it (it_value not zero).
armed=$(grep -h "^it_value" /proc/"$app_pid"/fdinfo/* 2>/dev/null | grep -vc "(0, 0)" || true)
echo "reminders.idle_armed_alarms $armed count"
echo "reminders.idle_voluntary_switches_per_minute $((woken * 60 / idle_seconds)) switches"

# The timer figures need the user's service manager, which starts only in a mount namespace
# of its own with an empty /run/systemd/system (it refuses where the machine did not boot
# with it), and so only where unshare is permitted.
if unshare -m true 2>/dev/null; then
    unshare -m bash -c '
        mkdir -p /run/systemd && mount -t tmpfs tmpfs /run/systemd && mkdir /run/systemd/system || exit 1
        /lib/systemd/systemd --user >"$HOME/systemd.log" 2>&1 &
        manager=$!
        for _ in $(seq 100); do
            [ "$(systemctl --user is-system-running 2>/dev/null)" = running ] && break
            sleep 0.1
        done
        status=0
        ./build/bench/reminders/perch_bench_reminders timer || status=$?
        kill "$manager"
        wait "$manager" || true
        exit $status'
else
    echo "unshare is not permitted here: the timer figures are left out" >&2
fi

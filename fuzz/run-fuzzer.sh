#!/usr/bin/env bash
# run-fuzzer.sh TARGET WORK_CORPUS SEED_CORPUS SECONDS
# Runs one libFuzzer target for a bounded time, starting from the seeds in the repo, and
# prints the number of executions so that the figure can be quoted.
set -euo pipefail
target=$1 work=$2 seeds=$3 seconds=$4
mkdir -p "$work"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# An input slower than this fails the run; the tests' one time factor (PERCH_TIME_FACTOR, set
# by run-isolated.sh) stretches it for a busy machine.
per_input=$(awk -v f="${PERCH_TIME_FACTOR:-1}" 'BEGIN { print int(10 * f + 0.5) }')
status=0
"$target" -max_total_time="$seconds" -timeout="$per_input" -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work" "$seeds" >"$log" 2>&1 || status=$?
grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE|ERROR|SUMMARY' "$log" || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz target $(basename "$target") failed; the input is in $work" >&2
fi
exit "$status"

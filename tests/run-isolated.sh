#!/usr/bin/env bash
# Runs one test program with HOME and the XDG folders in a fresh temporary folder, so
# that no test sees the user's own photo, settings or notifications, nor another test's.
set -euo pipefail
scratch=$(mktemp -d "${TMPDIR:-/tmp}/perch-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 -p "$scratch/home" "$scratch/config" "$scratch/data" "$scratch/cache" "$scratch/runtime"
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime"
# One time factor for every wait (CI's machine is shared), Qt Test's watchdog too: a function
# may take its test's whole time (PERCH_TEST_TIMEOUT seconds, five minutes unless CTest says).
export PERCH_TIME_FACTOR=${PERCH_TIME_FACTOR:-$([ "${CI:-}" = true ] && echo 2 || echo 1)}
export QTEST_FUNCTION_TIMEOUT=${QTEST_FUNCTION_TIMEOUT:-$(awk -v f="$PERCH_TIME_FACTOR" -v s="${PERCH_TEST_TIMEOUT:-300}" 'BEGIN { print int(s * 1000 * f) }')}
"$@"

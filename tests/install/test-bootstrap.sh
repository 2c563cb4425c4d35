#!/usr/bin/env bash
# The set-up checks apt's whole plan before it installs anything: a package that cannot be
# co-installed with one of this machine's (the arm64 build of a package that is not
# "Multi-Arch: same") or that does not exist stops it with the package named; a package that
# installs cleanly passes. Only the plan is made (--plan-only); nothing is installed.
set -euo pipefail
bootstrap=$(dirname "$0")/../../scripts/bootstrap.sh
fail() { echo "FAIL: $*" >&2; exit 1; }

expect_refusal() { # package, what the refusal must say
    if said=$("$bootstrap" --plan-only --with "$1" 2>&1); then fail "the plan for $1 passed: $said"; fi
    grep -qF -- "$2" <<<"$said" || fail "the refusal of $1 does not say \"$2\": $said"
}
expect_refusal qt6-image-formats-plugins:arm64 "would remove qt6-image-formats-plugins"
expect_refusal perch-no-such-package "apt cannot install perch-no-such-package"
said=$("$bootstrap" --plan-only --with hello 2>&1) || fail "the plan for a package that installs cleanly failed: $said"

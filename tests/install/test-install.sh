#!/usr/bin/env bash
# Installs the build tree into a temporary prefix with "cmake --install" and checks it.
# Usage: test-install.sh <build folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/perch-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake --install "$1" --prefix "$scratch/usr" >/dev/null
"$here/check-tree.sh" "$scratch/usr"

#!/bin/bash
# Runs every test from a fresh clone: set-up (packages and dependencies, as
# root), the build, the unit tests under Wine and the black-box tests.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ "$(id -u)" -eq 0 ]; then "$here/setup.sh"; else sudo "$here/setup.sh"; fi
source "$here/env.sh"
"$here/build.sh"
if why="$("$here/can-run-i386.sh")"; then
  source "$here/wine-session.sh"
  printf '\n==> Unit tests (GoogleTest under Wine)\n'
  (cd "$BUILD_DIR" && ctest --output-on-failure --timeout 300)
else
  printf '\n==> WARNING: Wine cannot run here: %s.\n' "$why"
  printf '    The unit tests and every black-box test that starts a Windows program are skipped.\n'
fi

ODREL_FUZZ_SECONDS="${ODREL_FUZZ_SECONDS:-30}" "$here/fuzz.sh"
printf '\n==> Black-box tests (pytest)\n'
cd "$ODREL_ROOT/tests"
/usr/bin/python3 -m pytest -q -p no:cacheprovider "$@"

#!/bin/bash
# Runs every test from a fresh clone: set-up (packages and dependencies, as
# root), the build, the fuzz targets, the host's tests, then the unit tests
# and the black-box tests under Wine. Where this kernel cannot run Wine, those
# last run in a virtual machine (tools/run-in-vm.sh). Arguments go to pytest.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ "$(id -u)" -eq 0 ]; then "$here/setup.sh"; else sudo "$here/setup.sh"; fi
source "$here/env.sh"
"$here/build.sh"
ODREL_FUZZ_SECONDS="${ODREL_FUZZ_SECONDS:-30}" "$here/fuzz.sh"

status=0
printf '\n==> Black-box tests on the host (pytest, host_only)\n'
rc=0
(cd "$ODREL_ROOT/tests" && /usr/bin/python3 -m pytest -q -p no:cacheprovider -m host_only "$@") || rc=$?
[ "$rc" -eq 0 ] || [ "$rc" -eq 5 ] || status=1

if why="$("$here/can-run-i386.sh")"; then
  "$here/test-under-wine.sh" "$@" || status=1
else
  printf '\n==> Wine cannot run on this kernel: %s.\n' "$why"
  printf '    The tests under Wine run in a virtual machine instead, several times slower.\n'
  if [ "$(id -u)" -eq 0 ]; then
    "$here/run-in-vm.sh" "$here/test-under-wine.sh" "$@" || status=1
  else
    sudo -E "$here/run-in-vm.sh" "$here/test-under-wine.sh" "$@" || status=1
  fi
fi
exit "$status"

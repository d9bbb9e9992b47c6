#!/bin/bash
# Runs the tests that start Windows programs: the unit tests (GoogleTest under
# Wine, through CTest) and every black-box test not marked host_only. Needs a
# kernel that runs Wine (tools/can-run-i386.sh) and a finished build;
# tools/test.sh runs it directly on such a machine and inside
# tools/run-in-vm.sh elsewhere. Arguments go to pytest.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/env.sh"
source "$here/wine-session.sh"
status=0

printf '\n==> Unit tests (GoogleTest under Wine)\n'
(cd "$BUILD_DIR" && ctest --output-on-failure --timeout 300) || status=1

printf '\n==> Black-box tests under Wine (pytest)\n'
cd "$ODREL_ROOT/tests"
/usr/bin/python3 -m pytest -q -p no:cacheprovider -m "not host_only" "$@"
rc=$?
# 5: the arguments selected no test here (only host tests, say).
[ "$rc" -eq 0 ] || [ "$rc" -eq 5 ] || status=1
exit "$status"

#!/bin/bash
# The main job on an embedded default: set-up, build, a launcher whose
# default server is a local HTTPS server on 127.0.0.1, and one run of it
# under Wine as odrel_ABCDEFG_.exe. Arguments go to the launcher, e.g.
#   tools/demo.sh --message "Errors: 0"     tools/demo.sh -k EUABCDEFG
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ "$(id -u)" -eq 0 ]; then "$here/setup.sh" >&2; else sudo "$here/setup.sh" >&2; fi
source "$here/env.sh"
export ODREL_DEMO_PORT="${ODREL_DEMO_PORT:-48443}"
"$here/build.sh" >&2
BUILD_DIR="$BUILD_DIR/demo" BUILD_TARGET=odrel "$here/build.sh" \
  -DODREL_DEFAULT_SERVER_URL="https://127.0.0.1:$ODREL_DEMO_PORT" >&2
if why="$("$here/can-run-i386.sh")"; then
  source "$here/wine-session.sh"
  exec /usr/bin/python3 "$here/demo.py" "$@"
fi
# Ctrl+C there stops the virtual machine, not the launcher.
echo "demo: Wine cannot run on this kernel ($why); the run goes to a virtual machine" >&2
run_in_vm=("$here/run-in-vm.sh")
[ "$(id -u)" -eq 0 ] || run_in_vm=(sudo -E "$here/run-in-vm.sh")
exec "${run_in_vm[@]}" bash -c 'source "$1/wine-session.sh"; shift; exec /usr/bin/python3 "$@"' \
  demo "$here" "$here/demo.py" "$@"

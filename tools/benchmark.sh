#!/bin/bash
# Benchmark (not a test). Size: the launcher as shipped (without its debug
# information) beside the curl tool built for Windows from the same sources,
# and the launcher's bytes by library. Download: the launcher against that
# curl tool (both under Wine, same prefix) and Debian's native curl, 1 MiB
# and 256 MiB from a local nginx over TLS and plain HTTP. Needs a build
# (tools/build.sh) and nginx, openssl and curl.
# Usage: tools/benchmark.sh [--runs N] [--sizes 1MiB,256MiB] [--launcher EXE]
set -euo pipefail
source "$(dirname "$0")/env.sh"
for tool in nginx openssl curl wine; do
  command -v "$tool" >/dev/null || { echo "benchmark: $tool is missing" >&2; exit 1; }
done
[ -f "$BUILD_DIR/odrel.exe" ] || { echo "benchmark: build first (tools/build.sh)" >&2; exit 1; }

stripped="$(mktemp -d)"
trap 'rm -rf "$stripped"' EXIT
for exe in "$BUILD_DIR/odrel.exe" "$DEPS_PREFIX/bin/curl.exe"; do
  i686-w64-mingw32-strip -o "$stripped/$(basename "$exe")" "$exe"
done
printf '==> Size, stripped (bytes)\n%12s  odrel.exe\n%12s  curl.exe (same sources, curl'"'"'s usual features)\n' \
  "$(stat -c %s "$stripped/odrel.exe")" "$(stat -c %s "$stripped/curl.exe")"
printf '\n==> odrel.exe by library\n'
"$ODREL_ROOT/tools/size-report.sh"
printf '\n'
if ! why="$("$ODREL_ROOT/tools/can-run-i386.sh")"; then
  echo "==> Download benchmark skipped: Wine cannot run here: $why"
  exit 0
fi
source "$ODREL_ROOT/tools/wine-session.sh"
/usr/bin/python3 "$ODREL_ROOT/tools/benchmark.py" \
  --launcher "$BUILD_DIR/odrel.exe" \
  --curl-exe "$DEPS_PREFIX/bin/curl.exe" \
  --wine-dll-dir /usr/i686-w64-mingw32/lib "$@"

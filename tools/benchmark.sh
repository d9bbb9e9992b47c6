#!/bin/bash
# Download benchmark (not a test): the launcher against the curl tool built
# for Windows from the same sources (both under Wine, same prefix) and
# Debian's native curl, 1 MiB and 256 MiB from a local nginx over TLS and
# plain HTTP. Needs a build (tools/build.sh) and nginx, openssl and curl.
# Usage: tools/benchmark.sh [--runs N] [--sizes 1MiB,256MiB] [--launcher EXE]
set -euo pipefail
source "$(dirname "$0")/env.sh"
for tool in nginx openssl curl wine; do
  command -v "$tool" >/dev/null || { echo "benchmark: $tool is missing" >&2; exit 1; }
done
[ -f "$BUILD_DIR/odrel.exe" ] || { echo "benchmark: build first (tools/build.sh)" >&2; exit 1; }
source "$ODREL_ROOT/tools/wine-session.sh"
exec /usr/bin/python3 "$ODREL_ROOT/tools/benchmark.py" \
  --launcher "$BUILD_DIR/odrel.exe" \
  --curl-exe "$DEPS_PREFIX/bin/curl.exe" \
  --wine-dll-dir /usr/i686-w64-mingw32/lib "$@"

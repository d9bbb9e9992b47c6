#!/bin/bash
# Configures and builds the launcher, the sample runtime and the test helpers
# into $BUILD_DIR (default build/). Extra arguments go to CMake's configure
# step, e.g. -DODREL_DEFAULT_SERVER_URL=https://runtime.example.com
set -euo pipefail
source "$(dirname "$0")/env.sh"
printf '\n==> Building into %s\n' "$BUILD_DIR"
# CMake caches where it found each library: a build directory configured
# against another dependency recipe starts its configuration afresh.
if [ -f "$BUILD_DIR/CMakeCache.txt" ] &&
   grep -o '/deps-[0-9a-f]\{16\}' "$BUILD_DIR/CMakeCache.txt" | grep -qvx "/$(basename "$DEPS_PREFIX")"; then
  rm -f "$BUILD_DIR/CMakeCache.txt"
fi
cmake -S "$ODREL_ROOT" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$ODREL_ROOT/cmake/i686-w64-mingw32.cmake" \
  -DDEPS_PREFIX="$DEPS_PREFIX" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" ${BUILD_TARGET:+--target "$BUILD_TARGET"}

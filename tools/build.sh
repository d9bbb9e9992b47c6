#!/bin/bash
# Configures and builds the launcher, the sample runtime and the test helpers
# into $BUILD_DIR (default build/). Extra arguments go to CMake's configure
# step, e.g. -DODREL_DEFAULT_SERVER_URL=https://runtime.example.com
set -euo pipefail
source "$(dirname "$0")/env.sh"
printf '\n==> Building into %s\n' "$BUILD_DIR"
cmake -S "$ODREL_ROOT" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$ODREL_ROOT/cmake/i686-w64-mingw32.cmake" \
  -DDEPS_PREFIX="$DEPS_PREFIX" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" ${BUILD_TARGET:+--target "$BUILD_TARGET"}

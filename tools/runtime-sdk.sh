#!/bin/bash
# Writes the runtime SDK into OUT_DIR: everything a runtime library for the
# Odrel launcher builds with, in a folder that needs nothing of this
# repository and may be moved anywhere:
#   include/odrel_runtime.h      the contract, cli/odrel_runtime.h unchanged
#   include/boost-1_81/          the Boost headers it needs: what Boost's own
#                                CMake install of Boost.Function gives
#   lib/cmake/OdrelRuntime/      the CMake package, target Odrel::Runtime
#   toolchain.cmake              the compiler and the flags a runtime must use
#   sample/                      the sample runtime as a standalone project
#   check-runtime.sh             the check before publishing
#   README.md
# Usage: tools/runtime-sdk.sh OUT_DIR
# Exit status 0 once the SDK is written; non-zero, with the reason on
# standard error, otherwise.
set -euo pipefail
source "$(dirname "$0")/env.sh"
if [ $# -ne 1 ]; then
  echo "usage: $0 OUT_DIR" >&2
  exit 2
fi
mkdir -p "$1"
out="$(cd "$1" && pwd)"
boost_src="$ODREL_CACHE/sources/boost1.81/unpacked"
if [ ! -f "$boost_src/CMakeLists.txt" ]; then
  echo "no Boost 1.81 sources in $boost_src (tools/setup.sh unpacks them)" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if ! cmake -S "$boost_src" -B "$work/boost" \
       -DCMAKE_TOOLCHAIN_FILE="$ODREL_ROOT/cmake/i686-w64-mingw32.cmake" \
       -DBOOST_INCLUDE_LIBRARIES=function -DBUILD_TESTING=OFF \
       -DCMAKE_INSTALL_PREFIX="$out" >"$work/configure.log" 2>&1; then
  cat "$work/configure.log" >&2
  exit 1
fi
cmake --install "$work/boost" >/dev/null

sdk="$ODREL_ROOT/cmake/sdk"   # the SDK's own files
install -m 644 "$ODREL_ROOT/cli/odrel_runtime.h" "$out/include/odrel_runtime.h"
install -m 644 "$sdk/toolchain.cmake" "$sdk/README.md" "$out/"
install -m 755 "$ODREL_ROOT/tools/check-runtime.sh" "$out/check-runtime.sh"
install -d "$out/lib/cmake/OdrelRuntime" "$out/sample"
install -m 644 "$sdk/OdrelRuntimeConfig.cmake" "$sdk/OdrelRuntimeConfigVersion.cmake" \
  "$out/lib/cmake/OdrelRuntime/"
install -m 644 "$ODREL_ROOT/sample/sample_runtime.cc" "$out/sample/"
install -m 644 "$sdk/sample.cmake" "$out/sample/CMakeLists.txt"
echo "Runtime SDK written to $out"

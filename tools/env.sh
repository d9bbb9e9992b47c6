# Sourced by the project's scripts: where the dependency cache, the build and
# the Wine prefix live. The dependency prefix is keyed by the recipe, so a
# changed recipe builds into a new prefix and an unchanged one is reused.
ODREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ODREL_CACHE="${ODREL_CACHE:-$HOME/.cache/odrel}"
DEPS_KEY="$(cat "$ODREL_ROOT/tools/build-deps.sh" "$ODREL_ROOT/cmake/i686-w64-mingw32.cmake" | sha256sum | cut -c1-16)"
DEPS_PREFIX="$ODREL_CACHE/deps-$DEPS_KEY"
BUILD_DIR="${BUILD_DIR:-$ODREL_ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$ODREL_CACHE/wineprefix}"
export WINEDEBUG=-all
export WINEARCH=win32
unset DISPLAY
export ODREL_ROOT ODREL_CACHE DEPS_PREFIX BUILD_DIR

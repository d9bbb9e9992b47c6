#!/bin/bash
# Builds the launcher's dependencies static for i686-w64-mingw32 into
# $DEPS_PREFIX (see env.sh). Sources come only from the registries: Debian
# source packages (OpenSSL, curl, Boost 1.81, GoogleTest) and the npm package
# minidump@0.26.0, whose deps/breakpad is Breakpad's source. Each library is
# built once per recipe; a stamp file marks it done.
set -euo pipefail
source "$(dirname "$0")/env.sh"

say() { printf '\n==> %s\n' "$*"; }
jobs="$(nproc)"
host=i686-w64-mingw32
src="$ODREL_CACHE/sources"   # downloads, shared by all recipes
work="$DEPS_PREFIX/work"     # build trees, removed after each build
stamps="$DEPS_PREFIX/stamps"
toolchain="$ODREL_ROOT/cmake/i686-w64-mingw32.cmake"
mkdir -p "$src" "$work" "$stamps"

done_already() { [ -f "$stamps/$1" ] && echo "    $1: already built for this recipe"; }
mark() { touch "$stamps/$1"; }

# Downloads and unpacks a Debian source package (patches applied) into
# $src/<package>, printing the unpacked directory.
debian_source() {
  local pkg="$1" dir="$src/$1"
  if [ ! -d "$dir/unpacked" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    (cd "$dir" && apt-get source --download-only -q "$pkg" >&2)
    local dsc; dsc="$(ls "$dir"/*.dsc | head -1)"
    dpkg-source --no-check -x "$dsc" "$dir/unpacked" >&2
  fi
  echo "$dir/unpacked"
}

build_openssl() {
  done_already openssl && return
  say "OpenSSL: Debian source and static build"
  local dir; dir="$(debian_source openssl)"
  rm -rf "$work/openssl-build" && cp -a "$dir" "$work/openssl-build"
  # Debian's pic.patch makes the x86 assembler ELF-only (GOT relocations that
  # PE/COFF cannot represent); the security fixes stay applied.
  (cd "$work/openssl-build" &&
    patch -R -s -p1 < debian/patches/pic.patch &&
    ./Configure mingw no-shared no-tests --cross-compile-prefix=$host- \
      --prefix="$DEPS_PREFIX" --libdir=lib &&
    make -j"$jobs" build_libs >/dev/null &&
    make install_dev >/dev/null)
  rm -rf "$work/openssl-build"
  mark openssl
}

build_curl() {
  done_already curl && return
  say "libcurl: Debian source and static build with OpenSSL"
  local dir; dir="$(debian_source curl)"
  rm -rf "$work/curl-build" && cp -a "$dir" "$work/curl-build"
  (cd "$work/curl-build" &&
    { [ -x configure ] || autoreconf -fi >/dev/null; } &&
    ./configure --host=$host --prefix="$DEPS_PREFIX" --with-openssl="$DEPS_PREFIX" \
      --disable-shared --enable-static --disable-ldap --disable-ldaps --disable-manual \
      --without-zlib --without-brotli --without-zstd --without-nghttp2 --without-libidn2 \
      --without-libpsl --without-librtmp --without-libssh2 --disable-docs \
      LIBS="-lws2_32 -lcrypt32 -lbcrypt" >/dev/null &&
    make -j"$jobs" -C lib >/dev/null &&
    make -C lib install >/dev/null && make -C include install >/dev/null &&
    make -j"$jobs" -C src >/dev/null && cp src/curl.exe "$DEPS_PREFIX/bin/curl.exe")
  rm -rf "$work/curl-build"
  mark curl
}

build_boost() {
  done_already boost && return
  say "Boost 1.81 (filesystem, thread): Debian source, Boost's CMake build"
  local dir; dir="$(debian_source boost1.81)"
  cmake -S "$dir" -B "$work/boost-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF \
    -DBOOST_INCLUDE_LIBRARIES="filesystem;thread;function" \
    -DCMAKE_INSTALL_PREFIX="$DEPS_PREFIX" >/dev/null
  cmake --build "$work/boost-build" -j"$jobs" >/dev/null
  cmake --install "$work/boost-build" >/dev/null
  rm -rf "$work/boost-build"
  mark boost
}

build_googletest() {
  done_already googletest && return
  say "GoogleTest: Debian source, static build"
  local dir; dir="$(debian_source googletest)"
  cmake -S "$dir" -B "$work/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -Dgtest_force_shared_crt=OFF \
    -DCMAKE_INSTALL_PREFIX="$DEPS_PREFIX" >/dev/null
  cmake --build "$work/gtest-build" -j"$jobs" >/dev/null
  cmake --install "$work/gtest-build" >/dev/null
  rm -rf "$work/gtest-build"
  mark googletest
}

build_breakpad() {
  done_already breakpad && return
  say "Breakpad Windows client: npm package minidump@0.26.0"
  local dir="$src/minidump"
  if [ ! -d "$dir/package" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    (cd "$dir" && npm pack --silent minidump@0.26.0 >/dev/null && tar xzf minidump-0.26.0.tgz)
  fi
  local bp="$dir/package/deps/breakpad/src" obj="$work/breakpad-obj"
  rm -rf "$obj" && mkdir -p "$obj"
  local files=(
    client/windows/handler/exception_handler.cc
    client/windows/crash_generation/crash_generation_server.cc
    client/windows/crash_generation/crash_generation_client.cc
    client/windows/crash_generation/client_info.cc
    client/windows/crash_generation/minidump_generator.cc
    common/windows/guid_string.cc
    common/windows/string_utils.cc
  )
  for f in "${files[@]}"; do
    $host-g++-posix -c -O2 -DUNICODE -D_UNICODE -I"$bp" "$bp/$f" \
      -o "$obj/$(basename "$f" .cc).o" -w
  done
  mkdir -p "$DEPS_PREFIX/lib" "$DEPS_PREFIX/include/breakpad" "$DEPS_PREFIX/bin"
  $host-ar rcs "$DEPS_PREFIX/lib/libbreakpad_client.a" "$obj"/*.o
  (cd "$bp" && find client common google_breakpad -name '*.h' -exec cp --parents {} "$DEPS_PREFIX/include/breakpad/" \;)
  cp "$dir/package/bin/linux-x64/minidump_dump" "$dir/package/bin/linux-x64/minidump_stackwalk" "$DEPS_PREFIX/bin/"
  rm -rf "$obj"
  mark breakpad
}

say "Dependencies for recipe $DEPS_KEY in $DEPS_PREFIX"
build_openssl
build_curl
build_boost
build_googletest
build_breakpad
say "Dependencies ready"

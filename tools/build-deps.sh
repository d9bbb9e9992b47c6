#!/bin/bash
# Builds the launcher's dependencies static for i686-w64-mingw32 into
# $DEPS_PREFIX (see env.sh). Sources come only from the registries: Debian
# source packages (OpenSSL, curl, Boost 1.81, GoogleTest) and the npm package
# minidump@0.26.0, whose deps/breakpad is Breakpad's source. Each library is
# built once per recipe; a stamp file marks it done.
#
# The libraries are built for what the launcher is, a TLS client fetching one
# file over HTTP(S) or file://, directly or through any proxy of libcurl's
# proxy syntax, and built so that no build path, user name or time reaches a
# byte of them: sizes are measured in tools/benchmark.sh, reproducibility in
# tests/test_release.py.
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

# Small code, each function and datum in a section of its own for the
# linker's --gc-sections, and build paths mapped to fixed names (__FILE__
# included). C code gets no unwind tables: no C++ exception passes through
# it, and crashes are walked by frame pointer.
size_flags="-Os -ffunction-sections -fdata-sections"
c_flags="$size_flags -fno-asynchronous-unwind-tables -fno-unwind-tables"
map_flags() { echo "-ffile-prefix-map=$1=$2 -ffile-prefix-map=$DEPS_PREFIX=deps"; }
# OpenSSL's version text carries a build date: the epoch instead of the clock.
export SOURCE_DATE_EPOCH=0

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

# TLS 1.2 and 1.3 client only: ECDHE (X25519, X448, the NIST prime curves)
# and RSA key exchange, RSA and ECDSA signatures, AES (GCM and CBC),
# ChaCha20-Poly1305, SHA-1 and SHA-2. Gone: SSLv3, TLS 1.0/1.1, DTLS, finite
# field Diffie-Hellman (DHE suites and ffdhe groups, 55 KB: servers that
# offer them offer ECDHE or RSA key exchange too), the legacy ciphers
# and digests no TLS 1.2 server needs, engines, providers loaded at run time, the configuration file,
# certificate transparency, OCSP, CMS and timestamps (libcurl uses none of
# them unless an option the launcher never sets asks for it), and the error
# texts: the launcher prints libcurl's own texts, never OpenSSL's. OpenSSL
# compiles its directories into the library; they name a fixed prefix
# (/odrel-deps, used for nothing at run time), and the install is staged and
# moved into $DEPS_PREFIX. It also keeps its compiler flags as text, so it
# gets no path in them: with no-filenames and NDEBUG it has no __FILE__.
openssl_options=(
  no-shared no-tests no-deprecated no-engine no-dso no-module no-legacy no-autoload-config
  no-ssl3 no-tls1 no-tls1_1 no-dtls no-comp no-srp no-psk no-srtp no-sctp no-nextprotoneg
  no-weak-ssl-ciphers no-idea no-camellia no-seed no-bf no-cast no-rc2 no-rc4 no-rc5 no-md4
  no-mdc2 no-whirlpool no-rmd160 no-aria no-sm2 no-sm3 no-sm4 no-gost no-des no-dsa
  no-dh no-scrypt no-siphash no-blake2 no-ocb no-siv no-cmac no-ec2m no-cms no-ts no-ct no-ocsp
  no-cmp no-rfc3779 no-async no-ui-console no-err no-filenames no-ssl-trace no-uplink
  no-multiblock no-ktls no-secure-memory no-static-engine
)

build_openssl() {
  done_already openssl && return
  say "OpenSSL: Debian source and static build"
  local dir; dir="$(debian_source openssl)"
  local build="$work/openssl-build" stage="$work/openssl-stage"
  rm -rf "$build" "$stage" && cp -a "$dir" "$build"
  # Debian's pic.patch makes the x86 assembler ELF-only (GOT relocations that
  # PE/COFF cannot represent); the security fixes stay applied.
  # P-256 goes through OpenSSL's generic elliptic-curve code instead of its
  # x86 assembler, whose precomputed table alone is 160 KB; a handshake takes
  # a few milliseconds longer. OPENSSL_SMALL_FOOTPRINT picks the smaller of
  # OpenSSL's table-driven variants (GCM, SHA-512, ...).
  (cd "$build" &&
    patch -R -s -p1 < debian/patches/pic.patch &&
    sed -i -e 's/^\( *\$ECASM_x86=\).*/\1/' -e 's/^\( *\$ECDEF_x86=\).*/\1/' crypto/ec/build.info &&
    ./Configure mingw "${openssl_options[@]}" --cross-compile-prefix=$host- \
      --prefix=/odrel-deps --openssldir=/odrel-deps/ssl --libdir=lib \
      $c_flags -DOPENSSL_SMALL_FOOTPRINT >/dev/null &&
    make -j"$jobs" build_libs >/dev/null &&
    make DESTDIR="$stage" install_dev >/dev/null)
  mkdir -p "$DEPS_PREFIX"
  cp -a "$stage/odrel-deps/." "$DEPS_PREFIX/"
  sed -i "s|^prefix=.*|prefix=$DEPS_PREFIX|" "$DEPS_PREFIX"/lib/pkgconfig/*.pc
  rm -rf "$build" "$stage"
  mark openssl
}

# HTTP, HTTPS and file:// (reachable with -u); proxies of every kind with
# Basic authentication. Gone: the other protocols, and what only an option
# the launcher never sets turns on (cookies, HSTS, alt-svc, netrc, DoH,
# digest and NTLM authentication, MIME, the progress meter, ...). The
# verbose strings stay: they are curl_easy_strerror's texts, which the
# launcher prints. No CA bundle path is compiled in: the launcher does not
# verify the server's certificate.
curl_lib_options=(
  --disable-ftp --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet
  --disable-tftp --disable-pop3 --disable-imap --disable-smtp --disable-gopher --disable-mqtt
  --disable-smb --disable-ntlm --disable-ntlm-wb --disable-crypto-auth --disable-tls-srp
  --disable-cookies --disable-hsts --disable-alt-svc --disable-netrc --disable-doh
  --disable-mime --disable-dateparse --disable-progress-meter --disable-get-easy-options
  --disable-headers-api --disable-dnsshuffle --disable-websockets --disable-libcurl-option
  --without-ca-bundle --without-ca-path --without-ca-fallback
)
curl_common_options=(
  --host=$host --with-openssl="$DEPS_PREFIX" --disable-shared --enable-static
  --disable-manual --disable-docs --without-zlib --without-brotli --without-zstd
  --without-nghttp2 --without-libidn2 --without-libpsl --without-librtmp --without-libssh2
)

build_curl() {
  done_already curl && return
  say "libcurl: Debian source and static build with OpenSSL"
  local dir; dir="$(debian_source curl)"
  local build="$work/curl-build"
  rm -rf "$build" && cp -a "$dir" "$build"
  (cd "$build" &&
    { [ -x configure ] || autoreconf -fi >/dev/null; } &&
    ./configure "${curl_common_options[@]}" "${curl_lib_options[@]}" --prefix="$DEPS_PREFIX" \
      CFLAGS="$c_flags $(map_flags "$build" curl)" \
      LIBS="-lws2_32 -lcrypt32 -lbcrypt" >/dev/null &&
    make -j"$jobs" -C lib >/dev/null &&
    make -C lib install >/dev/null && make -C include install >/dev/null)
  rm -rf "$build"
  mark curl
}

# The curl tool for Windows, the benchmark's peer and a test's witness,
# built from the same sources with libcurl's full feature set, as curl is
# usually shipped.
build_curl_tool() {
  done_already curl-tool && return
  say "curl.exe: Debian source, the tool with libcurl's usual features"
  local dir; dir="$(debian_source curl)"
  local build="$work/curl-tool-build"
  rm -rf "$build" && cp -a "$dir" "$build"
  (cd "$build" &&
    { [ -x configure ] || autoreconf -fi >/dev/null; } &&
    ./configure "${curl_common_options[@]}" --disable-ldap --disable-ldaps \
      --prefix="$build/unused" LIBS="-lws2_32 -lcrypt32 -lbcrypt" >/dev/null &&
    make -j"$jobs" -C lib >/dev/null && make -j"$jobs" -C src >/dev/null &&
    mkdir -p "$DEPS_PREFIX/bin" && cp src/curl.exe "$DEPS_PREFIX/bin/curl.exe")
  rm -rf "$build"
  mark curl-tool
}

build_boost() {
  done_already boost && return
  say "Boost 1.81 (filesystem, thread): Debian source, Boost's CMake build"
  local dir; dir="$(debian_source boost1.81)"
  cmake -S "$dir" -B "$work/boost-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="-ffunction-sections -fdata-sections $(map_flags "$dir" boost) $(map_flags "$work/boost-build" boost)" \
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
    $host-g++-posix -c $size_flags $(map_flags "$bp" breakpad) -DUNICODE -D_UNICODE -I"$bp" "$bp/$f" \
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
build_curl_tool
build_boost
build_googletest
build_breakpad
say "Dependencies ready"

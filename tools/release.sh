#!/bin/bash
# Builds the launcher and signs it with Authenticode: by default with the
# development certificate of "Odrel Online, Inc." (the PKI kept in
# ~/.cache/odrel/devcert, made on first use), or with a publisher's
# certificate and key given by path. Writes into the output directory
# (default $BUILD_DIR/release):
#   odrel.exe        the launcher without its debug information, signed;
#   odrel.exe.debug  that debug information (DWARF), tied to odrel.exe by a
#                    GNU debuglink; keep it to read crash dumps
#                    (addr2line -e odrel.exe.debug, gdb);
#   SHA256SUMS       of odrel.exe, the file users download.
# The image before signing is reproducible: anyone who builds the same
# commit gets the same Authenticode digest, which this script prints.
# Usage: tools/release.sh [--cert CERT.pem --key KEY.pem [--chain CHAIN.pem]]
#                         [--out DIR]
# CHAIN holds the certificates between the publisher's and the root, added
# to the signature. Extra CMake arguments go in ODREL_RELEASE_CMAKE_ARGS.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/env.sh"
cert="" key="" chain="" out="$BUILD_DIR/release"
while [ $# -gt 0 ]; do
  case "$1" in
    --cert) cert="$2"; shift 2 ;;
    --key) key="$2"; shift 2 ;;
    --chain) chain="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    *) echo "release.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
  echo "release.sh: --cert and --key go together" >&2
  exit 2
fi

if [ -z "$cert" ]; then
  devcert="$ODREL_CACHE/devcert"
  mkdir -p "$devcert"
  # The development PKI: prints the publisher's certificate, key and root.
  read -r cert key chain < <(/usr/bin/python3 - "$ODREL_ROOT/tests" "$devcert" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from fixtures.pki import PUBLISHER, Pki
pki = Pki(sys.argv[2])
cert, key = pki.signer(PUBLISHER)
print(cert, key, pki.root_cert)
PY
)
  printf '==> Signing with the development certificate in %s\n' "$devcert"
fi

# shellcheck disable=SC2086
BUILD_TARGET=odrel "$here/build.sh" ${ODREL_RELEASE_CMAKE_ARGS:-}

mkdir -p "$out" && out="$(cd "$out" && pwd)"
build="$(cd "$BUILD_DIR" && pwd)"
rm -f "$out/odrel.exe" "$out/odrel.exe.debug" "$out/SHA256SUMS"
unsigned="$out/odrel.unsigned.exe"
trap 'rm -f "$unsigned"' EXIT
objcopy="$(sed -n 's/^CMAKE_OBJCOPY:FILEPATH=//p' "$build/CMakeCache.txt")"
# -p keeps the content-derived link timestamp (objcopy would stamp the
# clock). The shipped image loses the symbol table with the DWARF; the
# debug file keeps both, at the addresses of the shipped image.
"$objcopy" -p --only-keep-debug "$build/odrel.exe" "$out/odrel.exe.debug"
(cd "$out" && "$objcopy" -p --strip-all --add-gnu-debuglink=odrel.exe.debug \
   "$build/odrel.exe" "$unsigned")
args=(-certs "$cert" -key "$key" -h sha256 -n "Odrel launcher")
[ -n "$chain" ] && args+=(-ac "$chain")
osslsigncode sign "${args[@]}" -in "$unsigned" -out "$out/odrel.exe" >/dev/null
(cd "$out" && sha256sum odrel.exe >SHA256SUMS)
digest="$(osslsigncode verify -in "$out/odrel.exe" 2>/dev/null |
          sed -n 's/^Current message digest *: *\([0-9A-Fa-f]*\).*/\1/p' | head -1 || true)"
printf '==> Signed launcher: %s (%s bytes)\n' "$out/odrel.exe" "$(stat -c %s "$out/odrel.exe")"
printf '    Authenticode digest (SHA-256): %s\n' "$digest"
cat "$out/SHA256SUMS"

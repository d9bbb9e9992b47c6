#!/bin/bash
# Builds the launcher and signs it with Authenticode: by default with the
# development certificate of "Odrel Online, Inc." (the PKI kept in
# ~/.cache/odrel/devcert, made on first use), or with a publisher's
# certificate and key given by path. Writes the signed odrel.exe and
# SHA256SUMS into the output directory (default $BUILD_DIR/release).
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

mkdir -p "$out"
rm -f "$out/odrel.exe" "$out/SHA256SUMS"
args=(-certs "$cert" -key "$key" -h sha256 -n "Odrel launcher")
[ -n "$chain" ] && args+=(-ac "$chain")
osslsigncode sign "${args[@]}" -in "$BUILD_DIR/odrel.exe" -out "$out/odrel.exe" >/dev/null
(cd "$out" && sha256sum odrel.exe >SHA256SUMS)
printf '==> Signed launcher: %s\n' "$out/odrel.exe"
cat "$out/SHA256SUMS"

#!/bin/bash
# Checks a runtime library before it is published: tells whether the Odrel
# launcher would refuse FILE as odrelruntime.dll, and with which line.
#
# Usage: check-runtime.sh [--ca CA_FILE] FILE
#   --ca CA_FILE  the root certificates to trust, PEM (default: the system's
#                 bundle, /etc/ssl/certs/ca-certificates.crt)
#
# The launcher checks in this order and stops at the first failure: the
# signature and its chain, the signer's name, the load, the NewRuntime
# export. This script reports every problem that applies, one a line, in
# that order:
#   refused: WHAT; the launcher prints "LINE"; CHANGE
#   warning: WHAT; CHANGE
# and last one verdict line:
#   verdict: accepted
#   verdict: refused; users see "LINE"
# where LINE is the first refusal's, the one users would see ("verdict:
# refused; the launcher crashes" for an EXE that exports NewRuntime).
#
# Exit status: 0 when no launcher refuses FILE (warnings keep 0), 1 when it
# is refused, 2 for a usage error or a missing tool.
#
# Every question goes to a tool made for it: osslsigncode (verify,
# extract-signature), openssl (smime, x509) and binutils' objdump (-p).
set -euo pipefail

PUBLISHER="Odrel Online, Inc."
TAMPERED="Problem verifying runtime's digital signature.  This indicates someone has potentially tampered with the binary."
WRONG_PUBLISHER="Problem verifying publisher No error"
NOT_LOADED="Failed to load Odrel Runtime Library"
MISMATCH="Failed to initialize Odrel Runtime library.  Possible Library version mismatch"
# The DLLs of the mingw-w64 toolchain's own runtime, which Windows lacks.
TOOLCHAIN_DLLS="libstdc++-6.dll libgcc_s_dw2-1.dll libgcc_s_sjlj-1.dll libwinpthread-1.dll libssp-0.dll libgomp-1.dll libatomic-1.dll libquadmath-0.dll"
SIGN_COMMAND="osslsigncode sign -certs CERT -key KEY -ac CHAIN -h sha256 -ts TIMESTAMP_URL -in BUILT.dll -out odrelruntime.dll"
FACTORY='extern "C" __declspec(dllexport) RuntimeObject* NewRuntime();'

usage() {
  echo "usage: $0 [--ca CA_FILE] FILE" >&2
  exit 2
}

ca=/etc/ssl/certs/ca-certificates.crt
file=
while [ $# -gt 0 ]; do
  case "$1" in
    --ca) [ $# -ge 2 ] || usage; ca="$2"; shift 2 ;;
    -*) usage ;;
    *) [ -z "$file" ] || usage; file="$1"; shift ;;
  esac
done
[ -n "$file" ] || usage
for f in "$file" "$ca"; do
  [ -f "$f" ] && [ -r "$f" ] || { echo "$0: cannot read $f" >&2; exit 2; }
done
for tool in osslsigncode openssl i686-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 2; }
done

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

first_refusal=
refuse() {  # WHAT LINE CHANGE
  echo "refused: $1; the launcher prints \"$2\"; $3"
  [ -n "$first_refusal" ] || first_refusal="users see \"$2\""
}
warn() {  # WHAT CHANGE
  echo "warning: $1; $2"
}
verdict() {
  if [ -n "$first_refusal" ]; then
    echo "verdict: refused; $first_refusal"
    exit 1
  fi
  echo "verdict: accepted"
  exit 0
}

# --- What the file is: objdump's reading of its PE headers. ---------------
# The mingw objdump reads 32-bit x86 images only; the host's binutils, where
# present, name any other PE format.
pe="$tmp/pe.txt"
format=
pe_format() { sed -n '/file format /{s/^.*file format //p;q}' "$pe"; }
if i686-w64-mingw32-objdump -p "$file" >"$pe" 2>/dev/null; then
  format="$(pe_format)"
fi
if [ "${format#pei-}" = "$format" ] && command -v objdump >/dev/null &&
   objdump -p "$file" >"$pe" 2>/dev/null; then
  format="$(pe_format)"
fi
if [ "${format#pei-}" = "$format" ]; then
  refuse "not a Windows PE file${format:+ (objdump reads it as $format)}" "$TAMPERED" \
    "publish the odrelruntime.dll that the build wrote"
  verdict
fi

# Lines of one block of objdump -p output: those after the line matching
# START, up to the first empty line.
pe_block() {
  awk -v start="$1" 'found && /^$/ { exit } found { print } $0 ~ start { found = 1 }' "$pe"
}
security_size="$(awk '$1 == "Entry" && $2 == "4" { print $4; exit }' "$pe")"
is_dll=no
grep -qx '[[:space:]]*DLL' <<<"$(pe_block '^Characteristics ')" && is_dll=yes
imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' "$pe")"
exports="$(pe_block '^\[Ordinal/Name Pointer\] Table' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')"

# --- 1. Signature and chain (WinVerifyTrust). ------------------------------
# Only the primary signature counts (-index 0). No revocation check, like
# the launcher's. With a timestamp the chain is judged at its time.
verify="$tmp/verify.txt"
verified=yes
osslsigncode verify -ignore-crl -index 0 -CAfile "$ca" -TSA-CAfile "$ca" -in "$file" \
  >"$verify" 2>&1 || verified=no
readable=yes
grep -q '^Signature Index: 0' "$verify" || readable=no

if [ -z "$security_size" ] || [ $((16#$security_size)) -eq 0 ]; then
  refuse "not signed" "$TAMPERED" "sign it: $SIGN_COMMAND"
elif [ "$readable" = no ]; then
  refuse "its signature cannot be read (cut short or damaged)" "$TAMPERED" \
    "sign the built file again: $SIGN_COMMAND"
elif grep -q 'MISMATCH' "$verify"; then
  refuse "changed after signing (its digest differs from the signed one)" "$TAMPERED" \
    "sign last, after every other change to the file, and publish the signed file unchanged"
elif [ "$verified" = no ]; then
  reason="$(sed -n '/Verify error: /{s/^.*Verify error: //p;q}' "$verify")"
  if grep -q 'certificate purpose' "$verify"; then
    refuse "the signing certificate is not for code signing" "$TAMPERED" \
      "sign with a code-signing certificate (extended key usage codeSigning)"
  elif [[ "$reason" == *expired* ]]; then
    refuse "the signing certificate has expired and the signature has no valid timestamp" \
      "$TAMPERED" "sign it again with a current certificate and a timestamp: $SIGN_COMMAND"
  elif [ -n "$reason" ]; then
    refuse "its certificate chain does not reach a root in $ca ($reason)" "$TAMPERED" \
      "sign with a certificate from a certification authority that Windows trusts, and pass its intermediate certificates with -ac"
  else
    refuse "its signature does not verify" "$TAMPERED" "sign the built file again: $SIGN_COMMAND"
  fi
fi

# --- The primary signer's certificate, from those the signature carries. --
signer_cert=
if [ "$readable" = yes ] &&
   osslsigncode extract-signature -pem -in "$file" -out "$tmp/signature.pem" >/dev/null 2>&1 &&
   openssl smime -verify -inform PEM -in "$tmp/signature.pem" -noverify -nosigs \
     -signer "$tmp/signer.pem" -out /dev/null >/dev/null 2>&1; then
  signer_cert="$tmp/signer.pem"
fi

# Windows' simple display name of a certificate's subject: its first common
# name, else organisational unit, else organisation, else e-mail address.
display_name() {
  local names attribute
  names="$(openssl x509 -in "$1" -noout -subject -nameopt sep_multiline,lname,utf8)"
  for attribute in commonName organizationalUnitName organizationName emailAddress; do
    if grep -q "^    $attribute=" <<<"$names"; then
      sed -n "/^    $attribute=/{s/^    $attribute=//p;q}" <<<"$names"
      return
    fi
  done
}

# How NAME differs from the publisher's name, or "" when it is another name.
name_difference() {
  local rest="$1" differences=()
  if [[ "$rest" =~ [[:space:]]+$ ]]; then
    differences+=("trailing blank"); rest="${rest%"${BASH_REMATCH[0]}"}"
  fi
  if [[ "$rest" =~ ^[[:space:]]+ ]]; then
    differences+=("leading blank"); rest="${rest#"${BASH_REMATCH[0]}"}"
  fi
  if [[ "$rest" != *. && "${rest,,}." == "${PUBLISHER,,}" ]]; then
    differences+=("no final full stop"); rest="$rest."
  fi
  if [[ "$rest" != "$PUBLISHER" && "${rest,,}" == "${PUBLISHER,,}" ]]; then
    differences+=("letter case")
  fi
  [[ "${rest,,}" == "${PUBLISHER,,}" ]] || return 0
  local joined
  printf -v joined '%s, ' "${differences[@]}"
  echo "${joined%, }"
}

# --- 2. Publisher: the primary signer's name, byte for byte. ---------------
if [ -n "$signer_cert" ]; then
  name="$(display_name "$signer_cert")"
  if [ "$name" != "$PUBLISHER" ]; then
    what="signed by \"$name\", not \"$PUBLISHER\""
    difference="$(name_difference "$name")"
    [ -z "$difference" ] || what="$what (differs by: $difference)"
    # A publisher's signature nested under the primary one is never read.
    nested="$(osslsigncode verify -ignore-crl -CAfile "$ca" -in "$file" 2>/dev/null |
              awk -v cn="/CN=$PUBLISHER" '
                /^Signature Index: / { index_ = $3 }
                /^Signer.s certificate:/ { want = 1; next }
                want && $1 == "Subject:" {
                  want = 0
                  if (index_ > 0 && substr($0, length($0) - length(cn) + 1) == cn) { print index_; exit }
                }' || true)"
    if [ -n "$nested" ]; then
      refuse "$what; the publisher's signature is only nested under it (index $nested), and launchers read the primary signature only" \
        "$WRONG_PUBLISHER" \
        "sign the built file with the publisher's certificate first; nest any other signature under it (-nest)"
    else
      refuse "$what" "$WRONG_PUBLISHER" \
        "sign it with the publisher's certificate, whose subject common name is exactly \"$PUBLISHER\""
    fi
  fi
elif [ "$readable" = yes ]; then
  refuse "the signer's certificate is not among those the signature carries" \
    "Problem verifying publisher " "sign it with -certs naming the signing certificate"
fi

# --- The timestamp: without one, the signature ends with the certificate. --
if [ -n "$signer_cert" ]; then
  expiry="$(openssl x509 -in "$signer_cert" -noout -enddate -dateopt iso_8601)"
  expiry="${expiry#notAfter=}"
  if grep -q '^Timestamp is not available' "$verify"; then
    warn "not timestamped: from $expiry, when the signing certificate expires, the launcher prints \"$TAMPERED\"" \
      "sign it with a timestamp (osslsigncode sign -ts TIMESTAMP_URL)"
  elif grep -q '^Timestamp Server Signature verification: failed' "$verify"; then
    warn "its timestamp does not verify against $ca: from $expiry, when the signing certificate expires, the launcher may print \"$TAMPERED\"" \
      "sign it with a timestamp from an authority that Windows trusts (osslsigncode sign -ts TIMESTAMP_URL)"
  fi
fi

# --- 3. Load (LoadLibraryA). ------------------------------------------------
if [ "$format" != pei-i386 ]; then
  what="built for $format, not 32-bit x86"
  [ "$format" != pei-x86-64 ] || what="a 64-bit DLL"
  refuse "$what" "$NOT_LOADED" "build it with the SDK's toolchain.cmake (i686-w64-mingw32)"
fi
missing=
for dll in $imports; do
  for toolchain_dll in $TOOLCHAIN_DLLS; do
    [ "${dll,,}" != "$toolchain_dll" ] || missing="${missing:+$missing, }$dll"
  done
done
if [ -n "$missing" ]; then
  refuse "imports $missing, which users' machines lack" "$NOT_LOADED" \
    "link the toolchain's runtime in: -static -static-libgcc -static-libstdc++ (the SDK's toolchain.cmake and Odrel::Runtime do)"
fi

# --- 4. The factory (GetProcAddress "NewRuntime"). --------------------------
has_factory=no
grep -qx 'NewRuntime' <<<"$exports" && has_factory=yes
# An EXE loads too, but without its imports resolved or its start-up code run.
if [ "$is_dll" = no ]; then
  if [ "$has_factory" = yes ]; then
    echo "refused: an EXE, not a DLL; the launcher loads it without resolving its imports or running its start-up code, and crashes in its NewRuntime; build a DLL: add_library(odrelruntime SHARED ...)"
    [ -n "$first_refusal" ] || first_refusal="the launcher crashes"
  else
    refuse "an EXE, not a DLL" "$MISMATCH" "build a DLL: add_library(odrelruntime SHARED ...)"
  fi
fi
if [ "$has_factory" = no ]; then
  mangled="$(grep -m 1 '^_Z.*NewRuntime' <<<"$exports" || true)"
  decorated="$(grep -m 1 -E '^_?NewRuntime@[0-9]+$' <<<"$exports" || true)"
  other_case="$(grep -m 1 -ix '_\{0,1\}NewRuntime' <<<"$exports" || true)"
  if [ -n "$mangled" ]; then
    refuse "NewRuntime exported C++-mangled, as $mangled" "$MISMATCH" \
      "declare it extern \"C\": $FACTORY"
  elif [ -n "$decorated" ]; then
    refuse "NewRuntime exported stdcall-decorated, as $decorated" "$MISMATCH" \
      "declare it without __stdcall or WINAPI: $FACTORY"
  elif [ -n "$other_case" ]; then
    refuse "exports $other_case, not NewRuntime (the name is case-sensitive)" "$MISMATCH" \
      "export $FACTORY"
  else
    refuse "exports no NewRuntime" "$MISMATCH" "export $FACTORY"
  fi
fi

verdict

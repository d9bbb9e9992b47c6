#!/bin/bash
# Prepares this machine to build and test the launcher, from nothing:
# Debian packages, dependency sources from the registries, and static
# i686-w64-mingw32 builds of OpenSSL, libcurl, Boost, GoogleTest and the
# Breakpad client in a cache outside the work tree. Safe to run again: every
# step checks first and does nothing when its result is already there.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
say() { printf '\n==> %s\n' "$*"; }

packages=(
  g++-mingw-w64-i686-posix wine wine32 cmake make osslsigncode openssl
  python3 python3-pytest dpkg-dev file curl nginx xz-utils ca-certificates
  clang libclang-rt-14-dev
)
# npm comes with Node.js where a Node.js distribution is installed; Debian's
# own npm package conflicts with those.
command -v npm >/dev/null || packages+=(npm)

missing=()
dpkg --print-foreign-architectures | grep -qx i386 || {
  say "Adding the i386 architecture (for wine32)"
  dpkg --add-architecture i386
  need_update=1
}
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# apt-get source needs a deb-src entry for the mirror that the binary entries use.
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  mirror="$(grep -rhs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' | grep -m1 '/debian/\?$' || true)"
  [ -n "$mirror" ] || mirror="$(grep -hs '^deb ' /etc/apt/sources.list | awk '{print $2}' | grep -m1 '/debian/\?$' || true)"
  [ -n "$mirror" ] || { echo "setup: no Debian mirror found in the apt sources" >&2; exit 1; }
  codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
  say "Adding a deb-src entry for $mirror ($codename)"
  cat > /etc/apt/sources.list.d/odrel-deb-src.sources <<SRC
Types: deb-src
URIs: $mirror
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  say "apt-get update"
  apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  say "Installing Debian packages: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A kernel that refuses 32-bit programs cannot run Wine; the tests then run
# Wine in a virtual machine (tools/run-in-vm.sh), which needs these.
vm_packages=(qemu-system-x86 busybox-static cpio)
if ! "$here/can-run-i386.sh" >/dev/null; then
  vm_missing=()
  for p in "${vm_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || vm_missing+=("$p")
  done
  if [ ${#vm_missing[@]} -gt 0 ]; then
    say "Installing Debian packages for the virtual machine: ${vm_missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${vm_missing[@]}"
  fi
fi

"$here/build-deps.sh"

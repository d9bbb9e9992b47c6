#!/bin/bash
# Tells whether this machine runs 32-bit x86 Linux programs natively, which
# Wine needs to run the launcher (a PE32 program) and every test that starts
# it. Exit status 0 when it does; otherwise one line on standard output says
# why, and the status is 1. Kernels built with ia32 emulation switched off
# (ia32_emulation=off, or a distribution default) refuse such programs with
# "Exec format error"; an emulator registered for them through binfmt_misc
# (qemu-i386) runs them, but Wine then takes about a minute per process.
for entry in /proc/sys/fs/binfmt_misc/*; do
  [ -f "$entry" ] || continue
  if grep -qx 'enabled' "$entry" 2>/dev/null &&
     grep -q '^magic 7f454c46010101000000000000000000' "$entry" 2>/dev/null &&
     grep -q '^interpreter ' "$entry" 2>/dev/null; then
    echo "32-bit x86 programs run here only through the emulator $(sed -n 's/^interpreter //p' "$entry") (binfmt_misc $(basename "$entry")), far too slowly for Wine"
    exit 1
  fi
done
probe=/usr/lib/wine/wine
[ -x "$probe" ] || { echo "no 32-bit Wine loader at $probe (is wine32 installed?)"; exit 1; }
if ! "$probe" --version >/dev/null 2>&1; then
  echo "this kernel refuses 32-bit x86 programs (ia32 emulation is off: $(dmesg 2>/dev/null | grep -m1 -o '32-bit emulation disabled.*' || echo "exec of $probe failed"))"
  exit 1
fi
exit 0

#!/bin/bash
# Makes a delay-load import library out of a mingw-w64 import library: every
# function that SYSTEM_LIB imports from DLL_NAME gets an import slot
# (__imp__Name@N) and a call thunk (_Name@N) whose first call loads the DLL
# with LoadLibraryA (so the process's DLL search restriction applies), looks
# the function up, stores it in the slot and jumps to it; later calls go
# straight through the slot. The loading is done by OdrelResolveDelayImport
# (cli/delay_load.cc). Members of SYSTEM_LIB that are plain code (helpers
# such as in6addr_any in libws2_32.a) are copied in unchanged. Variables
# exported by the DLL are left out: using one fails at link time.
# (dlltool --output-delaylib of binutils 2.40 makes i386 libraries whose
# thunks ld drops, leaving null import slots.)
# Usage: delay-import-lib.sh CC AR NM SYSTEM_LIB DLL_NAME OUT_LIB
set -euo pipefail
cc="$1" ar="$2" nm="$3" system_lib="$4" dll_name="$5"
out="$(cd "$(dirname "$6")" && pwd)/$(basename "$6")"
base="$(basename "$system_lib" .a)"
tag="$(basename "$dll_name" .dll | tr -c 'A-Za-z0-9\n' '_')"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Import stubs are named <lib>t.o, <lib>h.o and <lib>sNNNNN.o.
"$ar" t "$system_lib" | grep -vE "^${base}(t|h|s[0-9]+)\.o$" >"$work/plain" || true

# A function has both __imp__Name@N and the thunk _Name@N; the DLL exports it
# as Name (stdcall decoration removed).
"$nm" -g "$system_lib" 2>/dev/null | awk '
  $2 == "I" && $3 ~ /^__imp__/ { imp[substr($3, 8)] = 1 }
  $2 == "T" { thunk[substr($3, 2)] = 1 }
  END { for (name in imp) if (name in thunk) print name }' | sort >"$work/functions"

# One object per function, as in an import library, so that only the
# functions used are linked, and a function that two import libraries list
# (CryptSIP* in crypt32 and wintrust) is taken from the first.
as="$("$cc" -print-prog-name=as)"
cat >"$work/dll.s" <<ASM
  .section .rdata
odrel_dll_name_$tag: .asciz "$dll_name"
  .data
  .balign 4
  .globl odrel_dll_$tag
odrel_dll_$tag: .long 0, odrel_dll_name_$tag
ASM
"$as" --32 "$work/dll.s" -o "$work/${tag}_delay_dll.o"
objects=("${tag}_delay_dll.o")
n=0
while read -r name; do
  cat >"$work/f$n.s" <<ASM
  .section .rdata
odrel_name: .asciz "${name%@*}"
  .data
  .balign 4
  .globl __imp__$name
__imp__$name: .long odrel_bind
  .text
  .globl _$name
_$name: jmp *__imp__$name
odrel_bind:
  pushl \$__imp__$name
  pushl \$odrel_name
  pushl \$odrel_dll_$tag
  call _OdrelResolveDelayImport
  addl \$12, %esp
  jmp *%eax
ASM
  "$as" --32 "$work/f$n.s" -o "$work/${tag}_delay_$n.o"
  objects+=("${tag}_delay_$n.o")
  n=$((n + 1))
done <"$work/functions"

rm -f "$out"
(cd "$work" && "$ar" rcs "$out" "${objects[@]}")
if [ -s "$work/plain" ]; then
  (cd "$work" && xargs -a plain "$ar" x "$system_lib" && xargs -a plain "$ar" rs "$out")
fi

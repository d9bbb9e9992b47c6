#!/bin/bash
# Where the launcher's bytes go: sums the sections that the linker placed in
# the image, by the library (archive) or object they came from, as the
# linker map written next to odrel.exe records them. Debug sections are left
# out (the release moves them into odrel.exe.debug), and so is .bss (it
# takes no room in the file).
# Usage: tools/size-report.sh [MAP]   (default $BUILD_DIR/odrel.map)
set -euo pipefail
source "$(dirname "$0")/env.sh"
map="${1:-$BUILD_DIR/odrel.map}"
[ -f "$map" ] || { echo "size-report: no linker map at $map (build first)" >&2; exit 1; }
awk '
  function hex(s,    i, n) {
    n = 0; s = tolower(substr(s, 3))
    for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return n
  }
  /^Linker script and memory map/ { in_map = 1; next }
  !in_map { next }
  # An output section starts in column 0.
  /^\.[^ ]/ { split($0, f, /[ \t]+/); out = f[1]; next }
  out ~ /^\.debug/ || out == ".bss" || out == "" { next }
  # An input section: " [.name] 0xADDRESS 0xSIZE FILE" (a long name stands
  # on the line before), or " *fill* 0xADDRESS 0xSIZE" for alignment.
  /^ / {
    n = split($0, f, /[ \t]+/)
    k = 2
    if (f[k] !~ /^0x/) k++
    if (f[k] !~ /^0x/ || f[k + 1] !~ /^0x/) next
    size = hex(f[k + 1])
    file = ""
    for (j = k + 2; j <= n; j++) file = file (file == "" ? "" : " ") f[j]
    if (size == 0) next
    if (file == "") lib = "alignment"
    else if (file == "dll stuff") lib = "base relocations"
    else if (file ~ /^(BYTE|SHORT|LONG|QUAD) /) lib = "alignment"
    else if (file ~ /objects\.a\(|libodrel_core\.a\(/) lib = "launcher (own code)"
    else if (file ~ /lib(crypto|ssl|curl)\.a\(/) { lib = file; sub(/\(.*$/, "", lib); sub(/.*\//, "", lib) }
    else if (file ~ /libboost_/) lib = "Boost (filesystem, thread, atomic)"
    else if (file ~ /libbreakpad/) lib = "Breakpad client"
    else if (file ~ /lib(std|sup)c\+\+\.a\(/) lib = "libstdc++"
    else if (file ~ /libgcc(_eh)?\.a\(/) lib = "libgcc"
    else if (file ~ /\/crt[^\/]*\.o$|lib(mingw32|mingwex|msvcrt|moldname|winpthread|pthread)\.a\(/) lib = "mingw-w64 C runtime, winpthread"
    else if (file ~ /lib[^\/]*\.a\(/) lib = "import tables (Windows DLLs)"
    else lib = file
    bytes[lib] += size; total += size
  }
  END {
    for (l in bytes) printf "%10d  %s\n", bytes[l], l | "sort -rn"
    close("sort -rn")
    printf "%10d  total of the sections above\n", total
  }
' "$map"

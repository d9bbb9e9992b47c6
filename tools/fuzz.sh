#!/bin/bash
# Builds the fuzz targets for the host with clang's libFuzzer and
# AddressSanitizer/UndefinedBehaviorSanitizer into $BUILD_DIR/fuzz and runs
# each for a bounded time (ODREL_FUZZ_SECONDS, default 30) on a scratch copy
# of its committed seed corpus (tests/fuzz_corpus/<target>/). Fails when a
# target crashes; the crashing input is left in $BUILD_DIR/fuzz/artifacts/.
# Arguments name targets to run (default: all).
set -euo pipefail
source "$(dirname "$0")/env.sh"
seconds="${ODREL_FUZZ_SECONDS:-30}"
out="$BUILD_DIR/fuzz"
mkdir -p "$out/artifacts"

# target name, then its sources
targets=(
  "options acquire/options_fuzzer.cc acquire/options.cc"
  "instance_name guard/instance_name_fuzzer.cc guard/instance_name.cc"
)
flags=(-std=c++11 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$ODREL_ROOT")

selected=("$@")
status=0
for entry in "${targets[@]}"; do
  read -r name sources <<<"$entry"
  if [ "${#selected[@]}" -gt 0 ] && [[ " ${selected[*]} " != *" $name "* ]]; then
    continue
  fi
  printf '\n==> Fuzzing %s for %s s\n' "$name" "$seconds"
  (cd "$ODREL_ROOT" && clang++ "${flags[@]}" $sources -o "$out/${name}_fuzzer")
  corpus="$out/corpus/$name"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp "$ODREL_ROOT/tests/fuzz_corpus/$name/"* "$corpus/"
  if ! UBSAN_OPTIONS=print_stacktrace=1 "$out/${name}_fuzzer" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
      -artifact_prefix="$out/artifacts/${name}-" "$corpus" 2>"$out/$name.log"; then
    tail -40 "$out/$name.log"
    printf '==> %s: crash, input in %s\n' "$name" "$out/artifacts/"
    status=1
  else
    grep -E "stat::number_of_executed_units|stat::new_units_added" "$out/$name.log" | tr '\n' ' '
    echo
  fi
done
exit "$status"

#!/usr/bin/env bash
# A longer fuzzing run of every target:
#   scripts/fuzz.sh [SECONDS per target] [RUNS per target]
# Each target stops at whichever limit comes first. New inputs go to
# build/asan/fuzz/found-*; crashes to build/asan/fuzz/. Prints per target
# the inputs run, the seconds taken and the findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
runs=${2:--1}
bash scripts/install-deps.sh >/dev/null
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan >/dev/null
cd build/asan/fuzz
# A small quarantine keeps ASan's 32-bit allocator inside the address space
# that qemu-i386 gives a process, where the machine needs emulation.
export ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=16:malloc_context_size=8
for target in address reply log; do
  mkdir -p "found-$target"
  start=$(date +%s)
  status=0
  ./${target}_fuzz -max_total_time="$seconds" -runs="$runs" -detect_leaks=0 -rss_limit_mb=1024 \
    -print_final_stats=1 "found-$target" "../../../fuzz/corpus/$target" >"$target.log" 2>&1 || status=$?
  took=$(( $(date +%s) - start ))
  inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$target.log")
  findings=$(find . -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  echo "$target: ${inputs:-?} inputs in $took s, $findings findings (exit $status)"
  [ "$status" = 0 ] || tail -30 "$target.log"
done

#!/usr/bin/env bash
# A longer fuzzing run of every target: scripts/fuzz.sh [SECONDS per target]
# New inputs go to build/asan/fuzz/found-*; crashes to build/asan/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
bash scripts/install-deps.sh >/dev/null
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan >/dev/null
cd build/asan/fuzz
# A small quarantine keeps ASan's 32-bit allocator inside the address space
# that qemu-i386 gives a process, where the machine needs emulation.
export ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=16:malloc_context_size=8
for target in address reply; do
  echo "=== $target for $seconds s"
  ./${target}_fuzz -max_total_time="$seconds" -detect_leaks=0 -rss_limit_mb=1024 \
    found-$target ../../../fuzz/corpus/$target 2>&1 | grep -E "^#[0-9]+ +(DONE|pulse)|ERROR|Done" | tail -3
done

#!/usr/bin/env bash
# Runs the benchmarks and writes bench/results.md (shown in README).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh >/dev/null
for preset in native cross; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
out=bench/results.md
plcsim=build/native/tools/plcsim
cpu=$(grep -m1 "model name" /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')
emulated=""
/lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] ||
  emulated=" The kernel of this machine runs no i386 programs, so every figure below is of the driver running under qemu-i386 user-mode emulation (Wine included); on real 32-bit-capable hardware the overheads are far smaller."
{
  echo "## Benchmarks"
  echo
  echo "Run on $(date -u +%Y-%m-%d) on $(uname -m), $(nproc) cores, ${cpu:-unknown CPU}.$emulated"
  build/native/bench/bench_driver "$plcsim" efficiency overhead failure heap
  echo
  echo "### CPU instructions per exchange (callgrind, in-memory port)"
  echo
  count() {
    valgrind --tool=callgrind --callgrind-out-file=/tmp/lumisar-cg.$1 \
      build/native/bench/bench_driver --callgrind "$1" >/dev/null 2>&1 &&
      grep -m1 "^summary:" /tmp/lumisar-cg.$1 | awk '{print $2}'
  }
  if a=$(count 10) && b=$(count 110) && [ -n "$a" ] && [ -n "$b" ]; then
    echo "| single word read, driver and in-memory port | $(( (b - a) / 100 )) instructions |"
    echo "|---|---|"
  else
    echo "Not measurable here: valgrind cannot run i386 programs under qemu-i386 emulation."
    echo "On a machine that runs i386 programs, this script prints the count."
  fi
  echo
  echo "### The real LUMISAR.DLL under Wine over an unpaced pty"
  echo
  . scripts/wine-env.sh
  wine_prefix_ready "$root/build/cross" >/dev/null
  wine_server_start
  "$plcsim" --quiet --link "$WINE_LINKS/com5" > /tmp/lumisar-bench-sim.out 2>&1 &
  sim=$!
  for _ in $(seq 1 100); do grep -q "^plcsim: pty" /tmp/lumisar-bench-sim.out && break; sleep 0.1; done
  line=$(cd build/cross/bin && wine zubhost.exe --port COM5 --parity none --timeout 50 \
    repeat 200 0140000 word | grep "^repeat" || true)
  kill $sim 2>/dev/null || true
  wine_server_stop
  echo "| exchange | result |"
  echo "|---|---|"
  echo "| read word, 200 times | ${line#repeat 200 reads of 0140000 word: } |"
} | tee "$out"

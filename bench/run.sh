#!/usr/bin/env bash
# Runs the benchmarks and writes bench/results.md (shown in README).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh >/dev/null
. scripts/wait-and-check.sh
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
  build/native/bench/bench_driver "$plcsim" efficiency echo overhead failure heap scaling latency spoiled faults
  echo
  echo "### CPU instructions per single word read (callgrind, in-memory port)"
  echo
  # Two runs, 10 and 110 reads; the difference over 100 is one read. Each
  # count is the inclusive cost of the named functions.
  count() {
    valgrind --tool=callgrind --callgrind-out-file=/tmp/lumisar-cg.$1 \
      build/native/bench/bench_driver --callgrind "$1" >/dev/null 2>&1 || return 1
  }
  incl() {  # FILE PATTERN: the inclusive instructions of the functions that match
    callgrind_annotate --inclusive=yes --threshold=100 "$1" 2>/dev/null | grep -v "=>" | grep -E "$2" |
      awk '{ gsub(",", "", $1); s += $1 } END { print s + 0 }'
  }
  per() { echo $(( ($(incl /tmp/lumisar-cg.110 "$1") - $(incl /tmp/lumisar-cg.10 "$1")) / 100 )); }
  if command -v valgrind >/dev/null && count 10 && count 110; then
    whole=$(( ($(grep -m1 "^summary:" /tmp/lumisar-cg.110 | awk '{print $2}') -
               $(grep -m1 "^summary:" /tmp/lumisar-cg.10 | awk '{print $2}')) / 100 ))
    zub=$(per "zubmain.cpp:ZubMain ")
    host=$(per "quarne_sub.cpp:quarne_err ")
    # The Win32 calls the driver makes; the in-memory line's simulator runs
    # inside WriteFile.
    win=$(per "winsub/comm.cpp:(ReadFile|WriteFile|ClearCommError|GetCommTimeouts|SetCommTimeouts|PurgeComm) ")
    sim=$(per "sim_core.cpp:SimFeed")
    echo "| part | instructions per read |"
    echo "|---|---|"
    echo "| **the driver's own work** (ZubMain less the two below) | **$(( zub - host - win ))** |"
    echo "| the host library's formatting of the 8 trace lines (\`err\`) | $host |"
    echo "| the Win32 calls (substitute layer, with the simulator's $sim) | $win |"
    echo "| the whole process | $whole |"
  else
    echo "Not measurable here: valgrind cannot run i386 programs under qemu-i386 emulation."
    echo "On a machine that runs i386 programs, this script prints the count."
  fi
  echo
  echo "### Log analysis (zubhost analyze, native build)"
  echo
  # A log of a run with faults, repeated to a million lines.
  tmp=$(mktemp -d)
  "$plcsim" --quiet --station 1 --link "$tmp/com5" --control "$tmp/ctl" \
    --fault bad-lrc:40 --fault no-answer:20 --fault no-ack:30 > "$tmp/sim.out" 2>&1 &
  sim=$!
  wait_for 10 grep -q "^plcsim: pty" "$tmp/sim.out" || { echo "plcsim did not start" >&2; exit 1; }
  build/native/tools/zubhost --map "COM5=$tmp/com5" --port COM5 --parity none --timeout 2 \
    --log-file "$tmp/one.log" repeat 2000 0140000 word read 0740000 word >/dev/null || true
  kill $sim 2>/dev/null || true
  n=$(wc -l < "$tmp/one.log")
  for _ in $(seq 1 $(( 1000000 / n + 1 ))); do cat "$tmp/one.log"; done > "$tmp/many.log"
  sed -n '1,1000000p' "$tmp/many.log" > "$tmp/big.log"
  sed -n '1,100000p' "$tmp/many.log" > "$tmp/small.log"
  echo "| lines | output | seconds | peak memory |"
  echo "|---|---|---|---|"
  for f in small big; do
    for out in "--json" "--html $tmp/page.html"; do
      /usr/bin/time -f "%e %M" -o "$tmp/time" build/native/tools/zubhost analyze $out "$tmp/$f.log" >/dev/null
      read -r secs kb < "$tmp/time"
      echo "| $(wc -l < "$tmp/$f.log") | ${out%% *} | $secs | $(( kb / 1024 )) MiB |"
    done
  done
  rm -rf "$tmp"
  echo
  echo "### The real LUMISAR.DLL under Wine over an unpaced pty"
  echo
  . scripts/wine-env.sh
  wine_prefix_ready "$root/build/cross" >/dev/null
  wine_server_start
  : >/tmp/lumisar-bench-sim.out
  "$plcsim" --quiet --link "$WINE_LINKS/com5" > /tmp/lumisar-bench-sim.out 2>&1 &
  sim=$!
  wait_for 10 grep -q "^plcsim: pty" /tmp/lumisar-bench-sim.out || { echo "plcsim did not start" >&2; exit 1; }
  line=$(cd build/cross/bin && wine zubhost.exe --port COM5 --parity none --timeout 50 \
    repeat 200 0140000 word | tr -d '\r' | grep "^repeat" || true)
  kill $sim 2>/dev/null || true
  wine_server_stop
  echo "| exchange | result |"
  echo "|---|---|"
  echo "| read word, 200 times | ${line#repeat 200 reads of 0140000 word: } |"
} | tee "$out"

#!/usr/bin/env bash
# The driver's main job, end to end: installs what is missing, builds, starts
# the controller simulator on a pseudo-terminal with some memory preloaded,
# and runs the command-line host with the real LUMISAR.DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
for preset in native cross; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
build=$root/build/cross
. scripts/wine-env.sh
. scripts/wait-and-check.sh
wine_prefix_ready "$build"

run=$(mktemp -d)
sim=
cleanup() { [ -n "$sim" ] && kill "$sim" 2>/dev/null; wine_server_stop; rm -rf "$run"; }
trap cleanup EXIT
# The simulator keeps to 19200 baud, so the exchange times below are those
# of a real line.
build/native/tools/plcsim --quiet --load tools/plcsim/demo-memory.txt --baud 19200 \
  --link "$WINE_LINKS/com5" > "$run/sim.out" 2>&1 &
sim=$!
wait_for 10 grep -q "^plcsim: pty" "$run/sim.out" || { echo "plcsim did not start: $(cat "$run/sim.out")"; exit 1; }
echo "controller simulator: $(head -1 "$run/sim.out"), stations 01 and 02, 19200 baud, on COM5"

wine_server_start
cd "$build/bin"
echo "The line runs at 19200 baud, 8 data bits, no parity, one stop bit: a pseudo-terminal"
echo "carries no parity, so both ends run at parity none here. The driver's default, the"
echo "controllers' factory setting, is 19200 baud, 8 data bits, one stop bit, odd parity."
wine zubhost.exe --port COM5 --parity none --timeout 20 \
  note "The driver describes itself; its defaults are 19200 baud, 8 data bits, one stop bit, odd parity" \
  describe \
  note "Single values of every type" \
  read 0140000 word read 0140002L long read 0140004F float read 01400108 bit \
  write 0140000 word 0xBEEF read 0140000 word \
  write 0140002L long 4000000000 read 0140002L long \
  write 0140004F float -12.625 read 0140004F float \
  note "A bit write reads the word, changes one bit and writes it back" \
  read 0140010 word write 01400103 bit 1 read 0140010 word \
  note "Blocks" read-block 0102000 8 write-block 0240000L 1,2,3,4 read-block 0240000L 4 \
  note "Polling two tags" poll 3 200 0140000:word,0140004F:float \
  note "A refused address: a 32-bit value must start at an even octal address" \
  resolve 0140001L long \
  note "A controller that is not on the line (PLC 07): six attempts of the 200 ms reply time limit, then result 2" \
  read 0740000 word \
  note "One exchange, traced and decoded. V40000 is word 16384 (octal 40000); the header says 16385 because the protocol counts words from 1" \
  decode on read 0140000 word || true

#!/usr/bin/env bash
# The long soak through the real LUMISAR.DLL under Wine: EXCHANGES exchanges
# of every kind against the simulator with a random single fault before a
# third of them; every value read is checked against a shadow model, and the
# simulator's memory at the end. The test command runs 300 of them.
#   wine-soak.sh [EXCHANGES]   (default 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >/dev/null
for preset in native cross; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
LUMISAR_WINE_SOAK=${1:-10000} bash scripts/wine-suite.sh build/cross build/native/tools/plcsim WineSoak

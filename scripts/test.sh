#!/usr/bin/env bash
# Installs what is missing, builds the three configurations and runs every
# test: the native i386 build, the same with AddressSanitizer and
# UndefinedBehaviorSanitizer, and LUMISAR.DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in native native-asan cross; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

#!/usr/bin/env bash
# Installs what is missing, builds the three configurations and runs every
# test: the native i386 build, the same with AddressSanitizer and
# UndefinedBehaviorSanitizer, and LUMISAR.DLL under Wine. A configuration
# that fails does not stop the others; the last line totals the cases of
# every suite, and the exit status is non-zero if any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
declare -A dirs=([native]=build/native [native-asan]=build/asan [cross]=build/cross)
logs=(/dev/null)
unbuilt=0
for preset in native native-asan cross; do
  echo "=== $preset"
  log=${dirs[$preset]}/Testing/Temporary/LastTest.log
  rm -f "$log"
  if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; then
    ctest --preset "$preset"
  fi
  # A configuration that did not build, or ran nothing, is one failed case.
  [ -f "$log" ] && logs+=("$log") || { echo "=== $preset did not build"; unbuilt=$((unbuilt + 1)); }
done
echo "==="
awk -v unbuilt="$unbuilt" -f scripts/test-summary.awk "${logs[@]}"

#!/usr/bin/env bash
# scripts/test.sh decides whether CI is green: run here with stand-ins for
# cmake and ctest, each configuration leaves a saved LastTest.log
# (tests/data/runner/) where its preset puts it, and the run must end with
# the total line and exit status of its row.
#   runner_test.sh SOURCE_DIR
set -u
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/tree/scripts"
cp "$src/scripts/test.sh" "$src/scripts/test-summary.awk" "$work/tree/scripts/"
cp "$src/CMakePresets.json" "$work/tree/"
echo 'exit 0' >"$work/tree/scripts/install-deps.sh"
# The build of a configuration whose log is - (none) or old: fails.
printf '%s\n' '#!/bin/sh' '[ "$1" != --build ] || [ "${LOGS#*$3=[-o]}" = "$LOGS" ]' >"$work/bin/cmake"
printf '%s\n' '#!/bin/sh' 'dir=$(sed -n "/\"name\": \"$2\"/,/binaryDir/s|.*\${sourceDir}/\([^\"]*\).*|\1|p" CMakePresets.json)' \
  'log=${LOGS#*$2=}' 'mkdir -p "$dir/Testing/Temporary" && cp "$DATA/${log%% *}" "$dir/Testing/Temporary/LastTest.log"' >"$work/bin/ctest"
chmod +x "$work/bin/cmake" "$work/bin/ctest"
# native, native-asan and cross logs | the total line | exit status
rows=(
  "pass.log pass.log pass.log|tests: 390 passed, 0 failed, 0 skipped|0"
  "pass.log pass.log skip.log|tests: 310 passed, 0 failed, 1 skipped|0"
  "fail.log pass.log pass.log|tests: 275 passed, 2 failed, 0 skipped|1"
  "pass.log pass.log crash.log|tests: 270 passed, 1 failed, 0 skipped|1"
  "pass.log sanitizer.log pass.log|tests: 271 passed, 2 failed, 0 skipped|1"
  "pass.log pass.log -|tests: 260 passed, 1 failed, 0 skipped|1"
  "pass.log pass.log old:pass.log|tests: 260 passed, 1 failed, 0 skipped|1"
  "cut.log pass.log cut.log|tests: 150 passed, 2 failed, 0 skipped|1"
)
. "$src/scripts/wait-and-check.sh"
for row in "${rows[@]}"; do
  read -r native asan cross <<<"${row%%|*}"
  rm -rf "$work/tree/build"
  mkdir -p "$work/tree/build/cross/Testing/Temporary"
  [ "${cross#old:}" = "$cross" ] || cp "$src/tests/data/runner/${cross#old:}" "$work/tree/build/cross/Testing/Temporary/LastTest.log"
  LOGS="native=$native native-asan=$asan cross=$cross " DATA=$src/tests/data/runner PATH="$work/bin:$PATH" \
    bash "$work/tree/scripts/test.sh" >"$work/out" 2>&1
  status=$?
  got="$(tail -1 "$work/out")|$status"
  expected=${row#*|}
  [ "$got" = "$expected" ]
  check "${row%%|*}" $? "$got, not $expected" || cat "$work/out"
done
checks_done

# Sourced by the scripts and the test scripts: waiting for what the next
# step needs (a simulator's pty, a file, a line of output, a process gone),
# and counting a test script's cases as scripts/test-summary.awk and CTest
# read them.

# wait_for SECONDS COMMAND...: true as soon as COMMAND succeeds, tried every
# tenth of a second; false once it has failed SECONDS * 10 tries. A loaded
# or emulated machine makes each try slower, so the bound only grows there.
wait_for() {
  local tries=$(($1 * 10))
  shift
  while [ "$tries" -gt 0 ]; do
    "$@" && return 0
    tries=$((tries - 1))
    sleep 0.1
  done
  return 1
}

# ended PID: true once the process has gone (to wait for with wait_for).
ended() {
  ! kill -0 "$1" 2>/dev/null
}

# A test script's cases: check after each, skip for one that cannot run on
# this machine, checks_done for the counts line at the end.
passed=0
failed=0
skipped=0

# check NAME STATUS [DETAIL]: one case, passed if STATUS (taken before any
# $(...) of the detail) is 0; false if it failed.
check() {
  if [ "$2" = 0 ]; then
    passed=$((passed + 1))
    return 0
  fi
  failed=$((failed + 1))
  echo "FAIL $1${3:+: $3}"
  return 1
}

# skip NAME REASON: one case that cannot run here (no colon in the name: it
# ends the name in the logs).
skip() {
  skipped=$((skipped + 1))
  echo "SKIP ${1//:/}: $2"
}

# checks_done: the counts line; false if a case failed.
checks_done() {
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" = 0 ]
}

#!/usr/bin/env bash
# The smallest case behind the one Windows tools' check that is skipped
# where i386 runs under qemu: Ctrl-C (SIGINT) to a Wine console program.
# Wine runs the console's Ctrl-C handler on a thread of its own; natively
# zubhost.exe analyze --follow then ends with its final summary, while
# under qemu's emulation that thread crashes Wine or the signal is lost.
#   wine-ctrl-c.sh CROSS_BUILD_DIR [TRIES]
# Prints one line a try: "summary" (ended as on Windows), "crashed" (the
# process died without its summary) or "ignored" (still running a minute on).
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
tries=${2:-3}
. "$here/wine-env.sh"
. "$here/wait-and-check.sh"
wine_prefix_ready "$build" || exit 1
wine_server_start
run=$(mktemp -d)
trap 'wine_server_stop; rm -rf "$run"' EXIT
: >"$run/empty.log"
cd "$build/bin"
for try in $(seq 1 "$tries"); do
  wine zubhost.exe analyze --follow "Z:$run/empty.log" >"$run/out" 2>&1 &
  pid=$!
  # Started once it has looked at the log: its first summary line.
  wait_for 300 grep -q "operations so far" "$run/out"
  kill -INT "$pid"
  if wait_for 60 ended "$pid"; then
    wait "$pid"
    status=$?
    if grep -q '^log: ' "$run/out"; then echo "try $try: summary"; else echo "try $try: crashed (status $status)"; fi
  else
    echo "try $try: ignored"
    kill -KILL "$pid"
  fi
done

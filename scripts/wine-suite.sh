#!/usr/bin/env bash
# Runs the Wine test suite: the controller simulator on COM5, an echo peer on
# COM6, an X server for the dialog, then wine_suite.exe in one process.
#   wine-suite.sh BUILD_DIR PLCSIM [part of a test name | -part of a test name]
# (a leading - runs every test but those)
# LUMISAR_EMULATED=1 takes the branch of machines that run i386 programs
# under qemu, on any machine.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# The whole run under an X server of its own for the dialog tests, on the
# first free display; without Xvfb, no display and the dialog tests skip.
if [ -z "${LUMISAR_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
  LUMISAR_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$here/wine-suite.sh" "$@"
fi
[ -n "${LUMISAR_XVFB:-}" ] || DISPLAY=
build=$(cd "$1" && pwd)
plcsim=$2
filter=${3:-}
gtest_filter="*$filter*"
[ "${filter:0:1}" = - ] && gtest_filter="-*${filter:1}*"
. "$here/wine-env.sh"
. "$here/wait-and-check.sh"
wine_prefix_ready "$build" || exit 1

run=$(mktemp -d)
pids=()
cleanup() {
  touch "$run/done"
  [ -f "$run/sim2.pid" ] && kill "$(cat "$run/sim2.pid")" 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  [ -n "${KEEP_RUN:-}" ] && cp -r "$run" "$KEEP_RUN"
  rm -rf "$run"
}
trap cleanup EXIT

# Waits until a simulator has said that its line is ready.
start_sim() {
  local out=$1; shift
  "$plcsim" "$@" > "$out" 2>"$out.err" &
  pids+=($!)
  wait_for 10 grep -q "^plcsim: pty" "$out" && return 0
  echo "plcsim did not start: $(cat "$out.err")"; return 1
}

start_sim "$run/sim.out" --quiet --station 1 --station 2 --link "$WINE_LINKS/com5" --control "$run/sim.fifo" || exit 1
start_sim "$run/echo.out" --echo --link "$WINE_LINKS/com6" || exit 1
# A second controller (station 03) on COM7, also reached as COM8, that the
# suite asks this runner to kill and start again: a vanishing device.
sim2=(--quiet --station 3 --link "$WINE_LINKS/com7" --control "$run/sim2.fifo")
start_sim "$run/sim2.out" "${sim2[@]}" || exit 1
echo "${pids[-1]}" >"$run/sim2.pid"
ln -sfn "$WINE_LINKS/com7" "$WINE_LINKS/com8"
(
  while [ ! -e "$run/done" ]; do
    if [ -e "$run/request" ]; then
      case $(cat "$run/request") in
        kill) kill -9 "$(cat "$run/sim2.pid")" ;;
        kill-later) (sleep 0.15; kill -9 "$(cat "$run/sim2.pid")") & ;;
        start | start-paced | start-echo)
          # A line paced at 19200 baud with noise on it, the same line as a
          # two-wire RS-485 converter's that echoes, or the plain one back.
          paced=()
          [ "$(cat "$run/request")" != start ] && paced=(--baud 19200 --parity none --seed 0x5EED)
          [ "$(cat "$run/request")" = start-echo ] && paced+=(--echo)
          kill -9 "$(cat "$run/sim2.pid")" 2>/dev/null
          : >"$run/sim2.out"
          "$plcsim" "${sim2[@]}" "${paced[@]}" >"$run/sim2.out" 2>&1 &
          echo $! >"$run/sim2.pid"
          wait_for 5 grep -q "^plcsim: pty" "$run/sim2.out" ;;
      esac
      rm -f "$run/request"
    fi
    sleep 0.02
  done
) &
pids+=($!)
# Wine's threads crash inside qemu's emulation: the suite skips what needs
# two threads at once there.
emulated=${LUMISAR_EMULATED:-}
[ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 &&
  emulated=1

# With LUMISAR_SCREENSHOT set to a PNG path, the dialog test asks for a
# picture of the screen while the dialog shows; a virtual desktop gives the
# windows their captions.
shots=""
launcher=()
if [ -n "${LUMISAR_SCREENSHOT:-}" ] && [ -n "$DISPLAY" ]; then
  shots="$run/shots"
  mkdir -p "$shots"
  [ "${LUMISAR_SHOT_DESKTOP:-0}" = 1 ] && launcher=(explorer /desktop=shot,640x480)
  (
    while [ ! -e "$shots/done" ]; do
      if [ -e "$shots/request" ]; then
        sleep 1
        xwd -root -silent | convert xwd:- -crop 640x480+0+0 -trim +repage "$LUMISAR_SCREENSHOT"
        touch "$shots/done"
      fi
      sleep 0.2
    done
  ) &
  pids+=($!)
fi

wine_server_start
cd "$build/bin"
LUMISAR_SIM_CONTROL="$run/sim.fifo" LUMISAR_SIM_CONTROL2="$run/sim2.fifo" LUMISAR_RUNNER_DIR="$run" \
  LUMISAR_SHOT_DIR="$shots" LUMISAR_EMULATED="$emulated" \
  wine "${launcher[@]}" wine_suite.exe ${filter:+"--gtest_filter=$gtest_filter"}
rc=$?
wine_server_stop
exit $rc

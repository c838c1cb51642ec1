#!/usr/bin/env bash
# The tools as a user meets them: zubhost's and plcsim's words for every
# mistake, and zubhost analyze on the log of a scripted run whose faults
# are known, read under two hosts' line prefixes and damaged on purpose; the
# analysis as a page in Chromium and live in a terminal under tmux; the scan
# of a line.
#   tools_test.sh ZUBHOST PLCSIM SOAK
# The same tables a second time against zubhost.exe and plcsim.exe under
# Wine, with the Linux simulator on the far end of the line; what exists on
# Linux alone is skipped with its reason. Where i386 runs under qemu, each
# Wine start costs a minute or two, and the tools' mains run instead in one
# long-lived Wine process each (tests/wine/tool_server.cpp):
#   tools_test.sh --wine CROSS_BUILD_DIR PLCSIM
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/wait-and-check.sh"
wine=
served=
servers=()  # the tool servers' queues
if [ "${1:-}" = --wine ]; then
  wine=$(cd "$2" && pwd)
  sim=$(realpath "$3")
  soak=
  if [ "${LUMISAR_EMULATED:-}" = 1 ] || grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    served=1
    # A served tool reads the input it is given, never the test's own.
    exec </dev/null
  fi
  . "$here/../scripts/wine-env.sh"
  wine_prefix_ready "$wine" || exit 1
  wine_server_start
  links=$WINE_LINKS
else
  zubhost=$(realpath "$1")
  plcsim=$(realpath "$2")
  soak=$(realpath "$3")
  sim=$plcsim
fi
run=$(mktemp -d)
[ -n "$wine" ] || links=$run
if [ -n "$wine" ]; then
  # Each tool as one command, as the Linux builds are.
  mkdir "$run/bin"
  for tool in zubhost plcsim; do
    if [ -n "$served" ]; then
      queue=$run/$tool.queue
      mkdir "$queue"
      servers+=("$queue")
      wine "$wine/bin/${tool}_server.exe" "Z:$queue" "$tool" >"$run/$tool.server.out" 2>&1 &
      echo $! >"$queue/server.pid"
      printf '#!/bin/sh\nexec bash "%s" "%s" "$@"\n' "$here/wine/tool_client.sh" "$queue" >"$run/bin/$tool"
    else
      printf '#!/bin/sh\nexec bash "%s" "%s" "$@"\n' "$here/wine/wine_tool.sh" "$wine/bin/$tool.exe" >"$run/bin/$tool"
    fi
    chmod +x "$run/bin/$tool"
  done
  for queue in "${servers[@]}"; do
    wait_for 600 test -e "$queue/serving" || { echo "the tool server in $queue did not start: $(cat "$queue/../"*.server.out)"; exit 1; }
  done
  zubhost=$run/bin/zubhost
  plcsim=$run/bin/plcsim
fi
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  for queue in "${servers[@]}"; do touch "$queue/quit"; done
  tmux -L "lumisar-$$" kill-server 2>/dev/null
  wait 2>/dev/null
  [ -z "$wine" ] || wine_server_stop
  [ -n "${KEEP_RUN:-}" ] && cp -r "$run" "$KEEP_RUN"; rm -rf "$run"
}
trap cleanup EXIT

start_sim() {  # [LINK [plcsim options]]: the scripted run's simulator by default
  local link=${1:-com5}
  [ $# -gt 0 ] && shift || set -- --station 1 --station 2 --station FF --control "$run/sim.fifo"
  # The last one goes first, and takes its link with it.
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  # Its output emptied here: the wait below must not read the last one's.
  : >"$run/sim.out"
  "$sim" --quiet --link "$links/$link" "$@" >"$run/sim.out" 2>&1 &
  sim_pid=$!
  wait_for 5 grep -q "^plcsim: pty" "$run/sim.out" && return 0
  echo "plcsim did not start: $(cat "$run/sim.out")"
  exit 1
}

# COMn for zubhost: on Linux a name mapped to the simulator's link; Wine's
# own COMn leads to the same link.
map() { [ -n "$wine" ] || echo "--map $1=$links/${1,,}"; }
# Windows has no /dev/stdin: its name for standard input is "-" alone.
dev_stdin=/dev/stdin
[ -z "$wine" ] || dev_stdin=-
host() { "$zubhost" $(map COM5) --port COM5 --parity none --timeout 5 "$@"; }

# --- Every mistake named, with the values accepted ----------------------------
echo "01 40000 x" >"$run/bad-memory.txt"
# program | exit code | words the output must hold | arguments
mkfifo "$run/fifo"
: >"$run/file"
messages=(
  "zubhost|0|19200 baud, 8 data bits, 1 stop bit, parity odd|describe"
  "zubhost|1|COM9: the port could not be opened|--port COM9 read 0540000 word --parity=none --stop=1.5"
  "zubhost|2|--port takes a device name of at most 11 characters|--port COM123456789012 describe"
  "zubhost|1|open CO\\x1B[31mM\\x01: the port could not be opened|--port \$'CO\\x1b[31mM\\x01' read 0140000 word"
  "zubhost|2|--map takes NAME=PATH|--map COM5 describe"
  "zubhost|5|--log-file cannot open|--log-file /nonexistent/dir/x.log describe"
  "zubhost|5|--log-file cannot open \"$run\" for writing: it is a folder|--log-file $run describe"
  "zubhost|5|analyze cannot write the page to \"$run\": it is a folder|analyze --html $run $run/file"
  "zubhost|5|--log-file cannot open \"$run/fifo\" for writing: it is a FIFO that nothing reads|--log-file $run/fifo describe"
  "zubhost|5|analyze cannot write the timeline to \"$run/fifo\": it is a FIFO that nothing reads|analyze --svg $run/fifo $run/file"
  "zubhost|2|--map takes NAME=PATH, such as COM5=/dev/pts/3 (not \"COM5=\")|--map COM5= describe"
  "zubhost|2|--map takes NAME=PATH, such as COM5=/dev/pts/3 (not \"=/dev/null\")|--map =/dev/null describe"
  "zubhost|2|--map names COM5 twice (/dev/null and /dev/zero): one path a name|--map COM5=/dev/null --map COM5=/dev/zero describe"
  "zubhost|2|--port takes a device name of at most 11 characters (not \"\")|--port '' describe"
  "zubhost|2|unknown option --speed|--speed 9600 describe"
  "zubhost|0|line speed, 110 to 65535 (default 19200)|--help"
  "zubhost|0|4  a log file could not be read|--help"
  "zubhost|0|An option given twice keeps its last value, unless it says \"again for more\".|--help"
  "zubhost|0|    --stations FIRST-LAST  stations to try, hexadecimal (default 1-5A)|--help"
  "zubhost|2|unknown command \"reed\"; did you mean \"read\"?|reed 0140000 word"
  "zubhost|2|read takes 2 arguments: read TEXT TYPE$|read 0140000"
  "zubhost|2|unknown type dword: the types are word, bit, long, float|read 0140000 dword"
  "zubhost|2|a word value is a whole number from -32768 to 65535 (not \"70000\")|write 0140000 word 70000"
  "zubhost|2|a float value is a number such as -12.625 (not \"x\")|write 0140004F float x"
  "zubhost|2|a float value is too large for a 32-bit float|write 0140004F float 1e39"
  "zubhost|2|a float value is a number such as -12.625 (not \" 1.5\")|write 0140004F float ' 1.5'"
  "zubhost|2|a float value is a number such as -12.625 (not \"\")|write 0140004F float ''"
  "zubhost|2|a float value is too small for a 32-bit float|write 0140004F float -1e-50"
  "zubhost|1|COM9: the port could not be opened|--port COM9 --baud 09600 write 0140004F float -inf"
  "zubhost|2|block:COUNT takes a whole number from -2147483648 to 2147483647 (not \"99999999999\")|resolve 0140000L block:99999999999"
  "zubhost|1|refused: it has 50 characters; a word takes 7|poll 1 0 0140000$(printf %043d 0):word"
  "zubhost|2|read-block COUNT takes a whole number from 0 to 128 (not \"129\")|read-block 0100000 129"
  "zubhost|2|write-block takes values such as 1,2,0x1234 (32-bit each; at \"1.5\")|write-block 0140004L 1.5"
  "zubhost|2|a float value is too large for a 32-bit float|write-block 0140004F 1,1e39"
  "zubhost|2|write-block takes at most 64 32-bit values|write-block 0100000L $(seq -s, 1 65)"
  "zubhost|2|decode takes on or off|decode yes"
  "zubhost|2|^zubhost: a float value is too large|--port COM9 write 0140000 word 5 write 0140004F float 1e39"
  "zubhost|2|^zubhost: decode takes on or off|--port COM9 note first read 0140000 word decode yes"
  "zubhost|2|^zubhost: unknown type dword|--port COM9 read 0140000 word poll 1 0 0140000:word,0140002L:dword"
  "zubhost|2|^zubhost: --bauds takes one or more values, such as 19200,9600 (not \"9600,\")|--port COM9 read 0140000 word scan --bauds=9600,"
  "zubhost|2|^zubhost: analyze needs one or more log files|--port COM9 read 0140000 word analyze --json"
  "zubhost|2|^zubhost: analyze will not write over its input|--port COM9 read 0140000 word analyze --svg $run/swapped.log $run/swapped.log"
  "zubhost|2|--parities takes one or more values, such as odd,none (not \"none,,odd\")|scan --parities=none,,odd"
  "zubhost|2|write-block takes one or more values, such as 1,2,0x1234 (not \"\")|write-block 0140000 ''"
  "zubhost|2|write-block takes one or more values, such as 1,2,0x1234 (not \"1,\")|write-block 0140000 1,"
  "zubhost|2|poll takes one or more values, such as 0140000:word,0140002L:long (not \"0140000:word,\")|poll 1 1 0140000:word,"
  "zubhost|0|read-block 0140000, 0 elements: address accepted, nothing sent|--port COM9 read-block 0140000 0"
  "zubhost|2|--stations takes FIRST-LAST in hexadecimal, 01 to FF (not \"0-5A\")|scan --stations 0-5A"
  "zubhost|2|--parities takes none, odd, even, mark or space (not \"oddd\")|scan --parities odd,oddd"
  "zubhost|2|--bauds takes one or more values, such as 19200,9600 (not \"\")|scan --bauds ''"
  "zubhost|2|--parities takes one or more values, such as odd,none (not \",\")|scan --parities ,"
  "zubhost|1|open COM9: the port could not be opened at any setting|--port COM9 scan --stations 1-1 --bauds 9600"
  "zubhost|1|scan COM9: stations 01 to 01, at most 1 setting;|--port COM9 scan --stations 1-1 --bauds 9600 --parities none"
  "zubhost|1|0 stations found: no setting could be tried|--port COM9 scan --stations 1-1 --bauds 9600 --parities none"
  "zubhost|0|-> PLC 1, 32-bit value number 8193 (word address 16385), bit 255, width 32|resolve 0140000L long"
  "zubhost|2|--map takes at most 16 names, each to a path of at most 255 characters|--map COM5=/$(printf %0255d 0) describe"
  "zubhost|1|COM5 is /dev/nonexistent (--map), which cannot be opened|--map COM5=/dev/nonexistent --port COM5 read 0140000 word"
  "zubhost|1|COM5 is /dev/null (--map), a device that is not a terminal, not a serial line|--map COM5=/dev/null --port COM5 read 0140000 word"
  "zubhost|1|COM5 is $run/file (--map), a regular file, not a serial line|--map COM5=$run/file --port COM5 read 0140000 word"
  "zubhost|1|COM5 is $run/fifo (--map), a FIFO, not a serial line|--map COM5=$run/fifo --port COM5 read 0140000 word"
  "zubhost|2|give it one: --map COM5=/dev/ttyUSB0 --port COM5|--port /dev/ttyUSB0 describe"
  "zubhost|2|poll takes up to 16 tags as TEXT:TYPE,... (at \"0140000\")|poll 3 500 0140000"
  "zubhost|2|analyze needs one or more log files|analyze --json"
  "zubhost|4|analyze cannot read \"/nonexistent.log\": no such file|analyze /nonexistent.log"
  "zubhost|4|analyze cannot read \"/\": it is a folder|analyze /"
  "zubhost|4|analyze cannot read \"/\": it is a folder|analyze --follow /"
  "zubhost|4|analyze stopped reading \"/proc/self/mem\": Input/output error|analyze --follow /proc/self/mem"
  "zubhost|2|analyze will not write over its input \"$run/swapped.log\"|analyze --svg $run/swapped.log $run/swapped.log"
  "zubhost|2|analyze will not write over its input \"-\": name another file for /dev/null|analyze --html /dev/null -"
  "zubhost|0|log: 0 lines, 0 from the driver|analyze --follow -"
  "zubhost|0|\"operations\": 0|analyze $run/file --json"
  "zubhost|2|analyze --follow prints as the log grows; it takes no --json|analyze --follow --json $run/file"
  "zubhost|2|analyze --follow prints as the log grows; it draws no --svg or --html|analyze --follow --svg $run/x.svg $run/file"
  "zubhost|2|analyze --title is the heading of the --html page; give --html FILE|analyze --title Site $run/file"
  "zubhost|2|analyze --svg and --html would write into one file; name two|analyze --svg $run/o.svg --html $run/o.svg $run/file"
  "zubhost|5|analyze cannot write the timeline to|analyze --svg /nonexistent/t.svg /dev/null"
  "zubhost|1|character 3 ('8') is not an octal digit of the address|resolve 0180000 word"
  "zubhost|1|character 1 ('G') is not a hexadecimal digit of the PLC number|resolve G140000 word"
  "zubhost|1|PLC number 00 is not used|resolve 0040000 word"
  "zubhost|1|a 32-bit value starts at an even octal address (40001 is odd)|resolve 0140001L long"
  "zubhost|1|character 8 ('L') of a float must be F|resolve 0140000L float"
  "zubhost|1|character 8 ('F') of a 32-bit integer must be L|resolve 0140000F long"
  "zubhost|1|character 8 ('G') of a 32-bit integer must be L|resolve 0140000G long"
  "zubhost|1|-> refused (address, type or count not acceptable, or the controller said no)|resolve 0140001L long"
  "zubhost|1|it has 7 characters; a bit takes 8|resolve 0140000 bit"
  "zubhost|1|a block holds 0 to 64 32-bit values (65 asked)|resolve 0140000L block:65"
  "zubhost|1|then L for a 32-bit integer, F for a float, or a bit digit 0..F|read 01400G word"
  "zubhost|1|COM9: the port could not be opened|--port COM9 read 0140000 word"
  "zubhost|1|no such port (error 2)|--port COM9 read 0140000 word"
  "zubhost|1|driver says: ORVEN: Failed to open COM9|--port COM9 read 0140000 word"
  "plcsim|0|--fault NAME[:COUNT]   inject a fault|--help"
  "plcsim|0|spoil a frame on the line, every time or the next COUNT chances (again for more)|--help"
  "plcsim|2|--fault takes one of: no-answer wrong-station|--fault bogus"
  "plcsim|2|--station takes a PLC number in hexadecimal, 01 to FF (not \"zz\")|--station zz"
  "plcsim|2|--station 01 is given twice|--station 1 --station 01"
  "plcsim|2|--spoil data:lose and --spoil data:change spoil one frame; give one of them|--spoil data:lose --spoil data:change"
  "plcsim|2|--load cannot read \"/nonexistent\"|--load /nonexistent"
  "plcsim|2|a spoil's frame is one of: acknowledge header-ack data data-ack eot echo (not \"dat\")|--spoil dat:lose"
  "plcsim|2|a spoil is junk-before=K, junk-inside=K, lose, change, insert or late=MS (not \"late\")|--spoil data:late"
  "plcsim|2|junk-inside needs a frame with an inside, acknowledge or data (not \"eot\")|--spoil eot:junk-inside=1"
  "plcsim|2|junk-before=K takes a whole number from 1 to 3 (not \"4\")|--spoil data:junk-before=4"
  "plcsim|2|--spoil FRAME:HOW:COUNT takes a whole number from 1 to 1000000 (not \"x\")|--spoil eot:lose:x"
  "plcsim|0|spoil FRAME HOW [COUNT [STATION]]|--help"
  "plcsim|1|--tty \"/dev/null\" is not a terminal (a serial port or a pty)|--tty /dev/null"
  "plcsim|1|is not a terminal|--tty $here/tools_test.sh"
  "plcsim|1|is not a FIFO (give a new name, and plcsim makes one)|--control $here/tools_test.sh"
  "plcsim|1|--control cannot make the FIFO \"/nonexistent/f\"|--control /nonexistent/f"
  "plcsim|2|--load \"/dev/zero\" is not a file of memory lines|--load /dev/zero"
  "plcsim|2|--load \"/dev/null\" is not a file of memory lines|--load /dev/null"
  "plcsim|2|--load \"$here\" is not a file of memory lines|--load $here"
  "plcsim|2|--load line 1: the value takes a whole number from -32768 to 65535 (not \"x\")|--load $run/bad-memory.txt"
)
# Under Wine, the rows whose arguments hold these words have Windows' answer.
# words in the arguments | exit code | words the output must hold
windows=(
  "--map |2|--map is for the Linux zubhost; zubhost.exe opens COM ports by their Windows names"
  "--tty |2|--tty is for the Linux plcsim; plcsim.exe takes --port COMn and its commands on standard input"
  "--control |2|--control is for the Linux plcsim; plcsim.exe takes --port COMn and its commands on standard input"
  "--port /dev/ttyUSB0 |2|--port takes a device name of at most 11 characters (not \"/dev/ttyUSB0\")"
  "--follow /proc/self/mem|4|analyze stopped reading \"/proc/self/mem\": "
  "--load $here|2|--load cannot read \"$here\""
  # Wine opens a FIFO nothing reads without waiting and takes what is
  # written, so zubhost.exe neither hangs nor refuses it.
  "--log-file $run/fifo |0|vendor      Texas Instruments and Koyo"
  "--svg $run/fifo |0|the timeline is in $run/fifo"
  # Windows tells no file identity of the NUL device, nor Wine of a standard
  # input it inherited.
  "--html /dev/null -|0|the page is in /dev/null"
)
echo "a log, not a picture" >"$run/swapped.log"
# A row's bound; a served tool's first run loads the driver under emulation.
row_limit=20
[ -z "$served" ] || row_limit=300
for row in "${messages[@]}"; do
  IFS='|' read -r program code words args <<<"$row"
  for exception in "${windows[@]}"; do
    [ -n "$wine" ] && [[ "$args " == *"${exception%%|*}"* ]] && IFS='|' read -r _ code words <<<"$exception"
  done
  eval "set -- $args"
  [ "$program" = zubhost ] && tool=$zubhost || tool=$plcsim
  # plcsim.exe asks for its COM port before it looks at the rest.
  [ -n "$wine" ] && [ "$program" = plcsim ] && set -- --port COM8 "$@"
  out=$(timeout "$row_limit" "$tool" "$@" 2>&1 </dev/null)
  rc=$?
  # Words starting with ^ must start the output, words ending in $ end it.
  pre='*' post='*' bare=${words#^}
  [[ "$words" == '^'* ]] && pre=
  [[ "$words" == *'$' ]] && post= bare=${bare%\$}
  [[ "$out" == $pre"$bare"$post ]] && [ "$rc" = "$code" ]
  check "$program $args" $? "exit $rc: $out"
done

# Output that cannot be written (a full disk) is named and ends the run with 5.
if [ -n "$wine" ] && [ -z "$served" ]; then
  # Straight onto the full disk, not through the pipe that takes off the CRs
  # (a served tool is handed the device by name).
  wine "$wine/bin/zubhost.exe" describe >/dev/full 2>"$run/full1"
else
  "$zubhost" describe >/dev/full 2>"$run/full1"
fi
a=$?
"$zubhost" --log-file /dev/full --port COM9 read 0140000 word >/dev/null 2>"$run/full2"
b=$?
[ "$a$b" = 55 ] && grep -q "cannot write standard output" "$run/full1" &&
  grep -q "cannot write the log file /dev/full" "$run/full2"
check "a full disk under standard output or --log-file: named, exit 5" $? "exit $a $b: $(cat "$run/full1" "$run/full2")"

# --- A scripted run with known faults, and its analysis -----------------------
start_sim
log=$run/run.log
step() {  # FAULT-COMMAND zubhost-command...  (its output kept in step.out)
  [ -n "$1" ] && echo "$1" >"$run/sim.fifo"
  shift
  host --log-file "$log" "$@" >"$run/step.out"
}
said() { grep -qF -- "$1" "$run/step.out"; check "$2" $? "$(cat "$run/step.out")"; }
step "fault no-answer 1"      read 0140000 word
step "fault wrong-station 1"  read 0140000 word
step "fault noise 1"          read 0140002L long
step "fault no-ack 2"         write 0140000 word 5
step "fault header-refused 1" read 0140000 word
step "fault data-refused 1"   write-block 0240000 1,2,3
step "fault bad-lrc 1"        read 0140004F float
step "fault no-stx 1"         read 0140000 word
step "fault short-reply 1"    read-block 0100000 4
step "fault no-eot 1"         read 0140000 word
step "fault bad-eot 1"        read 0140000 word
step "fault no-ack 5"         read 0140010 word
said "refused (address, type or count not acceptable, or the controller said no)" "result 1 in words"
step ""                       read 0740000 word
said "failed: no good answer in six attempts (" "result 2 in words"
step ""                       write 01400103 bit 1
step ""                       read 0240000 word
# A write whose header is refused five times is tried a sixth time: the
# final-attempt rule for refusals does not apply to a write's header.
step "fault header-refused 5" write 0140000 word 6
step ""                       read FF40000 word
step "fault bad-lrc 2"        poll 1 0 0140000:word,0140002L:long
said "exchanges 2  retries 2  failures 0" "poll counts the retries from the driver's lines"
expected=$here/data/analyze-expected.json
# The times of the run vary; everything else must match to the letter.
untimed() { sed -E 's/"(from|to)": "[^"]*"/"\1": "T"/g'; }
"$zubhost" analyze --json "$log" | untimed >"$run/a.json"
diff -u "$expected" "$run/a.json" >"$run/a.diff"
check "analyze zubhost --log-file output" $? "$(cat "$run/a.diff")"
# The same lines under another host's prefix: a level and a bar with no
# time at all.
sed -E 's/^[^ ]+ ([0-9]+) /\1|/' "$log" | sed -E '3i\some other line of the host' |
  "$zubhost" analyze --json "$dev_stdin" | sed -n '/"plcs"/,$p' >"$run/c2.json"
sed -n '/"plcs"/,$p' "$expected" | sed -E 's/"from": "T", "to": "T"/"from": null, "to": null/' |
  diff -u - "$run/c2.json" >/dev/null
check "untimed counts equal the timed ones" $?
# A block of floats goes on the wire as floats and comes back as them.
host write-block 0140004F 1.5,-2 >"$run/step.out"
said "write-block 0140004F, 2 floats: done" "write-block of floats: done"
host read-block 0140004F 2 >"$run/step.out"
said "    1.5 (bits 0x3FC00000)   -2 (bits 0xC0000000)" "read-block of floats: values, and their bits"

# --- The user's guide cannot drift from the tools ------------------------------
guide=$here/../docs/user-guide.md
# Every address example resolves as its table says; the guide has 17.
examples=0
while IFS='|' read -r _ _ type text result _; do
  examples=$((examples + 1))
  type=$(echo $type) text=$(echo $text | tr -d '`') result=$(echo $result)
  "$zubhost" resolve "$text" "$type" >"$run/resolve.out" 2>&1
  rc=$?
  { [ "$result" = done ] && [ $rc = 0 ]; } || { [ "$result" = refused ] && [ $rc = 1 ]; }
  check "guide: $text as $type is $result" $? "exit $rc: $(cat "$run/resolve.out")"
done < <(grep -E '^\| [^|]+ \| (word|long|float|bit|block:[0-9]+) \| `[^`]+` \| (done|refused) \|' "$guide")
[ "$examples" = 17 ]
check "the guide's address examples were all tried" $? "$examples of 17"
# Every zubhost.exe command in it runs, in order, against the simulator;
# only resolve may end in a refusal.
(
  cd "$run" || exit 1
  commands=0
  while read -r line; do
    commands=$((commands + 1))
    eval "set -- ${line#zubhost.exe }"
    "$zubhost" $(map COM5) --parity none --timeout 5 "$@" >"$run/guide.out" 2>&1
    rc=$?
    [ $rc = 0 ] || { [ $rc = 1 ] && [ "$1" = resolve ]; }
    check "guide: $line" $? "exit $rc: $(cat "$run/guide.out")"
  done < <(grep -E '^zubhost.exe ' "$guide")
  [ "$commands" = 15 ]
  check "the guide's zubhost.exe commands were all run" $? "$commands of 15"
  echo "$passed $failed" >"$run/counts"
)
read -r passed failed <"$run/counts"

# --- Damaged logs: partial operations are unknown, never misplaced ------------
json() { "$zubhost" analyze --json "$@"; }
field() { grep -o "\"$1\": [0-9]*" | head -1 | grep -o '[0-9]*$'; }
total=$(json "$log" | field operations)
lines=$(wc -l <"$log")
# what is damaged | a sed or awk program that damages the log | NAME=VALUE
# that must hold
damaged=(
  "a NUL byte before every line|sed 's/^/\\x00/'|operations=$total unknown=0 skipped_lines=0"
  "a log saved as UTF-16 with CR LF, as PowerShell does|perl -0777 -pe 's/\\n/\\r\\n/g; s/(.)/\$1\\0/gs; \$_ = \"\\xff\\xfe\$_\"'|lines=$lines operations=$total unknown=0"
  "a host line of 5,000 bytes|awk 'NR == 5 { printf \"%5000s\", \"\" } { print }'|lines=$lines skipped_lines=1 unknown=1"
  "a failed open, a line cut, two run together, a letter beyond F and a tab|awk 'NR == 1 { print \"x 32 ORVEN: Failed to open COM9\" } NR == 5 { print substr(\$0, 1, 60); next } NR == 9 { printf \"%s \", \$0; next } NR == 11 { sub(/ 30 31/, \" 30\\t31\") } NR == 13 { sub(/ 30 /, \" 3G \") } { print }'|open_failures=1 damaged_lines=4"
)
damage=0
for row in "${damaged[@]}"; do
  IFS='|' read -r what program expectations <<<"$row"
  damage=$((damage + 1))
  eval "$program" <"$log" >"$run/damaged-$damage.log"
  # Read from standard input: as a file, a pipe does the same.
  out=$("$zubhost" analyze --json - <"$run/damaged-$damage.log")
  ok=0
  for e in $expectations; do
    name=${e%%=*} want=${e#*=}
    got=$(echo "$out" | field "$name")
    [ "$got" = "$want" ] || { ok=1; echo "  $what: $name is ${got:-absent}, not ${want:-absent}"; }
  done
  check "$what: $expectations" $ok
  # Followed through a pipe, it gives every line the same verdict.
  "$zubhost" analyze - <"$run/damaged-$damage.log" >"$run/once.txt"
  "$zubhost" analyze --follow - < <(cat "$run/damaged-$damage.log") | sed -n '/^log: /,$p' |
    diff -u "$run/once.txt" - >"$run/follow.diff"
  check "--follow reads $what as a single pass does" $? "$(cat "$run/follow.diff")"
  # Unknown operations never land on another PLC: PLC 07's one failure stays.
  echo "$out" | tr -d '\n' | grep -q '"07": {      "operations": 1,      "first_time": 0,      "retried": 0,      "refused": 0,      "failed": 1,'
  check "PLC 07 keeps exactly its failure when $what" $?
done

# --- The timeline: each input read once, every operation drawn ----------------
"$zubhost" analyze --svg "$run/file.svg" "$log" >/dev/null
"$zubhost" analyze --svg "$run/stdin.svg" - <"$log" >/dev/null
cat "$log" | "$zubhost" analyze --svg "$run/pipe.svg" "$dev_stdin" >/dev/null
cmp -s "$run/file.svg" "$run/stdin.svg" && cmp -s "$run/file.svg" "$run/pipe.svg"
check "standard input and a pipe draw the same timeline as the file" $?
marks=$(grep -o 'class="[a-z]*"><title>' "$run/file.svg" | wc -l)
[ "$marks" = "$total" ]
check "the timeline has a mark for each of the $total operations" $? "$marks marks"
grep -q 'class="fa"><title>[^<]*: PLC 07, read V40000, 2 bytes: failed, 6 attempts' "$run/file.svg"
check "the timeline shows PLC 07's failure as failed" $?

# --- Commissioning: the scan finds the stations at their setting alone --------
# Three stations at 9600 baud without parity; the first refuses. The pty
# takes no parity, so odd and even are not available on it; at 19200 baud
# the frames are noise to the simulator. A generous limit, so that a busy
# machine's late answer is not taken for an absent station.
# A fourth station above 5A, the default range's end.
start_sim com6 --station 2 --station 11 --station 1F --station 7F --baud 9600 --parity none --fault no-ack:5
scan() {  # scan options...: the JSON in scan.json, the exit status in scan_rc
  "$zubhost" $(map COM6) --port COM6 scan --json "$@" >"$run/scan.json" 2>/dev/null
  scan_rc=$?
}
is() { [ -s "$run/scan.json" ] && jq -e "$@" "$run/scan.json" >/dev/null; }  # the scan's JSON holds this
# --timeout anywhere, overriding the limit; 010 is ten units, 100 ms.
if [ -n "$wine" ]; then
  skip "the scan at every setting of a pty" "Wine sets odd and even parity on a pty without a word, so every parity finds the stations"
else
  scan --stations 1-20 --all --timeout 010
  is '[.found[] | [.station, .baud, .data_bits, .parity, .stop_bits, .answer]] ==
    [["02", 9600, 8, "none", "1", "refused"], ["11", 9600, 8, "none", "1", "done"], ["1F", 9600, 8, "none", "1", "done"]]' &&
    [ "$scan_rc" = 0 ]
  check "the scan finds stations 02, 11 and 1F at 9600 baud, no parity, and nowhere else; exit 0" $? "exit $scan_rc: $(cat "$run/scan.json")"
  is '[.settings[] | select(.available) | .answered] == [0, 3] and ([.settings[] | select(.available | not)] | length) == 4'
  check "odd and even parity are not available on a pty; 19200 baud finds no one" $? "$(cat "$run/scan.json")"
  is '[.settings[].reply_time_limit_ms] == [100, 100, 100, 100, 100, 100]'
  check "--timeout overrides the scan's reply limit at every setting" $? "$(cat "$run/scan.json")"
fi
scan --stations 7E-80 --bauds 19200,9600,1200 --parities none
is '.stations == {"first": "7E", "last": "80"} and [.settings[].baud] == [19200, 9600] and [.found[].station] == ["7F"]'
check "a range above 5A is scanned, and the scan stops at the first setting that answered" $? "$(cat "$run/scan.json")"
# Without --timeout, the shortest limit each speed allows; two stop bits
# lengthen it at 300 baud.
scan --stations 1-1 --bauds 9600,1200 --parities none
is '[.settings[].reply_time_limit_ms] == [30, 70]'
check "the scan's reply limit is the shortest the speed allows: 30 ms at 9600 baud, 70 at 1200" $? "$(cat "$run/scan.json")"
scan --stations 1-1 --bauds 300 --parities none --stop 2
is '.settings[0] | .stop_bits == "2" and .reply_time_limit_ms == 210'
check "two stop bits are named 2 and lengthen the limit: 210 ms at 300 baud" $? "$(cat "$run/scan.json")"
scan --stations 7F-7F --bauds 9600 --parities none --stop=1.5
is '.settings[0].stop_bits == "1.5" and .found[0].stop_bits == "1.5"'
check "one and a half stop bits are named 1.5" $? "$(cat "$run/scan.json")"
# Every string escaped: a port name with a quote, a backslash, a control
# character and a byte that is not UTF-8 still gives JSON that jq reads back.
odd=$'C"\\\x01\xff\xc3\xa9'
# Windows hands the name over in its code page, where the byte that is not
# UTF-8 becomes a question mark.
if [ -n "$wine" ]; then
  "$zubhost" --port "$odd" scan --stations 1-1 --bauds 9600 --parities none --json >"$run/scan.json" 2>/dev/null
  is --arg p "$(printf 'C"\\\001?\303\251')" '.port == $p'
else
  "$zubhost" --map "$odd=$run/none" --port "$odd" scan --stations 1-1 --bauds 9600 --parities none \
    --json >"$run/scan.json" 2>/dev/null
  is --arg p "$(printf 'C"\\\001\357\277\275\303\251')" '.port == $p'
fi
check "scan --json escapes the port's name" $?
# A title and a file name (not on Windows) with a control character and a
# byte that is no UTF-8: a page of valid UTF-8, no control but its line ends.
odd_log=$'odd\x01\xff.log'
[ -z "$wine" ] || odd_log=odd.log
cp "$log" "$run/$odd_log"
"$zubhost" analyze --html "$run/odd.html" --title $'T\x1b[1m\xc3' "$run/$odd_log" >/dev/null
iconv -f UTF-8 -t UTF-8 "$run/odd.html" >/dev/null && ! tr -d '\n' <"$run/odd.html" | grep -q '[[:cntrl:]]' &&
  grep -qF '<h1>T\x1B[1m' "$run/odd.html"
check "the page of an odd title and file name is valid UTF-8 without control characters" $? "$(head -c 600 "$run/odd.html")"
# A USB adapter's 16 ms latency timer: each of a read's three replies waits
# for a tick, so five reads take at least ten ticks more than the first.
start_sim com6 --baud 19200 --latency 16
ms=$("$zubhost" $(map COM6) --port COM6 --parity none repeat 5 0140000 word |
  sed -n 's/^repeat 5 reads of 0140000 word: \([0-9]*\) ms.*/\1/p')
[ "${ms:-0}" -ge 160 ]
check "five reads through a 16 ms adapter latency take at least 160 ms" $? "${ms:-?} ms"
# A leading zero is decimal, in a value and in a block's list alike.
"$zubhost" $(map COM6) --port COM6 --parity none write 0140000 word 0100 \
  write-block 0140001 010,10 read-block 0140000 3 >"$run/zero.out" 2>&1
grep -qx "    0064 000A 000A" "$run/zero.out"
check "0100 writes a hundred and 010 ten" $? "$(cat "$run/zero.out")"
# Answers later than the limit are named, with a limit that hears them;
# an echoing line is named once and its stations found. Nobody found: exit 1.
# A tick 50 ms beyond the 30 ms limit: the answer of an attempt waits for
# it, and a busy machine that starts a read late cannot gain that much.
start_sim com6 --baud 9600 --parity none --latency 80
suggested=
if [ -n "$wine" ]; then
  skip "a scan behind an 80 ms adapter latency" "the limit counts from the read, and Wine's read comes late enough that a tick's answer can be within the limit of it"
else
  # Answers out of step can put one enquiry's late acknowledge where the
  # header's ACK belongs, which the driver takes as a refusal on the fifth
  # attempt: the station is then found, refusing, and the scan is run again.
  for try in 1 2 3 4 5 6 7 8; do
    "$zubhost" $(map COM6) --port COM6 scan --stations 1-1 --bauds 9600 --parities none >"$run/late.out" 2>&1
    rc=$?
    grep -q "^01 .* refused$" "$run/late.out" || break
  done
  suggested=$(sed -n 's/^  something answers at 9600 baud, parity none, later than the 30 ms limit: try --timeout \([0-9]*\)$/\1/p' "$run/late.out")
  [ "${suggested:-0}" -ge 9 ] && grep -q "^0 stations found" "$run/late.out" && [ $rc = 1 ]
  check "a scan behind an 80 ms adapter latency names the late answers and a limit beyond 80 ms, exit 1" $? "exit $rc: $(cat "$run/late.out")"
fi
# Under Wine, what the scan suggests when the station first answers at 120 ms.
scan --stations 1-1 --bauds 9600 --parities none --timeout "${suggested:-24}"
is '[.found[].station] == ["01"]' && [ "$scan_rc" = 0 ]
check "the timeout the scan suggests finds the station" $? "exit $scan_rc: $(cat "$run/scan.json")"
start_sim com6 --baud 9600 --parity none --echo
scan --stations 1-3 --bauds 9600 --parities none
is '[.found[].station] == ["01"] and .settings[0].echoed == 3' && [ "$scan_rc" = 0 ]
check "an echoing line's station is found, exit 0" $? "exit $scan_rc: $(cat "$run/scan.json")"
"$zubhost" $(map COM6) --port COM6 scan --stations 1-2 --bauds 9600,19200 --parities none --all >"$run/echo.out" 2>&1
[ "$(grep -c "the line echoes" "$run/echo.out")" = 1 ] && grep -q "driver sets the echo aside" "$run/echo.out" &&
  grep -q "^01 .*9600 .* done$" "$run/echo.out"
check "the scan says once that the line echoes and the echo is set aside" $? "$(cat "$run/echo.out")"
# Reads and writes behind the echo: decoded, and analysed without a failure.
"$zubhost" $(map COM6) --port COM6 --baud 9600 --parity none --decode --log-file "$run/echo.log" \
  write 01400103 bit 1 read 0140010 word >"$run/echo-decode.out" 2>&1
[ "$(grep -c "line echoes: the driver set" "$run/echo-decode.out")" = 2 ] && grep -q "Rx echo  *the frame just sent" "$run/echo-decode.out"
check "--decode shows the echo and its note once an operation" $? "$(cat "$run/echo-decode.out")"
"$zubhost" analyze --json "$run/echo.log" | jq -e '.echoed_operations == 2 and .plcs["01"].first_time == 3' >/dev/null &&
  "$zubhost" analyze "$run/echo.log" | grep -q "the line echoes (a two-wire RS-485 converter): 2 operations"
check "analyze names the echoing line and counts no failure" $? "$("$zubhost" analyze "$run/echo.log")"
# Answers as another station, or a spoiled data frame: garbled, not late.
for fault in wrong-station bad-lrc; do
  start_sim com6 --baud 9600 --parity none --fault $fault
  "$zubhost" $(map COM6) --port COM6 scan --stations 1-1 --bauds 9600 --parities none >"$run/heard.out" 2>&1
  grep -qF "bytes come at 9600 baud, parity none, but make no answer" "$run/heard.out" &&
    ! grep -q "try --timeout" "$run/heard.out"
  check "the scan says when bytes came that made no answer ($fault), and suggests no --timeout" $? "$(cat "$run/heard.out")"
done
# On a terminal the progress line is redrawn after a carriage return alone,
# within 79 columns, so that an 80-column console never wraps it.
if [ -n "$wine" ]; then
  skip "the scan's progress line on a terminal" "Wine's console draws on a terminal itself, with escape sequences of its own"
else
  script -qfec "$zubhost $(map COM6) --port COM6 scan --bauds 9600 --parities none >/dev/null" \
    /dev/null >"$run/progress.out"
  widest=$(tr '\r' '\n' <"$run/progress.out" | awk '{ if (length($0) > w) w = length($0) } END { print w + 0 }')
  grep -q "station 5A" "$run/progress.out" && [ "$widest" -le 79 ] && ! grep -q $'\e' "$run/progress.out"
  check "the scan's progress line is drawn within 79 columns, without escape sequences" $? "widest $widest"
fi

[ -n "$wine" ] || LUMISAR_SOAK_LOG="$run/soak.log" "$soak" "$plcsim" 600 >/dev/null 2>&1

# --- The page: what Chromium shows is what --json says -------------------------
# A soak log as README's, and the damaged logs above.
chromium_dom() {  # PAGE: the page's DOM after Chromium loaded it
  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$run/chromium" --dump-dom "file://$1" 2>/dev/null
}
# "PLC key=value ..." for each PLC, from the page's rows and from the JSON.
page_rows() { grep -o '<tr data-plc=.*</tr>' |
  sed -E 's|<td data-key="([a-z_]+)"( class="failed")?>([0-9.]+)( %)?</td>| \1=\3|g;
  s|<tr data-plc="([0-9A-F]+)">|\1|; s|<td[^>]*>[^<]*</td>||g; s|</tr>||'; }
json_rows() { jq -r '.plcs | to_entries[] | .key as $k | .value | "\($k) operations=\(.operations) first_time=\(.first_time) retried=\(.retried) refused=\(.refused) failed=\(.failed) unknown=\(.unknown) retries=\(.retries) failed_attempts=\([.causes[]] | add) \(100 * (.refused + .failed) / .operations)"' |
  awk '{ $NF = sprintf("failure_rate=%.2f", $NF); print }'; }
if ! command -v chromium >/dev/null; then
  skip "the page's rows in Chromium" "no chromium (scripts/install-deps.sh installs it)"
else
  # The soak drives the Linux driver, so only its build has the soak's log.
  for f in ${soak:+soak} $(seq -f 'damaged-%g' 1 "$damage"); do
    "$zubhost" analyze --json --html "$run/$f.html" "$run/$f.log" | json_rows >"$run/$f.want"
    chromium_dom "$run/$f.html" | page_rows >"$run/$f.got"
    [ -s "$run/$f.want" ] && diff -u "$run/$f.want" "$run/$f.got" >"$run/$f.diff"
    check "the page of the $f log shows the counts of --json" $? "$(cat "$run/$f.diff")"
  done
  # What was analysed, as written: a file name and a title with markup
  # characters, the driver's version from its banner, a port that would not
  # open; and each cause seen explained in the guide's words.
  # Windows takes & in a file's name, but not < or >.
  if [ -n "$wine" ]; then
    name='site &1&2.log' shown='site &amp;1&amp;2.log'
  else
    name='site <1&2>.log' shown='site &lt;1&amp;2&gt;.log'
  fi
  named="$run/$name"
  { "$zubhost" describe | grep "serial driver Version"; echo "x ORVEN: Failed to open COM9"; cat "$log"; } >"$named"
  "$zubhost" analyze --html "$run/named.html" --title "Site <A> & line 2" "$named" >"$run/named.out"
  version=$("$zubhost" describe | sed -n 's/.*serial driver Version \([0-9.]*\).*/\1/p')
  chromium_dom "$run/named.html" >"$run/named.dom"
  grep -qF "<h1>Site &lt;A&gt; &amp; line 2</h1>" "$run/named.dom" &&
    grep -qF "<title>Site &lt;A&gt; &amp; line 2</title>" "$run/named.dom" &&
    grep -qF ">$run/$shown</td>" "$run/named.dom" &&
    grep -qF "<td data-key=\"driver_version\">$version</td>" "$run/named.dom" &&
    grep -qF '<td data-key="ports">COM9</td>' "$run/named.dom"
  check "the page names the file, the title (heading and <title>), the driver $version and port COM9 as written" $? "$(head -c 1500 "$run/named.dom")"
  [ "$(cat "$run/named.out")" = "the page is in $run/named.html" ] &&
    grep -q '^<!DOCTYPE html>' "$run/named.html" && grep -q '<meta charset="utf-8">' "$run/named.html"
  check "--html says only where the page went; the page has a doctype and a charset" $? "$(cat "$run/named.out")"
  sed -n '/Tx 4E 27 05/,$p' "$log" >"$run/few.log"  # three of the causes
  "$zubhost" analyze --html "$run/few.html" "$run/few.log" >/dev/null
  chromium_dom "$run/few.html" >"$run/few.dom"
  for row in "named|$named" "few|$run/few.log"; do
    IFS='|' read -r page source <<<"$row"
    "$zubhost" analyze --json "$source" | jq -r '[.plcs[].causes | to_entries[] | select(.value > 0) | .key] | unique | .[]' >"$run/causes.want"
    grep -o 'data-cause="[a-z_]*"' "$run/$page.dom" | cut -d'"' -f2 | sort >"$run/causes.got"
    advice=$(sed -n 's|.*<tr data-cause="[a-z_]*"><td>[^<]*</td><td>[^<]*</td><td>\([^<]*\)</td></tr>.*|\1|p' "$run/$page.dom" |
      while read -r text; do grep -qF "$text" "$guide" || echo "not in the guide: $text"; done)
    [ -s "$run/causes.want" ] && diff -u "$run/causes.want" "$run/causes.got" >"$run/causes.diff" && [ -z "$advice" ]
    check "the $page page explains each cause its log shows, and only those, in the guide's words" $? "$(cat "$run/causes.diff") $advice"
  done
fi

# --- What Wine does not run -------------------------------------------------
# The rest reads the simulator's bytes on its own pty, a Linux process's
# state, a soak of the Linux driver or a terminal under tmux.
if [ -n "$wine" ]; then
  skip "spoiled replies, control commands, a hang-up and an echo" "the simulator's own bytes; plcsim.exe's spoils and commands are checked in plcsim_wine_test"
  skip "the page of a soak's log and the timeline at scale" "they draw the log of a soak of the Linux driver, which the cross build does not run"
  skip "--follow of a replaced or truncated log" "it watches the follower's read position in Linux's /proc; zubhost.exe's --follow of a replaced log is checked in plcsim_wine_test"
  skip "--follow in a terminal" "Wine's console repaints a terminal with escape sequences of its own, not yet read from tmux's screen"
  checks_done
  exit
fi

# --- Replies spoiled as a line spoils them -----------------------------------
# The seed fixes the junk and its places, so every byte that comes back is
# known. Each spoil strikes once; the master's next enquiry starts afresh
# whatever state the spoiled exchange left the controller in.
start_sim com6 --baud 19200 --parity none --seed 7 --control "$run/spoil.fifo"
exec 3<>"$run/com6" && stty -F "$run/com6" raw -echo 19200
enq='N!\x05' hdr='\x01\x30\x31\x30\x31\x34\x30\x30\x31\x30\x30\x30\x32\x30\x30\x17\x07'
whdr='\x01\x30\x31\x38\x31\x34\x30\x30\x31\x30\x30\x30\x32\x30\x30\x17\x0f'
# control command | what the master sends | what comes back
spoils=(
  "set 0140000 0x1234|$enq|4e 21 06" "|$hdr|06 02 34 12 03 26" "|\x06|04"
  "spoil acknowledge junk-before=2 1|\x04$enq|52 92 4e 21 06"
  "spoil acknowledge junk-inside=3 1|$enq|4e 21 bb 4e 21 06"
  "spoil acknowledge lose 1|$enq|4e 21" "spoil acknowledge change 1|$enq|8a 21 06"
  "spoil acknowledge insert 1|$enq|4e 2a 21 06"
  "spoil header-ack lose 1|$enq|4e 21 06" "|$hdr|02 34 12 03 26"
  "spoil data junk-before=1 1|$enq|4e 21 06" "|$hdr|06 7e 02 34 12 03 26"
  "spoil data junk-inside=2 1|$enq|4e 21 06" "|$hdr|06 02 e9 34 12 80 03 26"
  "spoil data lose 1|$enq|4e 21 06" "|$hdr|06 02 34 12 03"
  "spoil data change 1|$enq|4e 21 06" "|$hdr|06 02 34 12 03 53"
  "spoil data insert 1|$enq|4e 21 06" "|$hdr|06 02 55 34 12 03 26"
  "spoil eot change 1|$enq|4e 21 06" "|$hdr|06 02 34 12 03 26" "|\x06|08"
  "spoil data-ack change 1|\x04$enq|4e 21 06" "|$whdr|06" "|\x02\x34\x12\x03\x26|ba"
  "stats|\x04$enq|4e 21 06"
)
for row in "${spoils[@]}"; do
  IFS='|' read -r command sent want <<<"$row"
  [ -n "$command" ] && echo "$command" >"$run/spoil.fifo"
  printf "$sent" >&3
  got=$(timeout 10 dd bs=1 count="$(wc -w <<<"$want")" <&3 2>/dev/null | od -An -tx1 | xargs)
  [ "$got" = "$want" ]
  check "spoiled reply: ${command:-then} ($want)" $? "$got"
done
grep -q " spoiled=13 " "$run/sim.out"
check "stats counts the spoils" $? "$(cat "$run/sim.out")"
# Every word of a control command read whole, or the command refused.
# command | words in the simulator's reply
controls=(
  "delay -1|delay MS takes a whole number from 0 to 60000 (not \"-1\")"
  "set 0140000 99999|set VALUE takes a whole number from -32768 to 65535 (not \"99999\")"
  "set 0140000 xyz|set VALUE takes a whole number from -32768 to 65535 (not \"xyz\")"
  "fault noise abc|COUNT takes a whole number from -1 to 1000000 (not \"abc\")"
  "fault noise -5|COUNT takes a whole number from -1 to 1000000 (not \"-5\")"
  "fault no-answer 1 ZZ|STATION takes a PLC number in hexadecimal, 01 to FF (not \"ZZ\")"
  "spoil eot junk-inside=1|junk-inside needs a frame with an inside, acknowledge or data"
  "dump 0140000|COUNT is missing: dump ADDRESS COUNT"
  "dump 01 /dev/full|plcsim: dump cannot write \"/dev/full\": No space left on device"
  "dump 01 $run|plcsim: dump cannot write \"$run\": it is a folder"
  "dump 01 $run/dump01|plcsim: dump 01: 32768 words into \"$run/dump01\""
  "dump 02 $run/dump02|plcsim: dump 02: station 02 is not played here (--station 02 plays it)"
  "dump 0240000 1|plcsim: dump 0240000: station 02 is not played here"
  "set 0240000 5|plcsim: set 0240000: station 02 is not played here"
  "$(printf 'x%.0s' {1..600}) quit|a control line of more than 511 characters is refused"
  "help|spoil FRAME HOW [COUNT [STATION]]"
  "stats|enquiries=14 "
)
for row in "${controls[@]}"; do
  IFS='|' read -r command words <<<"$row"
  echo "$command" >"$run/spoil.fifo"
  wait_for 10 grep -qF -- "$words" "$run/sim.out"
  check "control: ${command:0:40} says: $words" $? "$(tail -3 "$run/sim.out")"
done
# A frame left half-sent is given up once the line is quiet: the next
# enquiry is answered, not taken as the frame's data.
printf "$enq" >&3 && timeout 10 dd bs=1 count=3 <&3 2>/dev/null >/dev/null
printf '\x01\x30\x31\x38\x31\x34\x30\x30\x31\x30\x30\x30\x32\x30\x30\x17\x0f\x02\x11' >&3
timeout 10 dd bs=1 count=1 <&3 2>/dev/null >/dev/null && sleep 0.5 && printf "$enq" >&3
[ "$(timeout 10 dd bs=1 count=3 <&3 2>/dev/null | od -An -tx1 | xargs)" = "4e 21 06" ]
check "a frame cut short is given up after a quiet line" $? "$(tail -3 "$run/sim.out")"
# Told to stop in the middle of a 60 s delay or a 60 s late frame, by quit
# or by a signal, it stops at once, the reply still unsent.
counted() { echo stats >"$run/delay.fifo" && grep -q "enquiries=1 " "$run/sim.out"; }
for row in "quit|--fault delay" "TERM|--fault delay" "INT|--spoil acknowledge:late=60000"; do
  IFS='|' read -r stop waiting <<<"$row"
  start_sim com6 --control "$run/delay.fifo" $waiting --delay 60000 --parity none
  exec 3<>"$run/com6" && stty -F "$run/com6" raw -echo && printf "$enq" >&3
  wait_for 10 counted
  # Once it has counted the enquiry, an answer not held back would be here.
  unsent=$(timeout 0.5 dd bs=1 count=3 <&3 2>/dev/null | od -An -tx1)
  [ "$stop" = quit ] && echo quit >"$run/delay.fifo" || kill -"$stop" "$sim_pid"
  wait_for 10 ended "$sim_pid" && [ -z "$unsent" ]
  check "$stop ends $waiting at once" $? "$unsent $(cat "$run/sim.out")"
done
# The far end of a --tty line hangs up: a message and an end, not a spin.
socat pty,raw,echo=0,link="$run/far" pty,raw,echo=0,link="$run/near" 2>/dev/null &
socat_pid=$!
wait_for 10 test -e "$run/far"
"$plcsim" --quiet --parity even --tty "$run/far" >"$run/hangup.out" 2>&1 &
hung=$!
wait_for 10 grep -q "^plcsim: pty" "$run/hangup.out"
kill "$socat_pid"
wait_for 10 ended "$hung" && grep -q "plcsim: the line .* hung up" "$run/hangup.out"
check "a --tty line that hangs up ends plcsim with a message" $? "$(cat "$run/hangup.out")"
grep -q "carries no parity (a pty): --parity even is not on the line" "$run/hangup.out"
check "--parity even on a pty is warned of" $? "$(cat "$run/hangup.out")"
kill "$hung" 2>/dev/null
# An echoing line: the master hears its own enquiry, then the answer.
start_sim com6 --echo --parity none
exec 3<>"$run/com6" && stty -F "$run/com6" raw -echo && printf "$enq" >&3
[ "$(timeout 10 dd bs=1 count=6 <&3 2>/dev/null | od -An -tx1 | xargs)" = "4e 21 05 4e 21 06" ]
check "--echo sends the master's bytes back before the answer" $?
exec 3>&-

# --- A timeline that scales: bars per time bucket, not a mark per operation ---
# The soak log again and again, each copy later than the last: a row of
# thousands of operations draws at most 300 bars and no marks, well under
# 200 KB.
repeat_log() {  # COPIES
  local span=$(($(date -d "$(tail -1 "$run/soak.log" | cut -c1-19)" +%s) -
    $(date -d "$(head -1 "$run/soak.log" | cut -c1-19)" +%s) + 2))
  for i in $(seq 0 $(($1 - 1))); do
    awk -v off=$((i * span)) '{ t = substr($1, 12, 2) * 3600 + substr($1, 15, 2) * 60 + substr($1, 18) + off
      h = int(t / 3600); m = int((t - h * 3600) / 60)
      printf "%sT%02d:%02d:%06.3f%s\n", substr($1, 1, 10), h, m, t - h * 3600 - m * 60, substr($0, length($1) + 1) }' "$run/soak.log"
  done
}
repeat_log 20 >"$run/x20.log"
"$zubhost" analyze --svg "$run/x20.svg" - <"$run/x20.log" >/dev/null
bars=$(grep -c '^<g><title>' "$run/x20.svg") marks=$(grep -c 'class="[a-z]*"><title>' "$run/x20.svg")
[ "$bars" -gt 100 ] && [ "$bars" -le 300 ] && [ "$marks" = 0 ] && [ "$(wc -c <"$run/x20.svg")" -lt 200000 ]
check "a busy row draws bars per time bucket" $? "$bars bars, $marks marks, $(wc -c <"$run/x20.svg") bytes"
# The bars hold every operation, the last one (in the last column) too, and
# an outcome that happened at all is at least 2 pixels high.
drawn=$(grep -oE '^<g><title>[^<]*: [0-9]+ operation' "$run/x20.svg" | awk '{ n += $(NF - 1) } END { print n }')
want=$("$zubhost" analyze --json "$run/x20.log" | jq '[.plcs[].operations] | add')
low=$(grep '^<g>' "$run/x20.svg" | grep -oE 'height="[0-9]+" class="(fa|re|un|rt|ok)"' | grep -cE 'height="[01]"')
[ "$drawn" = "$want" ] && [ "$low" = 0 ]
check "the bars add up to the $want operations, each outcome at least 2 pixels high" $? "$drawn drawn, $low too low"

# --- Following a log that is replaced, then truncated, not on a terminal ------
# Each time it reads the log from the top again, a line for each of PLC 07's
# failures: replaced, rewritten at once past its old size, cut to nothing.
followed() {  # FAILURES: shown, and the log read to its end (Linux's fdinfo)
  local fd
  [ "$(grep -c 'PLC 07  read  V40000  failed (no answer: 6)$' "$run/follow.out")" = "$1" ] || return 1
  for fd in /proc/"$follower"/fd/*; do
    [ "$(readlink "$fd")" = "$run/rotated.log" ] &&
      [ "$(awk '/^pos:/ { print $2 }' "/proc/$follower/fdinfo/${fd##*/}")" = "$(stat -c %s "$run/rotated.log")" ] &&
      return 0
  done
  return 1
}
cp "$log" "$run/rotated.log"
"$zubhost" analyze --follow "$run/rotated.log" >"$run/follow.out" 2>&1 &
follower=$!
wait_for 20 followed 1
cp "$log" "$run/rotated.new" && mv "$run/rotated.new" "$run/rotated.log"
wait_for 20 followed 2
{ echo "the host began its log again"; cat "$log" "$log"; } >"$run/rotated.log"
wait_for 20 followed 4
: >"$run/rotated.log"
cat "$log" >>"$run/rotated.log"
wait_for 20 followed 5
ok=$?
# PLC 07's failure as the log's last lines: shown with no line after it.
awk '/Tx 4E 27 05/ { s = 1 } s && /Tx 4E 2[^7] 05/ { exit } s' "$log" >>"$run/rotated.log"
wait_for 20 followed 6 || ok=1
# The log without time stamps, then rewritten in one go, longer, same first line.
sed -E 's/^[^ ]+ ([0-9]+) /\1|/' "$log" >"$run/untimed.log"
cp "$run/untimed.log" "$run/rotated.log"
wait_for 20 followed 7 || ok=1
{ head -1 "$run/untimed.log"; cat "$run/untimed.log"; } 1<>"$run/rotated.log"
wait_for 20 followed 8 || ok=1
kill -INT "$follower" && wait "$follower"
[ $ok = 0 ] && grep -q "^PLC 07: 8 operations" "$run/follow.out"
check "--follow reads a replaced, rewritten or truncated log again, a line for each failure, the last one too" $? "$(cat "$run/follow.out")"
# Its last table's failure rate counts the refused (PLC 01's) and the failed.
awk '/operations in all$/ { t = 1; next } t && /^[0-9A-F][0-9A-F] / {
  refused += $5; if (sprintf("%.2f", 100 * ($5 + $6) / $2) != $8) bad = 1 } END { exit bad || !refused }' "$run/follow.out"
check "--follow's failure rate counts refused and failed operations" $? "$(tail -5 "$run/follow.out")"
# The live columns run on the log's time: the scripted run at 10:00, PLC
# 07's failure again at 10:01:30, a few of PLC 01's operations, all done,
# at 10:02. PLC 01's last minute is clean though its whole log is not; PLC
# 07 has been failing since 10:00 and was never good.
restamp() {  # SECONDS: the log's lines 10 ms apart from 10:00 and SECONDS
  awk -v from="$1" '{ t = 36000 + from + NR / 100; printf "2026-01-01T%02d:%02d:%06.3f%s\n",
    int(t / 3600), int(t % 3600 / 60), t % 60, substr($0, index($0, " ")) }'
}
{ restamp 0 <"$log"; awk '/Tx 4E 27 05/ { s = 1 } s && /Tx 4E 2[^7] 05/ { exit } s' "$log" | restamp 90
  head -n 20 "$log" | restamp 120; } | "$zubhost" analyze --follow - >"$run/minute.out"
awk '/operations in all$/ { t = 1 } t && $1 == "01" && $8 != "0.00" && $10 == "0.00%" && $11 == "-" && $12 ~ /^10:02:00/ { a = 1 }
  t && $1 == "07" && $10 == "100.00%" && $11 ~ /^10:00:0/ && $12 == "-" { b = 1 } END { exit !(a && b) }' "$run/minute.out"
check "--follow's last minute, failing since and last good go by the log's time" $? "$(tail -8 "$run/minute.out")"
# Input that never pauses, without line ends or with, still leaves it time to stop.
mkfifo "$run/yes.fifo"
yes "a host line" >"$run/yes.fifo" &
yes=$!
for input in /dev/zero "$run/yes.fifo"; do
  "$zubhost" analyze --follow "$input" >"$run/endless.out" 2>&1 &
  follower=$!
  wait_for 20 grep -q "operations so far" "$run/endless.out" && kill -TERM "$follower" &&
    wait_for 20 grep -q "^log: [0-9]* lines, 0 from the driver" "$run/endless.out"
  check "--follow of $input, which never pauses, ends at SIGTERM with its summary" $? "$(head -c 300 "$run/endless.out")"
  kill -KILL "$follower" 2>/dev/null
done
kill "$yes" 2>/dev/null

# --- Following a log while it grows, in a real terminal -----------------------
# A poll of PLCs 01 and 02 writes the log; then PLC 02 stops answering. The
# screen must show the counts grow, and PLC 02's failures within 2 s.
screen_field() {  # PLC COLUMN: a number from the table on tmux's screen
  tmux -L "lumisar-$$" capture-pane -p | awk -v plc="$1" -v col="$2" '$1 == plc { print $col; exit }'
}
if ! command -v tmux >/dev/null; then
  skip "analyze --follow in a terminal" "no tmux (scripts/install-deps.sh installs it)"
else
  : >"$run/live.log"
  start_sim com7 --station 1 --station 2 --control "$run/live.fifo"
  tmux -L "lumisar-$$" new-session -d -x 150 -y 30 "$zubhost analyze --follow $run/live.log"
  tmux -L "lumisar-$$" set-option -g remain-on-exit on >/dev/null
  "$zubhost" --map "COM7=$run/com7" --port COM7 --parity none --timeout 5 --log-file "$run/live.log" \
    poll 400 50 0140000:word,0240000:word >/dev/null &
  poller=$!
  above() { [ "$(screen_field "$1" "$2")" -gt "$3" ] 2>/dev/null; }  # PLC COLUMN NUMBER
  wait_for 20 above 01 2 0
  first=$(screen_field 01 2)
  wait_for 20 above 01 2 "${first:-0}"
  check "the live counts grow" $? "PLC 01: ${first:-none}, then $(screen_field 01 2)"
  echo "fault no-answer -1 02" >"$run/live.fifo"
  wait_for 20 above 02 6 0
  [ "$(screen_field 01 6)" = 0 ]
  check "a PLC that stops answering shows as failing, and only it" $? "$(tmux -L "lumisar-$$" capture-pane -p)"
  # Beside the counts: PLC 02 failing since a time and all of its last
  # minute's operations since then failed; PLC 01 not failing, and good of late.
  clock='^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}$'
  failing() { [[ $(screen_field 02 11) =~ $clock ]] && [[ $(screen_field 01 12) =~ $clock ]] &&
    [ "$(screen_field 01 11)" = - ] && [ "$(screen_field 01 10)" = 0.00% ]; }
  wait_for 20 failing
  check "a PLC that stops answering reads failing since a time; the one that answers does not" $? \
    "$(tmux -L "lumisar-$$" capture-pane -p)"
  kill "$poller" 2>/dev/null
  tmux -L "lumisar-$$" send-keys C-c
  final() { tmux -L "lumisar-$$" capture-pane -p | grep -q '^  failed  *[1-9]'; }
  wait_for 20 final
  check "Ctrl-C ends it with the final summary" $? "$(tmux -L "lumisar-$$" capture-pane -p)"
fi

checks_done

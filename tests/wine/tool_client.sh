#!/usr/bin/env bash
# A Windows tool as its Linux build runs, through the tool server that runs
# it in one long-lived Wine process (tests/wine/tool_server.cpp): the same
# arguments, folder and standard input, its output without the CR that
# Windows' text mode puts before each line end, its exit status.
#   tool_client.sh QUEUE ARGUMENTS...
set -u
queue=$1
shift
job=$(mktemp -d "$queue/prep.XXXXXX")
printf '%s\0' "$@" >"$job/args"
printf 'Z:%s' "$PWD" >"$job/cwd"
# Standard input as the tool would have it: a file or a device by its
# name; a pipe through a FIFO, which the tool takes for the pipe it is. A
# pipe is read for a log named "-" alone, as it is otherwise left to the
# caller (a loop that reads its own lines around a call).
source=$(readlink /proc/$$/fd/0)
piped=
: >"$job/in"
if [ -f "$source" ] || [ -c "$source" ]; then
  printf 'Z:%s' "$source" >"$job/stdin-file"
else
  for argument in "$@"; do
    [ "$argument" = - ] && [ ! -t 0 ] && piped=1
  done
  [ -z "$piped" ] || { rm "$job/in" && mkfifo "$job/in"; }
fi
# A device as standard output (a full disk) is handed over by name.
out=$(readlink /proc/$$/fd/1)
[ -c "$out" ] && printf 'Z:%s' "$out" >"$job/stdout-device"
name=${job##*/prep.}
mv "$job" "$queue/job.$name"
feeder=
if [ -n "$piped" ]; then
  cat <&0 >"$queue/job.$name/in" &
  feeder=$!
fi
# The server takes one request at a time; while it lives, the answer comes.
server=$(cat "$queue/server.pid")
while [ ! -e "$queue/done.$name/rc" ]; do
  if ! kill -0 "$server" 2>/dev/null; then
    echo "tool_client: the tool server in $queue has ended" >&2
    [ -z "$feeder" ] || kill "$feeder" 2>/dev/null
    exit 125
  fi
  sleep 0.05
done
done=$queue/done.$name
[ -e "$done/out" ] && tr -d '\r' <"$done/out"
tr -d '\r' <"$done/err" >&2
rc=$(tr -d "\r\n" <"$done/rc")
rm -rf "$done"
exit "$rc"

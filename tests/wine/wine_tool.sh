#!/usr/bin/env bash
# A Windows tool run under Wine as its Linux build runs: the same arguments
# and standard input, its output without the CR that Wine's console puts
# before each line end, its exit status. The caller has the prefix ready
# (scripts/wine-env.sh) and keeps a wineserver running.
#   wine_tool.sh PROGRAM.EXE ARGUMENTS...
set -u
err=$(mktemp)
wine "$@" 2>"$err" | tr -d '\r'
rc=${PIPESTATUS[0]}
tr -d '\r' <"$err" >&2
rm -f "$err"
exit "$rc"

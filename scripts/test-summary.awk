# Totals the cases of every test that CTest ran, from its LastTest.log
# files: gtest's own summary lines, the "N passed, N failed, N skipped"
# line of the test scripts and the soak, or else the test itself as one
# case. Skips are listed once per reason.
#   awk [-v unbuilt=N] -f test-summary.awk build/*/Testing/Temporary/LastTest.log
# (N configurations that did not build count as failed cases)
{ sub(/\r$/, "") }
FNR == 1 && NR > 1 { LogEnds(logFile) }
FNR == 1 { logFile = FILENAME; running = ended = runs = 0 }
/^End testing: / { ended = 1 }
/^[0-9]+\/[0-9]+ Test: / { test = $3; p = f = s = 0; counted = sanitized = 0; running = 1; ++runs; next }
# A sanitizer's report fails the test even when its process ended well: a
# child such as the simulator may have died of it while the test went on.
/^SUMMARY: [A-Za-z]+Sanitizer: / { sanitized = 1 }
/^\[  PASSED  \] [0-9]+ tests?\.$/ { p = $4; counted = 1; next }
/^\[  SKIPPED \] [0-9]+ tests?, listed below:$/ { s = $4; next }
/^\[  FAILED  \] [0-9]+ tests?, listed below:$/ { f = $4; next }
/^[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$/ {
  p = $1; f = $3; s = $5 + 0; counted = 1; next
}
# gtest: "file:line: Skipped", the reason on the next line.
/: Skipped$/ { reasonNext = 1; next }
reasonNext { reason = $0; reasonNext = 0; next }
/^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/ { Skip($4, reason); next }
/^SKIP [^:]+: / { name = substr($0, 6); sub(/:.*/, "", name); r = $0; sub(/^SKIP [^:]+: /, "", r); Skip(name, r); next }
/^Test (Passed|Failed)\.|^Test Not Run|^Unable to find executable|\*\*\*(Failed|Timeout|Exception)/ {
  failedRun = sanitized || $0 !~ /^Test Passed\./
  if (!counted) { p = failedRun ? 0 : 1; f = failedRun ? 1 : 0 }
  # A run that failed after its cases passed (a crash at exit, a sanitizer
  # report) is a failed case too.
  else if (failedRun && f == 0) f = 1
  passed += p; failed += f; skipped += s
  if (f) failures = failures "  " test "\n"
  p = f = s = 0; counted = 1; running = 0
}
# A log cut short (ctest killed, the machine out of memory) leaves a test
# unfinished and the ones after it unrun, and a run of no tests proves
# nothing: either is a failed case.
function LogEnds(file) {
  if (running) Failed(test " (the log stops while it runs)")
  else if (!ended || !runs) Failed(file (runs ? " (the log stops before the run's end)" : " (no test ran)"))
}
function Failed(what) {
  failed += 1
  failures = failures "  " what "\n"
}
function Skip(name, why) {
  if (!(why in names)) order[++reasons] = why
  names[why] = names[why] (names[why] ? ", " : "") name
}
END {
  if (NR) LogEnds(logFile)
  failed += unbuilt
  for (i = 1; i <= reasons; ++i) printf "skipped, %s: %s\n", order[i], names[order[i]]
  if (failures) printf "failed:\n%s", failures
  printf "tests: %d passed, %d failed, %d skipped\n", passed, failed, skipped
  exit failed ? 1 : 0
}

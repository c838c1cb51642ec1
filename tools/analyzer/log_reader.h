// Reads a host's log line by line, for a single pass and for --follow
// alike, so that both give every line the same verdict:
// - a line ends at a line feed; a carriage return before it is dropped;
// - a NUL byte reads as '?', so it spoils no more than its own line;
// - a line of more than kLogLineMost bytes keeps its first kLogLineMost,
//   and the rest of it is passed over;
// - a log saved as UTF-16 with a byte-order mark (PowerShell's way) reads
//   as its characters, one byte each, '?' for any beyond ASCII;
// - the last line counts without its line feed once the log is over.
// A folder is refused; "-" is standard input.
#pragma once

#include <stdio.h>

constexpr int kLogLineMost = 4095;

struct LogReader;

enum LogRead {
  kLogLine,     // a line is ready
  kLogPause,    // nothing more for now (a growing log), or a long stretch read: ask again
  kLogEnded,    // the input is over
  kLogFailure,  // the input could not be read
};

// Opens an input; null with a reason ("no such file", ...) when it cannot be had.
// A follower waits for lines at the end of a file named; a pipe, and
// standard input whatever it is, end with their input.
LogReader *ReaderOpen(const char *name, bool follow, const char **reason);
void ReaderClose(LogReader *r);
// The next line, kept in the reader until the next call.
LogRead ReaderNext(LogReader *r, const char **line);
// Why the input could not be read, after kLogFailure.
const char *ReaderFailure(const LogReader *r);
// What was read of a line whose end has not come, as a line of its own;
// false when there is none. For the end of a follow.
bool ReaderRest(LogReader *r, const char **line);
// For a follower: true when the file now at the name is not the one being
// read, or it was cut short or rewritten from its start; the reader then
// starts again at the top of the file now there.
bool ReaderStartedAgain(LogReader *r);

#include "log_reader.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "shared_file.h"

namespace {

// Characters read before a follower gets to look at its screen and at Ctrl-C.
constexpr long kStretch = 65536;
// The start of the file, and the bytes just before where it was read to,
// kept to notice a log rewritten from the top.
constexpr size_t kHeadBytes = 64;

enum Encoding { kBytes, kUtf16Little, kUtf16Big };

}  // namespace

struct LogReader {
  FILE *in;
  const char *name;
  bool standardInput, follow, pipe;
  Encoding encoding;
  int64_t offset;  // bytes taken from the file
  int pending;     // a UTF-16 unit's first byte, when its second has not come; else -1
  bool overlong;   // the rest of a long line is being passed over
  size_t held;     // characters of the line so far
  char line[kLogLineMost + 1];
  unsigned char head[kHeadBytes];
  size_t headBytes;
  unsigned char last[kHeadBytes];  // the last bytes taken, byte k at k % kHeadBytes
  int error;                       // errno of a read that failed
  bool identified;                 // the identity of the file open is known
  FileIdentity identity;
};

namespace {

bool Open(LogReader *r, const char **reason) {
  r->in = r->standardInput ? stdin : OpenShared(r->name);
  struct stat st;
  if (!r->in || fstat(fileno(r->in), &st) != 0) {
    *reason = errno == ENOENT   ? "no such file"
              : errno == EISDIR ? "it is a folder"
                                : strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *reason = "it is a folder";
    return false;
  }
  r->pipe = S_ISFIFO(st.st_mode);
  r->identified = IdentifyFile(r->in, &r->identity);
  r->encoding = kBytes;
  r->offset = 0;
  r->pending = -1;
  r->overlong = false;
  r->held = 0;
  r->headBytes = 0;
  return true;
}

void CloseInput(LogReader *r) {
  if (r->in && !r->standardInput) fclose(r->in);
  r->in = nullptr;
}

int TakeByte(LogReader *r) {
  int c = getc(r->in);
  if (c == EOF) return EOF;
  if (r->offset < static_cast<int64_t>(kHeadBytes)) {
    r->head[r->headBytes] = static_cast<uint8_t>(c);
    r->headBytes += 1;
  }
  r->last[r->offset % static_cast<int64_t>(kHeadBytes)] = static_cast<uint8_t>(c);
  r->offset++;
  return c;
}

// A byte-order mark of UTF-16 at the start of the file sets its encoding.
// Returns the first character when there is none.
int Start(LogReader *r, int first) {
  if (first != 0xFF && first != 0xFE) return first;
  int second = TakeByte(r);
  bool little = first == 0xFF && second == 0xFE, big = first == 0xFE && second == 0xFF;
  if (little || big) {
    r->encoding = little ? kUtf16Little : kUtf16Big;
    return -2;  // the mark is no character
  }
  if (second != EOF) {
    ungetc(second, r->in);
    r->offset--;
    r->headBytes--;
  }
  return first;
}

// The next character, or EOF when none has come; -2 for none yet to count.
int NextChar(LogReader *r) {
  bool atStart = r->offset == 0;
  int c = r->pending >= 0 ? r->pending : TakeByte(r);
  r->pending = -1;
  if (c == EOF) return EOF;
  if (atStart) c = Start(r, c);
  if (r->encoding == kBytes || c == -2) return c;
  int second = TakeByte(r);
  if (second == EOF) {
    r->pending = c;
    return EOF;
  }
  int unit = r->encoding == kUtf16Little ? second << 8 | c : c << 8 | second;
  return unit < 0x80 ? unit : '?';
}

const char *Finish(LogReader *r) {
  size_t n = r->held;
  while (n > 0 && r->line[n - 1] == '\r') --n;
  r->line[n] = 0;
  r->held = 0;
  r->overlong = false;
  return r->line;
}

// Whether the file holds these n bytes (at most kHeadBytes) at offset at.
bool FileHolds(LogReader *r, int64_t at, const unsigned char *bytes, size_t n) {
  unsigned char now[kHeadBytes];
  return fseek(r->in, static_cast<long>(at), SEEK_SET) == 0 && fread(now, 1, n, r->in) == n &&
         memcmp(now, bytes, n) == 0;
}

// Whether the file still holds what was read at its start and just before
// where it was read to. A log without time stamps, rewritten with the same
// first line, differs from the old one there unless it holds the same text
// up to that point, as a log that only grew does.
bool SameAsRead(LogReader *r) {
  int64_t size = static_cast<int64_t>(kHeadBytes);
  size_t n = r->offset < size ? static_cast<size_t>(r->offset) : kHeadBytes;
  int64_t from = r->offset - static_cast<int64_t>(n);
  unsigned char lastInOrder[kHeadBytes];
  for (size_t k = 0; k < n; ++k) lastInOrder[k] = r->last[(from + static_cast<int64_t>(k)) % size];
  bool same = FileHolds(r, 0, r->head, r->headBytes) && FileHolds(r, from, lastInOrder, n);
  fseek(r->in, static_cast<long>(r->offset), SEEK_SET);
  return same;
}

// Should the file vanish between the look and the open, a later look tries again.
bool Reopen(LogReader *r) {
  const char *reason = nullptr;
  if (Open(r, &reason)) return true;
  CloseInput(r);
  return false;
}

}  // namespace

LogReader *ReaderOpen(const char *name, bool follow, const char **reason) {
  LogReader *r = static_cast<LogReader *>(calloc(1, sizeof(LogReader)));
  if (!r) {
    *reason = "out of memory";
    return nullptr;
  }
  r->name = name;
  r->standardInput = strcmp(name, "-") == 0;
  r->follow = follow;
  if (Open(r, reason)) return r;
  ReaderClose(r);
  return nullptr;
}

void ReaderClose(LogReader *r) {
  if (!r) return;
  CloseInput(r);
  free(r);
}

LogRead ReaderNext(LogReader *r, const char **line) {
  if (!r->in) return kLogPause;  // a follower between two files
  for (long k = 0; k < kStretch; ++k) {
    int c = NextChar(r);
    if (c == -2) continue;
    if (c == EOF) {
      bool failed = ferror(r->in) && errno != EINTR;
      // A UTF-16 unit cut in half at the end of a log is dropped.
      // Standard input cannot be looked for again under its name, so it is
      // over at its end, as a pipe is, whatever lies behind it.
      bool over = !failed && (!r->follow || r->pipe || r->standardInput);
      if (failed) r->error = errno;
      clearerr(r->in);
      if (failed) return kLogFailure;
      if (over && (r->held > 0 || r->overlong)) {
        *line = Finish(r);
        return kLogLine;
      }
      return over ? kLogEnded : kLogPause;
    }
    if (c == '\n') {
      *line = Finish(r);
      return kLogLine;
    }
    if (r->held < kLogLineMost) {
      // A NUL would end the line early for every reader after this one.
      r->line[r->held] = c == 0 ? '?' : static_cast<char>(c);
      r->held += 1;
    } else {
      r->overlong = true;
    }
  }
  return kLogPause;
}

const char *ReaderFailure(const LogReader *r) { return strerror(r->error); }

bool ReaderRest(LogReader *r, const char **line) {
  if (r->held == 0 && !r->overlong) return false;
  *line = Finish(r);
  return true;
}

bool ReaderStartedAgain(LogReader *r) {
  if (r->standardInput || r->pipe) return false;
  FileIdentity now;
  // A name missing for a moment is a log being replaced: wait for the new one.
  if (!IdentifyPath(r->name, &now)) return false;
  if (!r->in) return Reopen(r);
  bool replaced =
      r->identified && (now.volume != r->identity.volume || now.index != r->identity.index);
  if (!replaced && now.size >= r->offset && SameAsRead(r)) return false;
  CloseInput(r);
  Reopen(r);
  return true;
}

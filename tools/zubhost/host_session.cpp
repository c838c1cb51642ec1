#include "host_session.h"

#include <errno.h>
#include <string.h>
#include <windows.h>

#include "clean_text.h"
#include "command_line.h"
#include "host/quarne.h"
#include "log_analysis.h"
#include "trace_decoder.h"

HostSession host;

namespace {

TraceDecoder decoder;

}  // namespace

void OnDriverLog(int level, const char *line) {
  if (host.analyzer) AnalyzerLine(host.analyzer, line);
  if (host.watch) host.watch(line);
  if (host.logFile) {
    char stamp[40];
    WallClock(stamp, sizeof stamp);
    fprintf(host.logFile, "%s %d %s\n", stamp, level, line);
  }
  // The driver's errors are shown even without --log, apart from what
  // the commands print (JSON stays JSON). A line names the port as it was
  // given, control characters and all: shown escaped.
  if (host.showLog) {
    printf("    log %2d  ", level);
    WriteCleanText(stdout, line, EscapeControl);
    putchar('\n');
  } else if (level == kLogError) {
    fputs("    driver says: ", stderr);
    WriteCleanText(stderr, line, EscapeControl);
    fputc('\n', stderr);
  }
  if (host.decode) {
    char text[256];
    if (DecodeTraceLine(&decoder, line, text, sizeof text)) printf("    %s\n", text);
  }
}

// Why the port will not open: the host asks Windows again itself, since
// the driver reports every failed open as the same result.
void SayWhyOpenFailed(FILE *to, const char *port) {
  char why[512];
  const char *more = nullptr;  // a line of advice of the tool's own
  if (!WhatPortIs(port, why, sizeof why)) {
    HANDLE h =
        CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD e = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (!e) CloseHandle(h);
    if (!e) {
      snprintf(why, sizeof why,
               "%s opens, but refused the line settings: check --baud, --data, --stop and --parity",
               port);
      more = "  (a pseudo-terminal takes parity none only)\n";
    } else if (e == ERROR_FILE_NOT_FOUND) {
      snprintf(why, sizeof why,
               "Windows says there is no such port (error 2): check the name; COM10 and up are "
               "written \\\\.\\COM10");
    } else if (e == ERROR_ACCESS_DENIED) {
      snprintf(why, sizeof why,
               "Windows says the port is in use or not allowed (error 5): close the other program "
               "that holds %s",
               port);
    } else {
      snprintf(why, sizeof why, "Windows error %lu", static_cast<unsigned long>(e));
    }
  }
  fputs("  ", to);
  WriteCleanText(to, why, EscapeControl);
  fputc('\n', to);
  if (more) fputs(more, to);
}

void SayPortNotOpened(FILE *to, const char *port, const char *how) {
  fputs("open ", to);
  WriteCleanText(to, port, EscapeControl);
  fprintf(to, ": the port could not be opened%s\n", how);
  SayWhyOpenFailed(to, port);
}

bool OutputsWritten() {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    Mistake("cannot write standard output: %s", strerror(errno));
    return false;
  }
  if (host.logFile && (fflush(host.logFile) != 0 || ferror(host.logFile))) {
    Mistake("cannot write the log file %s: %s", host.logFileName, strerror(errno));
    return false;
  }
  return true;
}

int32_t Call(uint32_t operation, void *params) {
  RequestBlock r = {&host.channel, operation, {}, params};
  return host.zub(&r);
}

int32_t OpenPortAt(const SerialSettings &line, uint32_t replyTimeout) {
  memset(&host.channel, 0, sizeof host.channel);
  OpenRequest r = {{}, 1, replyTimeout, line};
  snprintf(r.deviceName, sizeof r.deviceName, "%s", host.settings.port);
  return Call(LUMISAR_OP_OPEN_PORT, &r);
}

bool OpenChannel() {
  if (host.channelOpen) return true;
  if (OpenPortAt(host.settings.line, host.settings.timeout) != LUMISAR_DONE) {
    SayPortNotOpened(stdout, host.settings.port, "");
    return false;
  }
  host.channelOpen = true;
  return true;
}

int32_t ResolveTag(const char *text, uint32_t type, bool block, int32_t count, TagAddress *a) {
  ResolveRequest r = {text, 0, type, count};
  int32_t result = Call(block ? LUMISAR_OP_RESOLVE_BLOCK_ADDRESS : LUMISAR_OP_RESOLVE_ADDRESS, &r);
  *a = r.address;
  return result;
}

int32_t PrepareIo(IoRequest *io, const char *text, uint32_t type, bool block, int32_t count,
                  uint8_t *values) {
  *io = IoRequest{text, 0, {}, type, count, 0, values};
  return ResolveTag(text, type, block, count, &io->address);
}

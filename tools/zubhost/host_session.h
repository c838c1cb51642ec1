// What every zubhost command shares: the line settings, the one channel the
// host opens, the driver's entry point, and where the driver's log lines go.
#pragma once

#include <stdio.h>

#include "host_platform.h"

struct LogAnalyzer;

struct HostSettings {
  char port[LUMISAR_DEVICE_NAME_SIZE] = "COM1";
  SerialSettings line = {19200, 8, 0, 1};
  uint32_t timeout = 100;
  bool timeoutGiven = false;  // --timeout was on the command line
};

struct HostSession {
  HostSettings settings;
  ZubMainFn zub = nullptr;
  PortContext channel = {};
  bool channelOpen = false;
  bool showLog = false, decode = false, version = false, help = false;  // --log, ...
  FILE *logFile = nullptr;  // --log-file: every logged line, time-stamped
  const char *logFileName = nullptr;
  LogAnalyzer *analyzer = nullptr;            // when set, reads every line the driver logs
  void (*watch)(const char *line) = nullptr;  // when set, sees every line the driver logs
};

extern HostSession host;

// Routes the driver's log lines to the screen, the decoder, the log file and the analyzer.
void OnDriverLog(int level, const char *line);

int32_t Call(uint32_t operation, void *params);
// Opens the channel on first use; says why when it cannot.
bool OpenChannel();
// Whether all that was printed and logged so far reached its file; names
// the first that did not (a full disk, a closed pipe).
bool OutputsWritten();
// Says why the host's port will not open, in a line or two.
void SayWhyOpenFailed(FILE *to, const char *port);
// "open PORT: the port could not be opened" and how, then why; the port
// name shown escaped.
void SayPortNotOpened(FILE *to, const char *port, const char *how);
// Operation 1 on the host's port at these settings; the driver's result.
int32_t OpenPortAt(const SerialSettings &line, uint32_t replyTimeout);
int32_t ResolveTag(const char *text, uint32_t type, bool block, int32_t count, TagAddress *a);
// A transfer of count values of the tag at text, through values; the result of resolving it.
int32_t PrepareIo(IoRequest *io, const char *text, uint32_t type, bool block, int32_t count,
                  uint8_t *values);

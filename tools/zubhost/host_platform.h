// How the command-line host reaches the driver and the host library: the
// real DLLs on Windows, the linked-in driver and substitutes natively.
#pragma once

#include "lumisar.h"

typedef void (*LogSink)(int level, const char *line);

// Loads the driver; null when it or its export is missing (message printed).
ZubMainFn LoadDriver();
// Sends every line the driver logs to sink.
void SetLogSink(LogSink sink);
// Native build only: lets a COM name open a tty or pty path.
void MapDevice(const char *name, const char *path);
double NowMs();
void SleepMs(unsigned ms);

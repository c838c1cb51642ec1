// How the command-line host reaches the driver and the host library: the
// real DLLs on Windows, the linked-in driver and substitutes natively.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "lumisar.h"

typedef void (*LogSink)(int level, const char *line);

// Loads the driver; null when it or its export is missing (message printed).
ZubMainFn LoadDriver();
// Sends every line the driver logs to sink.
void SetLogSink(LogSink sink);
// Native build only: lets a COM name open a tty or pty path; false when
// the name or the path is too long to keep (message printed).
bool MapDevice(const char *name, const char *path);
// Why the port cannot be a serial line, in a sentence that names what it
// is ("/tmp/x, which --map gives COM5, is a regular file, not a serial
// line"); false when it may well be one, or the platform cannot tell.
bool WhatPortIs(const char *port, char *why, size_t size);
double NowMs();
// The local date and time, ISO 8601 with milliseconds, for --log-file.
void WallClock(char *out, size_t size);
// The FileVersion of the driver that was loaded, "a.b.c.d", and its path.
bool DriverFileVersion(char *version, size_t size, char *path, size_t pathSize);
void SleepMs(unsigned ms);
// Whether standard error is a terminal, where a progress line may be drawn.
bool ErrorsToTerminal();
// Whether standard output is a terminal that takes ANSI screen controls.
bool OutputToTerminal();

// Ctrl-C (and SIGTERM, or closing the console) calls stop; a read that waits
// for input returns, so that the caller can look at what stop set.
void CatchStop(void (*stop)(int));

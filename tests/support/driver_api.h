// How a test reaches the driver and the substitute host library: linked in
// the native build, through LoadLibraryA and GetProcAddress under Wine, as a
// SCADA host does.
#pragma once

#include "lumisar.h"

bool DriverLoad();  // false when the library or an export is missing
int32_t Zub(RequestBlock *request);

void LogReset();  // also puts the host version back to 820
int LogCount();
int LogLevel(int index);
const char *LogText(int index);
void HostSetVersion(unsigned version);
void HostSetRegisterStatus(int status);
const char *HostClientCalls();
const char *HostLastClientName();
// Every line the driver logs also goes to counter (null: no more).
void SetLogCounter(void (*counter)(int level, const char *line));
// Lines in the host log that equal text, or start with prefix.
int LogLinesEqual(const char *text);
int LogLinesStarting(const char *prefix);

// Runs work(args[k]) on n threads at once (n at most 4) and waits for all;
// false when they could not run, with why in *whyNot. Wine's threads crash
// inside qemu's emulation, so under Wine there it is always false.
bool RunOnThreads(void (*work)(void *), void **args, int n, const char **whyNot);

// Short helpers for building requests.
int32_t Call(uint32_t operation, PortContext *context, void *params);
int32_t Resolve(const char *text, uint32_t dataType, TagAddress *out);
int32_t ResolveBlock(const char *text, int32_t count, TagAddress *out);
// An IoRequest for a tag, its address resolved as single value or block.
IoRequest TagRequest(const char *text, uint32_t dataType, int32_t count, void *values, bool block);

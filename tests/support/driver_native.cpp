#include "driver_api.h"
#include "quarne_control.h"

bool DriverLoad() { return true; }
int32_t Zub(RequestBlock *request) { return ZubMain(request); }
void LogReset() { QuarneReset(); }
int LogCount() { return QuarneLogCount(); }
int LogLevel(int i) { return QuarneLogLevel(i); }
const char *LogText(int i) { return QuarneLogText(i); }
void HostSetVersion(unsigned v) { QuarneSetVersion(v); }
void HostSetRegisterStatus(int s) { QuarneSetRegisterStatus(s); }
const char *HostClientCalls() { return QuarneClientCalls(); }
const char *HostLastClientName() { return QuarneLastClientName(); }
void SetLogCounter(void (*counter)(int, const char *)) { QuarneSetSink(counter); }

// The substitute host library: the four functions the driver imports, and
// the control functions that tests and the command-line host use.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "quarne_control.h"

#if defined(_WIN32)
#define QUARNE_EXPORT extern "C" __declspec(dllexport)
#define QUARNE_ERR_NAME err
#else
// glibc has an err() of its own; the native build links the driver's err
// to this name instead (see the driver's host library header).
#define QUARNE_EXPORT extern "C"
#define QUARNE_ERR_NAME quarne_err
#endif

namespace {

struct Line {
  int level;
  char text[QUARNE_LINE_SIZE];
};

Line lines[QUARNE_MAX_LINES];
int lineCount;
unsigned hostVersion = 820;
int registerStatus;
QuarneSink sink;
int countOnly;
char clientCalls[64];
char lastClient[256];

void NoteCall(char c) {
  size_t n = strlen(clientCalls);
  if (n + 1 < sizeof clientCalls) {
    clientCalls[n] = c;
    clientCalls[n + 1] = 0;
  }
}

}  // namespace

QUARNE_EXPORT int QUARNE_CDECL QUARNE_ERR_NAME(int level, const char *format, ...) {
  if (countOnly) {
    __atomic_fetch_add(&lineCount, 1, __ATOMIC_RELAXED);
    return 0;
  }
  char text[QUARNE_LINE_SIZE];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // Channels on several threads log at once: each line takes its own slot.
  int slot = __atomic_fetch_add(&lineCount, 1, __ATOMIC_RELAXED);
  if (slot < QUARNE_MAX_LINES) {
    lines[slot].level = level;
    memcpy(lines[slot].text, text, sizeof text);
  }
  if (sink) sink(level, text);
  return 0;
}

QUARNE_EXPORT int QUARNE_CDECL TevMkClient(const char *name, int, int, uint8_t *clientId) {
  NoteCall('M');
  snprintf(lastClient, sizeof lastClient, "%s", name ? name : "");
  if ((registerStatus & 0xffff) == 0 && clientId) *clientId = 3;
  return registerStatus;
}

QUARNE_EXPORT int QUARNE_CDECL TevGetQuarneVer(uint8_t, uint16_t *version, char *text) {
  NoteCall('G');
  if (version) *version = static_cast<uint16_t>(hostVersion);
  if (text) snprintf(text, 100, "QUARNE substitute %u", hostVersion);
  return 0;
}

QUARNE_EXPORT int QUARNE_CDECL TevRmClient(uint8_t) {
  NoteCall('R');
  return 0;
}

QUARNE_EXPORT void QUARNE_CDECL QuarneReset(void) {
  lineCount = 0;
  countOnly = 0;
  hostVersion = 820;
  registerStatus = 0;
  clientCalls[0] = 0;
  lastClient[0] = 0;
}
QUARNE_EXPORT void QUARNE_CDECL QuarneSetVersion(unsigned version) { hostVersion = version; }
QUARNE_EXPORT void QUARNE_CDECL QuarneSetRegisterStatus(int status) { registerStatus = status; }
QUARNE_EXPORT int QUARNE_CDECL QuarneLogCount(void) { return lineCount; }
QUARNE_EXPORT int QUARNE_CDECL QuarneLogLevel(int i) {
  return i >= 0 && i < lineCount && i < QUARNE_MAX_LINES ? lines[i].level : -1;
}
QUARNE_EXPORT const char *QUARNE_CDECL QuarneLogText(int i) {
  return i >= 0 && i < lineCount && i < QUARNE_MAX_LINES ? lines[i].text : "";
}
QUARNE_EXPORT void QUARNE_CDECL QuarneSetSink(QuarneSink s) { sink = s; }
QUARNE_EXPORT void QUARNE_CDECL QuarneSetCountOnly(int on) { countOnly = on; }
QUARNE_EXPORT const char *QUARNE_CDECL QuarneClientCalls(void) { return clientCalls; }
QUARNE_EXPORT const char *QUARNE_CDECL QuarneLastClientName(void) { return lastClient; }

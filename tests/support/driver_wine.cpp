#include <stdlib.h>
#include <windows.h>

#include "driver_api.h"
#include "quarne_control.h"

namespace {

ZubMainFn zub;
QuarneResetFn reset;
QuarneSetVersionFn setVersion;
QuarneSetRegisterStatusFn setRegister;
QuarneLogCountFn logCount;
QuarneLogLevelFn logLevel;
QuarneLogTextFn logText;
QuarneTextFn clientCalls, lastClient;
QuarneSetSinkFn setSink;
void (*counterFn)(int, const char *);
void QUARNE_CDECL Forward(int level, const char *line) {
  if (counterFn) counterFn(level, line);
}

template <typename T>
bool Find(HMODULE m, const char *name, T *out) {
  *out = reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(m, name)));
  return *out != nullptr;
}

struct ThreadJob {
  void (*work)(void *);
  void *arg;
};
DWORD WINAPI RunJob(void *job) {
  static_cast<ThreadJob *>(job)->work(static_cast<ThreadJob *>(job)->arg);
  return 0;
}

}  // namespace

bool DriverLoad() {
  if (zub) return true;
  HMODULE driver = LoadLibraryA("LUMISAR.DLL");
  if (!driver) return false;
  // The driver imports QUARNE.DLL, so loading it brought the substitute in.
  HMODULE host = GetModuleHandleA("QUARNE.DLL");
  if (!host) return false;
  return Find(driver, "ZubMain", &zub) && Find(host, "QuarneReset", &reset) &&
         Find(host, "QuarneSetVersion", &setVersion) &&
         Find(host, "QuarneSetRegisterStatus", &setRegister) &&
         Find(host, "QuarneLogCount", &logCount) && Find(host, "QuarneLogLevel", &logLevel) &&
         Find(host, "QuarneLogText", &logText) && Find(host, "QuarneClientCalls", &clientCalls) &&
         Find(host, "QuarneLastClientName", &lastClient) && Find(host, "QuarneSetSink", &setSink);
}

int32_t Zub(RequestBlock *request) { return zub(request); }
void LogReset() { reset(); }
int LogCount() { return logCount(); }
int LogLevel(int i) { return logLevel(i); }
const char *LogText(int i) { return logText(i); }
void HostSetVersion(unsigned v) { setVersion(v); }
void HostSetRegisterStatus(int s) { setRegister(s); }
const char *HostClientCalls() { return clientCalls(); }
const char *HostLastClientName() { return lastClient(); }
void SetLogCounter(void (*counter)(int, const char *)) {
  counterFn = counter;
  setSink(counter ? Forward : nullptr);
}

bool RunOnThreads(void (*work)(void *), void **args, int n, const char **whyNot) {
  const char *emulated = getenv("LUMISAR_EMULATED");
  if (emulated && *emulated) {
    *whyNot = "i386 runs under qemu here, where Wine's threads crash in the emulator";
    return false;
  }
  ThreadJob jobs[4];
  HANDLE threads[4];
  int started = 0;
  for (; started < n && started < 4; ++started) {
    jobs[started] = {work, args[started]};
    threads[started] = CreateThread(nullptr, 0, RunJob, &jobs[started], 0, nullptr);
    if (!threads[started]) break;
  }
  WaitForMultipleObjects(static_cast<DWORD>(started), threads, TRUE, INFINITE);
  for (int k = 0; k < started; ++k) CloseHandle(threads[k]);
  *whyNot = "a thread would not start";
  return started == n;
}

#include <stdio.h>
#include <windows.h>

#include "host_platform.h"
#include "quarne_control.h"

namespace {
LogSink userSink;
void QUARNE_CDECL Forward(int level, const char *line) { userSink(level, line); }
}  // namespace

ZubMainFn LoadDriver() {
  HMODULE driver = LoadLibraryA("LUMISAR.DLL");
  if (!driver) {
    fprintf(stderr, "zubhost: cannot load LUMISAR.DLL (error %lu)\n", GetLastError());
    return nullptr;
  }
  ZubMainFn zub = reinterpret_cast<ZubMainFn>(reinterpret_cast<void *>(GetProcAddress(driver, "ZubMain")));
  if (!zub) fprintf(stderr, "zubhost: LUMISAR.DLL has no ZubMain export\n");
  return zub;
}

void SetLogSink(LogSink sink) {
  userSink = sink;
  HMODULE host = GetModuleHandleA("QUARNE.DLL");
  auto set = reinterpret_cast<QuarneSetSinkFn>(
      reinterpret_cast<void *>(host ? GetProcAddress(host, "QuarneSetSink") : nullptr));
  if (set) set(sink ? Forward : nullptr);
}

void MapDevice(const char *, const char *) {}
double NowMs() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}
void SleepMs(unsigned ms) { Sleep(ms); }

#include <time.h>
#include <unistd.h>
#include <winsub.h>

#include "host_platform.h"
#include "quarne_control.h"

ZubMainFn LoadDriver() { return ZubMain; }
void SetLogSink(LogSink sink) { QuarneSetSink(sink); }
void MapDevice(const char *name, const char *path) { WinsubMapDevice(name, path); }
double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}
void SleepMs(unsigned ms) { usleep(ms * 1000u); }

#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <winsub.h>

#include "host_platform.h"
#include "lumisar_version.h"
#include "quarne_control.h"

ZubMainFn LoadDriver() { return ZubMain; }
void SetLogSink(LogSink sink) { QuarneSetSink(sink); }
void MapDevice(const char *name, const char *path) { WinsubMapDevice(name, path); }
double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}
void WallClock(char *out, size_t size) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  char day[32];
  strftime(day, sizeof day, "%Y-%m-%dT%H:%M:%S", &local);
  snprintf(out, size, "%s.%03ld", day, ts.tv_nsec / 1000000);
}
// The native host links the driver in: its version is the source's.
bool DriverFileVersion(char *version, size_t size, char *path, size_t pathSize) {
  snprintf(version, size, "%s", LUMISAR_VERSION_TEXT);
  snprintf(path, pathSize, "linked in");
  return true;
}
void SleepMs(unsigned ms) { usleep(ms * 1000u); }
bool ErrorsToTerminal() { return isatty(2); }
bool OutputToTerminal() { return isatty(1); }

namespace {
bool Identify(const struct stat &st, FileIdentity *out) {
  *out = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                      static_cast<int64_t>(st.st_size)};
  return true;
}
}  // namespace
bool IdentifyPath(const char *path, FileIdentity *out) {
  struct stat st;
  return stat(path, &st) == 0 && Identify(st, out);
}
bool IdentifyFile(FILE *file, FileIdentity *out) {
  struct stat st;
  return fstat(fileno(file), &st) == 0 && Identify(st, out);
}
// Without SA_RESTART, so that a read waiting on a quiet pipe gives up (EINTR).
void CatchStop(void (*stop)(int)) {
  struct sigaction action = {};
  action.sa_handler = stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

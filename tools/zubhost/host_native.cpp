#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <winsub.h>

#include "command_line.h"
#include "host_platform.h"
#include "lumisar_version.h"
#include "quarne_control.h"

namespace {

// The --map entries, kept to name a path when it will not open. The
// substitute holds 16 of them, names under 32 bytes and paths under 256.
struct Mapped {
  char name[LUMISAR_DEVICE_NAME_SIZE];
  char path[256];
};
constexpr int kMostMapped = 16;
Mapped mapped[kMostMapped];
int mappedCount;

const char *PathOf(const char *port, const char **via) {
  *via = nullptr;
  if (strcmp(port, "NUL") == 0) return "/dev/null";
  if (port[0] == '/') return port;
  for (int k = 0; k < mappedCount; ++k) {
    if (strcmp(mapped[k].name, port) != 0) continue;
    *via = mapped[k].name;
    return mapped[k].path;
  }
  return nullptr;
}

}  // namespace

ZubMainFn LoadDriver() { return ZubMain; }
void SetLogSink(LogSink sink) { QuarneSetSink(sink); }

bool MapDevice(const char *name, const char *path) {
  if (mappedCount == kMostMapped || strlen(name) >= sizeof mapped[0].name ||
      strlen(path) >= sizeof mapped[0].path) {
    Mistake(
        "--map takes at most %d names, each to a path of at most %u characters (not %s=%.40s...)",
        kMostMapped, static_cast<unsigned>(sizeof mapped[0].path - 1), name, path);
    return false;
  }
  for (int k = 0; k < mappedCount; ++k) {
    if (strcmp(mapped[k].name, name) != 0) continue;
    Mistake("--map names %s twice (%s and %s): one path a name", name, mapped[k].path, path);
    return false;
  }
  Mapped &m = mapped[mappedCount];
  mappedCount += 1;
  snprintf(m.name, sizeof m.name, "%s", name);
  snprintf(m.path, sizeof m.path, "%s", path);
  WinsubMapDevice(name, path);
  return true;
}

bool WhatPortIs(const char *port, char *why, size_t size) {
  const char *via = nullptr;
  const char *path = PathOf(port, &via);
  if (!path) return false;
  char named[400];
  if (via)
    snprintf(named, sizeof named, "%s is %s (--map),", via, path);
  else
    snprintf(named, sizeof named, "%s", path);
  struct stat st;
  if (stat(path, &st) != 0) {
    snprintf(why, size, "%s%s cannot be opened: %s", named, via ? " which" : "", strerror(errno));
    return true;
  }
  const char *kind = nullptr;
  if (S_ISREG(st.st_mode)) kind = "a regular file";
  if (S_ISDIR(st.st_mode)) kind = "a directory";
  if (S_ISFIFO(st.st_mode)) kind = "a FIFO";
  if (S_ISSOCK(st.st_mode)) kind = "a socket";
  if (S_ISBLK(st.st_mode)) kind = "a block device";
  if (S_ISCHR(st.st_mode)) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && !isatty(fd)) kind = "a device that is not a terminal";
    if (fd >= 0) close(fd);
  }
  if (!kind) return false;
  snprintf(why, size, "%s%s %s, not a serial line", named, via ? "" : " is", kind);
  return true;
}
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

// Without SA_RESTART, so that a read waiting on a quiet pipe gives up (EINTR).
void CatchStop(void (*stop)(int)) {
  struct sigaction action = {};
  action.sa_handler = stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

#include <io.h>
#include <signal.h>
#include <stdio.h>
#include <windows.h>

#include "host_platform.h"
#include "quarne_control.h"

namespace {
LogSink userSink;
HMODULE driver;
void QUARNE_CDECL Forward(int level, const char *line) { userSink(level, line); }
}  // namespace

ZubMainFn LoadDriver() {
  driver = LoadLibraryA("LUMISAR.DLL");
  if (!driver) {
    fprintf(stderr,
            "zubhost: cannot load LUMISAR.DLL (Windows error %lu): put it beside zubhost.exe\n",
            GetLastError());
    return nullptr;
  }
  ZubMainFn zub =
      reinterpret_cast<ZubMainFn>(reinterpret_cast<void *>(GetProcAddress(driver, "ZubMain")));
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

bool MapDevice(const char *, const char *) { return true; }

bool WhatPortIs(const char *port, char *why, size_t size) {
  HANDLE h = CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD type = GetFileType(h);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  bool comm = GetCommState(h, &dcb) != 0;
  CloseHandle(h);
  const char *kind = nullptr;
  if (type == FILE_TYPE_DISK) kind = "a file";
  if (type == FILE_TYPE_PIPE) kind = "a pipe";
  if (type == FILE_TYPE_CHAR && !comm) kind = "a device that is not a serial port";
  if (!kind) return false;
  snprintf(why, size, "%s is %s, not a serial port", port, kind);
  return true;
}
double NowMs() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}
void WallClock(char *out, size_t size) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  snprintf(out, size, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
           t.wMinute, t.wSecond, t.wMilliseconds);
}

// Read from the file's version resource, as Explorer's Details tab does.
bool DriverFileVersion(char *version, size_t size, char *path, size_t pathSize) {
  snprintf(path, pathSize, "not loaded");
  if (!driver || !GetModuleFileNameA(driver, path, static_cast<DWORD>(pathSize))) return false;
  DWORD ignored = 0;
  DWORD bytes = GetFileVersionInfoSizeA(path, &ignored);
  static char data[8192];
  if (!bytes || bytes > sizeof data || !GetFileVersionInfoA(path, 0, bytes, data)) return false;
  VS_FIXEDFILEINFO *info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueA(data, "\\", reinterpret_cast<void **>(&info), &infoSize) || !info)
    return false;
  snprintf(version, size, "%u.%u.%u.%u", HIWORD(info->dwFileVersionMS),
           LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
           LOWORD(info->dwFileVersionLS));
  return true;
}
void SleepMs(unsigned ms) { Sleep(ms); }
bool ErrorsToTerminal() { return _isatty(_fileno(stderr)); }
bool OutputToTerminal() {
  if (!_isatty(_fileno(stdout))) return false;
  // Windows 10 and later consoles take ANSI controls once asked to.
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  // Without them (an older console) the screen is not drawn: plain lines instead.
  return GetConsoleMode(console, &mode) && SetConsoleMode(console, mode | 0x0004);
}

// The C runtime turns Ctrl-C and Ctrl-Break into signals; SIGTERM never comes.
void CatchStop(void (*stop)(int)) {
  signal(SIGINT, stop);
  signal(SIGBREAK, stop);
}

// gtest for the Wine suite, included ahead of everything in the cross
// build. Debian's mingw-w64 (win32 threads) has no std::mutex, which gtest's
// Notification is built on; a Win32 event does the same job. And gtest
// copies every failure and skip to OutputDebugStringA, which raises an
// exception that Wine under qemu emulation cannot dispatch: the process
// died at its first failed check. Stdout has them already.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification &) = delete;
  Notification &operator=(const Notification &) = delete;
  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1

inline void QuietDebugString(const char *) {}
#define OutputDebugStringA QuietDebugString

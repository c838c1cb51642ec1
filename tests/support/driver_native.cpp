#include <pthread.h>

#include "driver_api.h"
#include "quarne_control.h"

namespace {

struct ThreadJob {
  void (*work)(void *);
  void *arg;
};
void *RunJob(void *job) {
  static_cast<ThreadJob *>(job)->work(static_cast<ThreadJob *>(job)->arg);
  return nullptr;
}

}  // namespace

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

bool RunOnThreads(void (*work)(void *), void **args, int n, const char **whyNot) {
  ThreadJob jobs[4];
  pthread_t threads[4];
  int started = 0;
  for (; started < n && started < 4; ++started) {
    jobs[started] = {work, args[started]};
    if (pthread_create(&threads[started], nullptr, RunJob, &jobs[started]) != 0) break;
  }
  for (int k = 0; k < started; ++k) pthread_join(threads[k], nullptr);
  *whyNot = "a thread would not start";
  return started == n;
}

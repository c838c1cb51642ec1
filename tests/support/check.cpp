#include "check.h"

#include <stdlib.h>

namespace {

struct Entry {
  const char *name;
  TestFn fn;
};

Entry tests[512];
int testCount;
int failuresInTest;

}  // namespace

TestRegistrar::TestRegistrar(const char *name, TestFn fn) {
  if (testCount < 512) tests[testCount++] = Entry{name, fn};
}

void CheckFailed(const char *file, int line, const char *what) {
  fprintf(stderr, "  %s:%d: check failed: %s\n", file, line, what);
  failuresInTest++;
}

void CheckEqualFailed(const char *file, int line, const char *what, long long a, long long b) {
  fprintf(stderr, "  %s:%d: check failed: %s (%lld, 0x%llx != %lld, 0x%llx)\n", file, line, what, a,
          a, b, b);
  failuresInTest++;
}

int RunTests(int argc, char **argv) {
  const char *filter = argc > 1 ? argv[1] : "";
  int passed = 0, failed = 0;
  for (int i = 0; i < testCount; ++i) {
    if (!strstr(tests[i].name, filter)) continue;
    failuresInTest = 0;
    tests[i].fn();
    if (failuresInTest) {
      fprintf(stderr, "FAIL %s\n", tests[i].name);
      failed++;
    } else {
      printf("ok   %s\n", tests[i].name);
      passed++;
    }
    fflush(stdout);
  }
  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

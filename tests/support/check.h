// A small test harness that runs the same way natively and under Wine:
// tests register themselves, failures print file and line, and the run ends
// with the line "N passed, N failed".
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

using TestFn = void (*)();

struct TestRegistrar {
  TestRegistrar(const char *name, TestFn fn);
};

void CheckFailed(const char *file, int line, const char *what);
void CheckEqualFailed(const char *file, int line, const char *what, long long a, long long b);
// Runs every test whose name contains argv[1] (all without it).
int RunTests(int argc, char **argv);

#define TEST(name)                                   \
  static void name();                                \
  static TestRegistrar name##Registrar(#name, name); \
  static void name()

#define CHECK(cond)                                      \
  do {                                                   \
    if (!(cond)) CheckFailed(__FILE__, __LINE__, #cond); \
  } while (0)

#define CHECK_EQ(a, b)                                                                        \
  do {                                                                                        \
    long long checkA = static_cast<long long>(a), checkB = static_cast<long long>(b);         \
    if (checkA != checkB) CheckEqualFailed(__FILE__, __LINE__, #a " == " #b, checkA, checkB); \
  } while (0)

#define CHECK_STR(a, b)                                                                  \
  do {                                                                                   \
    const char *checkA = (a), *checkB = (b);                                             \
    if (strcmp(checkA, checkB) != 0) {                                                   \
      char checkText[512];                                                               \
      snprintf(checkText, sizeof checkText, "%s: \"%s\" != \"%s\"", #a, checkA, checkB); \
      CheckFailed(__FILE__, __LINE__, checkText);                                        \
    }                                                                                    \
  } while (0)

#define CHECK_MEM(a, b, n) CHECK(memcmp((a), (b), (n)) == 0)

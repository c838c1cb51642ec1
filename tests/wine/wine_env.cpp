#include "wine_env.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace {

// "Z:" + the FIFO's Unix path of simulator 1 or 2, or null without one.
const char *ControlPath(int sim) {
  static char path[2][512];
  const char *unixPath = getenv(sim == 2 ? "LUMISAR_SIM_CONTROL2" : "LUMISAR_SIM_CONTROL");
  if (!unixPath) return nullptr;
  char *out = path[sim == 2];
  snprintf(out, sizeof path[0], "Z:%s", unixPath);
  return out;
}

}  // namespace

const char *SimControlPath() { return ControlPath(1); }

void SimCommand(const char *command) { SimCommandTo(1, command, 100); }

void SimCommandTo(int sim, const char *command, int waitMs) {
  const char *path = ControlPath(sim);
  if (!path) return;
  if (FILE *f = fopen(path, "w")) {
    fputs(command, f);
    fclose(f);
  }
  if (waitMs) Sleep(static_cast<DWORD>(waitMs));
}

bool Emulated() {
  const char *e = getenv("LUMISAR_EMULATED");
  return e && *e;
}

bool RunnerPath(const char *name, char *out, size_t size) {
  const char *dir = getenv("LUMISAR_RUNNER_DIR");
  if (!dir) return false;
  snprintf(out, size, "%s/%s", dir, name);
  return true;
}

bool RunnerRequest(const char *what, int timeoutMs) {
  char unixPath[512], path[520];
  if (!RunnerPath("request", unixPath, sizeof unixPath)) return false;
  snprintf(path, sizeof path, "Z:%s", unixPath);
  FILE *f = fopen(path, "w");
  if (!f) return false;
  fputs(what, f);
  fclose(f);
  // The runner removes the request once it has acted on it.
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;
    Sleep(20);
  }
  return false;
}

#include "wine_env.h"

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

const char *SimControlPath() {
  static char path[512];
  const char *unixPath = getenv("LUMISAR_SIM_CONTROL");
  if (!unixPath) return nullptr;
  snprintf(path, sizeof path, "Z:%s", unixPath);
  return path;
}

void SimCommand(const char *command) {
  const char *path = SimControlPath();
  if (!path) return;
  if (FILE *f = fopen(path, "w")) {
    fputs(command, f);
    fclose(f);
  }
  Sleep(100);
}

// --version: which zubhost this is, and which driver file it loaded. An
// integrator with several LUMISAR.DLL files on a PC asks this first.
#include "commands.h"
#include "lumisar_version.h"

int32_t VersionCommand(char **) {
  printf("zubhost %s\n", LUMISAR_VERSION_TEXT);
  char version[64], path[260];
  if (DriverFileVersion(version, sizeof version, path, sizeof path))
    printf("LUMISAR.DLL %s (%s)\n", version, path);
  else
    printf("LUMISAR.DLL: no version resource found (%s)\n", path);
  return 0;
}

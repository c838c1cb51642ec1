// The Wine suite: one process, since every Wine start is costly here. It
// loads LUMISAR.DLL as a SCADA host does and runs the boundary, port,
// round-trip and dialog tests against it.
#include <stdio.h>

#include "support/check.h"
#include "support/driver_api.h"

int main(int argc, char **argv) {
  if (!DriverLoad()) {
    printf("cannot load LUMISAR.DLL or find ZubMain\n0 passed, 1 failed\n");
    return 1;
  }
  return RunTests(argc, argv);
}

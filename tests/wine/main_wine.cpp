// The Wine suite: one process, since every Wine start is costly here. It
// loads LUMISAR.DLL as a SCADA host does and runs the boundary, port,
// round-trip and dialog tests against it.
#include <gtest/gtest.h>
#include <stdio.h>

#include "support/driver_api.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!DriverLoad()) {
    printf("cannot load LUMISAR.DLL or find ZubMain\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}

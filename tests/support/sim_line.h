// A channel whose port is an in-memory device with the controller simulator
// behind it: exchanges run without real waiting, and a silent controller
// costs no time.
#pragma once

#include <winsub.h>

#include "lumisar.h"
#include "sim_core.h"

struct SimLine {
  PortContext context;
  WinsubMemDevice *dev;
  Sim *sim;
  // Changes each answer of the simulator on its way to the driver; null
  // for none.
  void (*alter)(SimOutput *out);
};

// Resets the substitute and the host log, adds station 1 and opens COM3.
void SimLineOpen(SimLine *line);
void SimLineClose(SimLine *line);
// Reopens the channel at `settings` with a reply time limit of `limit`
// units on a line with time, the far end at the same speed and parity; a
// baudRate of 0 leaves the line as it is.
void SimLinePace(SimLine *line, SerialSettings settings, uint32_t limit);
unsigned SimEnquiries(const SimLine *line);

int32_t ReadTag(SimLine *line, const char *text, uint32_t dataType, void *values);
int32_t WriteTag(SimLine *line, const char *text, uint32_t dataType, void *values);
int32_t ReadBlockTag(SimLine *line, const char *text, int32_t count, void *values);
int32_t WriteBlockTag(SimLine *line, const char *text, int32_t count, void *values);
int32_t Transfer(SimLine *line, uint32_t operation, IoRequest *io);

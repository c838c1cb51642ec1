// The plcsim process for tests, the soak and the benchmarks: started on a
// pty it links under /tmp, with a control FIFO, stopped with its statistics.
#pragma once

#include <stddef.h>
#include <sys/types.h>

struct SimProcess {
  pid_t pid = -1;
  int out = -1;  // the simulator's standard output
  char link[128] = {};
  char control[128] = {};
};

// Starts `plcsim --quiet --link L --control C` and the extra arguments (a
// null-terminated list), and waits until it says its line is ready. Started
// again after SimProcessKill, it comes back under the same link.
bool SimProcessStart(SimProcess *s, const char *plcsim, const char *const *extra);
// One or more command lines for the control FIFO.
void SimProcessCommand(SimProcess *s, const char *lines);
// Kills it at once, as a pulled USB adapter vanishes: no goodbye.
void SimProcessKill(SimProcess *s);
// Stops it; what it printed last (its statistics) goes to finalOutput.
void SimProcessStop(SimProcess *s, char *finalOutput = nullptr, size_t size = 0);

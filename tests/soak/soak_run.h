// The soak's exchanges, shared by the native soak (one or several channels
// on threads) and the Wine suite: every kind of exchange against a
// simulator, a random single fault before some of them, and a shadow model
// of the controller's memory that checks every value read.
#pragma once

#include <stdint.h>

#include "lumisar.h"

constexpr int kSoakRegion = 512;  // words V0..V777 (octal) are exercised

struct SoakChannel {
  // Set by the caller: an open channel, the station its controller plays,
  // and how to give that simulator a control command.
  PortContext *context;
  int station;
  void (*command)(void *user, const char *lines);
  void *user;
  uint32_t seed;
  int exchanges;
  // Filled in by SoakRun.
  uint16_t model[kSoakRegion];  // what the controller must hold
  // Words a failed write may or may not have changed: the controller may
  // have taken the data and lost only its answer. The next read learns them.
  bool uncertain[kSoakRegion];
  unsigned results[3], wrong, faultsAsked, plainEnquiries, enquiries, otherStations;
};

// Runs the exchanges on the calling thread. Channels on other threads may
// run at the same time; address resolution, which the host's rules keep to
// one call at a time, is serialised here.
void SoakRun(SoakChannel *c);
// Words of the simulator's memory (from V0) that differ from the model.
unsigned SoakMemoryMismatches(const SoakChannel *c, const uint16_t *memory, int words);
// Counts the calling thread's enquiries: hand every log line to it.
void SoakCountLogLine(int level, const char *line);

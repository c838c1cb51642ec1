// The soak's exchanges, shared by the native soak (one or several channels
// on threads) and the Wine suite: every kind of exchange against a
// simulator, a random single fault before some of them, now and then a
// fault on every chance of one exchange so that it must fail, and a shadow
// model of the controller's memory that checks every value read.
#pragma once

#include <stdint.h>
#include <stdio.h>

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
  uint32_t limitMs;  // the channel's reply limit: a late reply is late by up to one
  // Filled in by SoakRun.
  uint16_t model[kSoakRegion];  // what the controller must hold
  // A write that failed may still have landed (the controller took the data
  // and only its answer was lost): such a word holds its model value or the
  // one written, until a read learns which.
  bool uncertain[kSoakRegion];
  uint16_t written[kSoakRegion];
  unsigned results[3];
  unsigned wrong;       // values read that the model rules out
  unsigned unexpected;  // results other than the fault plan foretold
  unsigned faultsAsked, spoilsAsked, defeats, landed;
  unsigned plainEnquiries, enquiries, otherStations;
  // Exchanges that took more attempts than their one fault may cost: one
  // more attempt for a fault or a spoiled reply, two for a late reply.
  unsigned overBudget;
  char plan[96];  // the simulator commands of the exchange under way, for the messages
};

// Runs the exchanges on the calling thread. Channels on other threads may
// run at the same time; address resolution, which the host's rules keep to
// one call at a time, is serialised here.
void SoakRun(SoakChannel *c);
// Words of the simulator's memory (from V0) that the model rules out.
unsigned SoakMemoryMismatches(const SoakChannel *c, const uint16_t *memory, int words);
// Counts the calling thread's enquiries: hand every log line to it.
void SoakCountLogLine(int level, const char *line);
// The simulator's counters the verdict reads, from its "plcsim: stats"
// line; false when one is missing, since a count that cannot be read
// proves nothing.
struct SoakSimCounts {
  unsigned faults, foreign;
  // Gaps a loaded machine put into the simulator's answers: each may cost
  // an exchange the attempt after its fault's, as the line fell quiet early.
  // Every fault costing more attempts is the transaction tables' to catch,
  // on a clock no load can hold up.
  unsigned stalls;
};
bool SoakSimStats(const char *stats, SoakSimCounts *counts);
// Prints the channel's figures to out and says whether the run shows what a
// soak must: every exchange ended as its fault plan foretold, no value or
// word the model rules out, faults injected and retried, failed writes
// that landed, an enquiry traced for every exchange, and no frame for
// another station sent or received.
bool SoakVerdict(const SoakChannel *c, unsigned mismatches, const SoakSimCounts &sim, FILE *out);

// The simulator's memory from the dump file a "dump" command writes, words
// from V0 into memory (kSimWords of them, zero where the file stops): the
// simulator writes it when it reads the command, later on a loaded machine,
// so the file is read until it is whole or waitMs have passed. The number
// of words read.
size_t SoakReadDump(const char *path, uint16_t *memory, int waitMs);

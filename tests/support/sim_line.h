// A channel whose port is an in-memory device with the controller simulator
// behind it: exchanges run without real waiting, and a silent controller
// costs no time.
#pragma once

#include <stdio.h>
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
  // Echoes what the driver writes as it goes out, as a two-wire RS-485 converter does.
  bool echo;
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

// Every single-byte fault a line can make to the controller's replies,
// tried one at a time on the in-memory line.
enum LineFault { kLineChanged, kLineLost, kLineInserted, kLineLate, kLineFaults };
const char *LineFaultName(int fault);

// An exchange as a host asks for it, on words from V40000 of PLC 01.
struct FaultedExchange {
  const char *name;
  uint32_t operation;
  const char *text;
  uint32_t dataType;
  int32_t count;
  bool block;
};
extern const FaultedExchange kFaultedExchanges[];
extern const int kFaultedExchangeCount;

// How the exchanges with one kind of fault ended. Right values are those
// of the same exchange without the fault: read into the host's buffer, or
// written into the controller's memory.
struct FaultTally {
  unsigned tried;
  unsigned atOnce;       // done, right, no further attempt: the fault did no harm
  unsigned oneMore;      // done, right, after one further attempt (two when late)
  unsigned givenUp;      // refused or failed
  unsigned wrong;        // done with a wrong value
  unsigned overspent;    // done, right, after more further attempts than that
  unsigned offDialogue;  // the driver sent bytes that are no attempt at the dialogue
  unsigned missed;       // the frame to spoil never went out
};

// Tries every fault of every kind in every frame the controller sends in
// the exchange: each byte changed to each other value, each byte lost, a
// byte of each value put in at each place from before the frame to after
// it, and the frame late by one reply limit; on a line where what trails
// a frame has arrived by the driver's next step, on one where it arrives
// just after the driver looked for it, and on one where it comes only as
// the driver reads (WinsubMemDevice's trailing). With `echo`, on a line
// that echoes, each byte of each echo also changed and lost.
void TallyFaults(const FaultedExchange &exchange, FaultTally tally[kLineFaults], bool echo);

// The tallies as rows of a Markdown table, one for each kind of fault.
void PrintFaultTallyHeader(FILE *out);
void PrintFaultTally(FILE *out, const FaultedExchange &exchange,
                     const FaultTally tally[kLineFaults]);

// The protocol's own limit: two bytes of a single word read's data frame
// (STX, two data bytes, ETX, check byte) changed at once, at every pair of
// places i < j and by every pair of patterns, tallied in tally[i][j].
constexpr int kWordFrameLength = 5;
void TallyChangedPairs(FaultTally tally[kWordFrameLength][kWordFrameLength]);

// A controller (or several, by station number) answering the Transparent
// Byte Protocol from the controller's side. Written apart from the driver:
// its own frame parsing and checks, so that a fault in one shows up in the
// other. Bytes from the master go in through SimFeed; replies come out.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

constexpr int kSimWords = 32768;  // V-memory words per station

enum SimFault {
  kFaultNone = 0,
  kFaultNoAnswer,       // the enquiry gets no reply at all
  kFaultWrongStation,   // acknowledge carries another station's byte
  kFaultNoAck,          // acknowledge ends in NAK instead of ACK
  kFaultHeaderRefused,  // NAK instead of ACK after the header
  kFaultDataRefused,    // NAK instead of ACK after a written data frame
  kFaultBadLrc,         // read data frame with a wrong check byte
  kFaultNoStx,          // read data frame whose first byte is not STX
  kFaultBadEtx,         // read data frame with a wrong terminator
  kFaultNoEot,          // nothing after the master's ACK
  kFaultBadEot,         // another byte instead of EOT
  kFaultShortReply,     // read data frame cut short
  kFaultNoise,          // noise bytes before the acknowledge
  kFaultDelay,          // the acknowledge comes late (delayMs of the output)
  kFaultAckLost,        // a written data frame is taken, but its ACK is lost
  kFaultKinds
};

const char *SimFaultName(int kind);
int SimFaultByName(const char *name);  // kFaultNone when unknown

// The frames a noisy line can spoil, and how it spoils them.
enum SimFrame {
  kFrameAcknowledge,  // the three-byte acknowledge of an enquiry
  kFrameHeaderAck,    // the ACK after a header, read or write
  kFrameData,         // the data frame of a read
  kFrameDataAck,      // the ACK after a written data frame
  kFrameEot,          // the EOT that ends a read
  kFrameEcho,         // an echoing line's copy of what the master sent (lose or change)
  kFrameKinds
};

enum SimSpoil {
  kSpoilNone = 0,
  kSpoilJunkBefore,  // amount (1 to 3) random bytes just before the frame
  kSpoilJunkInside,  // amount (1 to 3) random bytes strictly inside it
  kSpoilLose,        // one byte of the frame dropped
  kSpoilChange,      // one byte replaced by a different value
  kSpoilInsert,      // one random byte after the first byte, up to after the last
  kSpoilLate,        // the frame goes out amount milliseconds later
  kSpoilKinds
};

const char *SimFrameName(int frame);
int SimFrameByName(const char *name);  // -1 when unknown
const char *SimSpoilName(int how);
// A spoil as written with its value ("junk-before=K"), and whether it takes one.
const char *SimSpoilWritten(int how);
bool SimSpoilTakesValue(int how);
// Every spoil as written: "junk-before=K, junk-inside=K, ... or late=MS".
void SimSpoilList(char *list, size_t size);
int SimSpoilByName(const char *name);  // kSpoilNone when unknown
// Junk inside needs a frame with an inside: the acknowledge or the data.
bool SimSpoilFits(int frame, int how);
constexpr int kSpoilJunkMost = 3;
constexpr int kSimDelayMost = 60000;  // ms, for the delay fault and a late frame
constexpr int kSpoilLateMost = kSimDelayMost;

// A pause in the output: the bytes from `at` on go out `ms` later.
struct SimPause {
  size_t at;
  uint32_t ms;
};

struct SimOutput {
  uint8_t bytes[1024];
  size_t len;
  uint32_t delayMs;  // wait this long before sending (kFaultDelay)
  // Late frames (kSpoilLate). SimFeed on an output with len 0 starts the
  // pauses afresh, so an output need not be cleared whole.
  SimPause pauses[8];
  size_t pauseCount;
};

struct SimStats {
  unsigned enquiries, reads, writes, completed, faults, badFrames;
  unsigned foreign;  // enquiries for stations this simulator does not play
  unsigned spoiled;  // frames spoiled on their way out
  // Gaps a loaded machine put into paced answers, long enough for the line
  // to fall quiet inside one, which a master may take for its end.
  unsigned stalls;
};

struct Sim;

Sim *SimCreate();
void SimDestroy(Sim *sim);
// A station answers only once added; its memory starts at zero.
void SimAddStation(Sim *sim, int station);
uint16_t *SimMemory(Sim *sim, int station);  // null for an unknown station
// Apply `kind` at the next `count` chances (-1: every time), in the
// exchanges of one station or, with 0, of any.
void SimSetFault(Sim *sim, int kind, int count, int station = 0);
// Spoils `frame` by `how` (amount: the junk's bytes, or the lateness in
// ms) at its next `count` chances (-1: every time), for one station or, with
// 0, any. Clearing the faults clears the spoils too.
void SimSetSpoil(Sim *sim, int frame, int how, int amount, int count, int station = 0);
// Spoils `frame` once, exactly: at `at` with `value`, as SimSpoilFrameAt
// does; for kSpoilLate, `at` is the lateness in ms.
void SimSetSpoilAt(Sim *sim, int frame, int how, size_t at, uint8_t value);
// Lets the next `chances` chances of `frame` pass unspoiled: a bit write
// sends each frame twice, once for its read and once for its write.
void SimDelaySpoil(Sim *sim, int frame, int chances);
void SimClearFaults(Sim *sim);
// Where the random junk and positions come from; the same seed spoils the
// same way.
void SimSetSeed(Sim *sim, uint32_t seed);
void SimSetDelay(Sim *sim, uint32_t ms);
void SimSetLog(Sim *sim, FILE *log);
const SimStats *SimGetStats(const Sim *sim);
void SimCountStalls(Sim *sim, unsigned stalls);
// Feeds bytes from the master; the controller's answers are appended to out.
void SimFeed(Sim *sim, const uint8_t *bytes, size_t n, SimOutput *out);
// An echoing line's copy of the master's bytes, into out (room for n):
// as they were sent, or spoiled by the echo's spoil. Its length.
size_t SimEcho(Sim *sim, const uint8_t *bytes, size_t n, uint8_t *out);
// The line has been quiet for longer than a frame's gap allows: a frame
// heard in part is given up, and the controller waits for an enquiry.
void SimLineQuiet(Sim *sim);

// What plcsim shares between its two homes, a Linux pty and a Windows COM
// port: its options, its control commands, and how it answers the line
// with pacing. Each home supplies the clock and the line.
#pragma once

#include "command_line.h"
#include "sim_core.h"

struct SimOptions {
  // Where the line is: a Windows COM port, or on Linux a pty (with a link
  // to it) or a given tty.
  const char *port = nullptr, *link = nullptr, *tty = nullptr, *control = nullptr;
  unsigned baud = 0;       // 0: no pacing (and, on Windows, 19200 on the port)
  unsigned latencyMs = 0;  // a USB adapter's latency timer on what it sends
  unsigned dataBits = 8;
  unsigned stopBits = 0;  // 0 one, 1 one and a half, 2 two
  unsigned parity = 1;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  bool parityGiven = false;
  bool echo = false, quiet = false;
  bool help = false;  // --help: the usage was printed, and there is nothing more to do
};

// Parses the command line into the simulator and the options; false after
// a message, or after the usage when --help asked for it (o->help).
bool SimParseOptions(int argc, char **argv, Sim *sim, SimOptions *o, bool windows);
void SimUsage(FILE *to, bool windows);

// The simulator's own notations; each names a mistake (saying `what` was
// given it) and returns false.
bool SimParseStation(const char *what, const char *text, int *station);  // hex, 01 to FF
bool SimParseOctal(const char *what, const char *text, long *octal);     // a V-memory word
bool SimParseAddress(const char *what, const char *text, int *station, long *octal);  // 0140000
// A spoil's FRAME and HOW ("data", "junk-before=2").
bool SimParseSpoil(const char *frameText, const char *howText, int *frame, int *how, int *amount);
// The names of kinds first to end - 1, each after a space, as mistakes list them.
void SimNameList(char *list, size_t size, int first, int end, const char *(*name)(int));

// --load's file into the memory; false after a message.
bool SimLoad(Sim *sim, const char *path);

// One control command ("fault NAME N", "set ADDRESS VALUE", "dump ADDRESS
// COUNT", "quit", ...); what it prints goes to out.
void SimControl(Sim *sim, const char *line, bool *quit, FILE *out);
// A control line is at most kControlLine - 1 characters; a longer one is
// refused whole, with this message.
constexpr size_t kControlLine = 512;
void SimControlTooLong(FILE *out);
// The control commands, one a line, as help lists them.
void SimPrintCommands(FILE *out);

// Monotonic clock and waiting, from the platform file. A wait ends early,
// false, once the simulator is told to stop (quit, a signal, Ctrl-C), and
// control commands are taken while it lasts.
uint64_t SimNowNs();
bool SimWaitUntilNs(uint64_t ns);

typedef void (*SimSend)(void *line, const uint8_t *bytes, size_t n);

// Answers bytes from the master. With pacing, a frame is acted on only once
// its wire time has passed, and the answer goes out at the line's speed.
// A frame whose bytes stop coming for longer than gapNs is given up.
struct SimPacer {
  uint64_t byteNs;     // wire time of one character; 0: no pacing
  uint64_t rxFreeAt;   // when the last byte received would have arrived
  uint64_t latencyNs;  // the adapter's latency timer; 0: none
  uint64_t gapNs;      // the longest quiet inside a frame
  uint64_t heardAt;    // when the simulator was last ready for more
  unsigned stalls;     // gaps in answers, as SimStats counts them
};
void SimPacerInit(SimPacer *p, const SimOptions *o);
void SimRespond(Sim *sim, SimPacer *p, bool echo, const uint8_t *in, size_t n, SimSend send,
                void *line);
void SimPrintStats(const Sim *sim, FILE *out);

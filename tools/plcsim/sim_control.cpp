// Control commands, the same words on the Linux FIFO and on plcsim.exe's
// standard input: one table, each command a small handler.
#include <stdlib.h>
#include <string.h>

#include "sim_tool.h"

namespace {

// "0140000": PLC number in hexadecimal and an octal V-memory address.
bool ParseAddress(const char *text, int *station, long *octal) {
  if (strlen(text) != 7) return false;
  char plc[3] = {text[0], text[1], 0};
  char *end;
  long s = strtol(plc, &end, 16);
  if (*end || s < 1) return false;
  long o = strtol(text + 2, &end, 8);
  if (*end || o < 0 || o >= kSimWords) return false;
  *station = static_cast<int>(s);
  *octal = o;
  return true;
}

struct Words {
  Sim *sim;
  const char *line;
  char a[256], b[64], c[64];
  FILE *out;
  bool *quit;
};

void SetWord(Sim *sim, int station, long octal, const char *value) {
  SimAddStation(sim, station);
  uint16_t *m = SimMemory(sim, station);
  if (m && octal >= 0 && octal < kSimWords)
    m[octal] = static_cast<uint16_t>(strtol(value, nullptr, 0));
}

bool FaultCommand(Words &w) {
  int kind = SimFaultByName(w.a);
  if (kind == kFaultNone) fprintf(w.out, "plcsim: no fault called %s\n", w.a);
  SimSetFault(w.sim, kind, w.b[0] ? atoi(w.b) : -1, static_cast<int>(strtol(w.c, nullptr, 16)));
  return true;
}

bool SetCommand(Words &w) {
  int station;
  long octal;
  if (!ParseAddress(w.a, &station, &octal)) return false;
  SetWord(w.sim, station, octal, w.b);
  return true;
}

bool PokeCommand(Words &w) {
  SetWord(w.sim, static_cast<int>(strtol(w.a, nullptr, 16)), strtol(w.b, nullptr, 8), w.c);
  return true;
}

// dump ADDRESS COUNT prints the words; dump STATION PATH writes the
// station's whole memory, raw, into the file at PATH (for tests).
bool DumpCommand(Words &w) {
  int station;
  long octal;
  if (!ParseAddress(w.a, &station, &octal)) {
    uint16_t *m = SimMemory(w.sim, static_cast<int>(strtol(w.a, nullptr, 16)));
    if (FILE *f = fopen(w.b, "wb")) {
      if (m) fwrite(m, sizeof(uint16_t), kSimWords, f);
      fclose(f);
    }
    return true;
  }
  const uint16_t *m = SimMemory(w.sim, station);
  long count = strtol(w.b, nullptr, 0);
  fprintf(w.out, "plcsim: dump %s", w.a);
  for (long k = 0; m && k < count && octal + k < kSimWords; ++k)
    fprintf(w.out, " %04X", m[octal + k]);
  fprintf(w.out, "\n");
  return true;
}

bool ClearCommand(Words &w) {
  SimClearFaults(w.sim);
  return true;
}

bool DelayCommand(Words &w) {
  SimSetDelay(w.sim, static_cast<uint32_t>(atoi(w.a)));
  return true;
}

bool StatsCommand(Words &w) {
  SimPrintStats(w.sim, w.out);
  return true;
}

bool QuitCommand(Words &w) {
  *w.quit = true;
  return true;
}

// clang-format off
const struct { const char *word; int arguments; bool (*run)(Words &); } kCommands[] = {
  {"fault", 1, FaultCommand}, {"clear", 0, ClearCommand}, {"delay", 1, DelayCommand},
  {"set",   2, SetCommand},   {"poke",  3, PokeCommand},  {"dump",  2, DumpCommand},
  {"stats", 0, StatsCommand}, {"quit",  0, QuitCommand},
};
// clang-format on

}  // namespace

void SimControl(Sim *sim, const char *line, bool *quit, FILE *out) {
  char word[32] = {};
  Words w = {sim, line, {}, {}, {}, out, quit};
  int n = sscanf(line, "%31s %255s %63s %63s", word, w.a, w.b, w.c);
  if (n < 1) return;
  bool done = false;
  for (const auto &c : kCommands)
    if (strcmp(word, c.word) == 0 && n - 1 >= c.arguments) done = c.run(w);
  if (!done) fprintf(out, "plcsim: unknown control command: %s\n", line);
  fflush(out);
}

void SimPrintStats(const Sim *sim, FILE *out) {
  const SimStats *s = SimGetStats(sim);
  fprintf(
      out,
      "plcsim: stats enquiries=%u reads=%u writes=%u completed=%u faults=%u bad=%u foreign=%u\n",
      s->enquiries, s->reads, s->writes, s->completed, s->faults, s->badFrames, s->foreign);
  fflush(out);
}

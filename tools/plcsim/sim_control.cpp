// Control commands, the same words on the Linux FIFO and on plcsim.exe's
// standard input: one table, each command a small handler.
#include <stdlib.h>
#include <string.h>

#include "sim_tool.h"

namespace {

// The command's words after its name, and where it answers.
struct Words {
  Sim *sim;
  char a[256], b[64];
  FILE *out;
  bool *quit;
};

// "0140000": PLC number in hexadecimal and an octal V-memory address.
bool ParseAddress(const char *text, int *station, long *octal) {
  char plc[3] = {text[0], text[1], 0}, *end;
  long s = strlen(text) == 7 ? strtol(plc, &end, 16) : 0;
  long o = strtol(text + 2, &end, 8);
  if (s < 1 || *end || o < 0 || o >= kSimWords) return false;
  *station = static_cast<int>(s);
  *octal = o;
  return true;
}

bool Fault(Words &w) {
  int kind = SimFaultByName(w.a);
  if (kind == kFaultNone) fprintf(w.out, "plcsim: no fault called %s\n", w.a);
  const char *station = strchr(w.b, ' ');  // COUNT [STATION]
  SimSetFault(w.sim, kind, w.b[0] ? atoi(w.b) : -1, station ? strtol(station, nullptr, 16) : 0);
  return true;
}

bool Set(Words &w) {
  int station;
  long octal;
  if (!ParseAddress(w.a, &station, &octal)) return false;
  SimAddStation(w.sim, station);
  if (uint16_t *m = SimMemory(w.sim, station)) m[octal] = static_cast<uint16_t>(strtol(w.b, 0, 0));
  return true;
}

// dump ADDRESS COUNT prints the words; dump STATION PATH writes the
// station's whole memory, raw, into the file at PATH (for tests).
bool Dump(Words &w) {
  int station;
  long octal;
  bool address = ParseAddress(w.a, &station, &octal);
  const uint16_t *m = SimMemory(w.sim, address ? station : static_cast<int>(strtol(w.a, 0, 16)));
  if (!address) {
    if (FILE *f = fopen(w.b, "wb")) {
      if (m) fwrite(m, sizeof(uint16_t), kSimWords, f);
      fclose(f);
    }
    return true;
  }
  fprintf(w.out, "plcsim: dump %s", w.a);
  for (long k = 0; m && k < strtol(w.b, 0, 0) && octal + k < kSimWords; ++k)
    fprintf(w.out, " %04X", m[octal + k]);
  fprintf(w.out, "\n");
  return true;
}

bool Clear(Words &w) { return SimClearFaults(w.sim), true; }
bool Delay(Words &w) { return SimSetDelay(w.sim, static_cast<uint32_t>(atoi(w.a))), true; }
bool Stats(Words &w) { return SimPrintStats(w.sim, w.out), true; }
bool Quit(Words &w) { return (*w.quit = true); }

// clang-format off
const struct { const char *word; int arguments; bool (*run)(Words &); } kCommands[] = {
  {"fault", 1, Fault}, {"clear", 0, Clear}, {"delay", 1, Delay}, {"set",  2, Set},
  {"dump",  2, Dump},  {"stats", 0, Stats}, {"quit",  0, Quit},
};
// clang-format on

}  // namespace

void SimControl(Sim *sim, const char *line, bool *quit, FILE *out) {
  char word[32] = {};
  Words w = {sim, {}, {}, out, quit};
  int n = sscanf(line, "%31s %255s %63[^\r\n]", word, w.a, w.b);
  bool done = false;
  for (const auto &c : kCommands)
    if (n >= 1 && strcmp(word, c.word) == 0 && n - 1 >= c.arguments) done = c.run(w);
  if (n >= 1 && !done) fprintf(out, "plcsim: unknown control command: %s\n", line);
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

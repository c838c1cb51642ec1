// Control commands, the same words on the Linux FIFO and on plcsim.exe's
// standard input.
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

}  // namespace

void SimControl(Sim *sim, const char *line, bool *quit, FILE *out) {
  char word[32] = {}, a[256] = {}, b[64] = {}, c[64] = {};
  int n = sscanf(line, "%31s %255s %63s %63s", word, a, b, c);
  if (n < 1) return;
  int station;
  long octal;
  if (strcmp(word, "fault") == 0 && n >= 2) {
    int kind = SimFaultByName(a);
    if (kind == kFaultNone) fprintf(out, "plcsim: no fault called %s\n", a);
    SimSetFault(sim, kind, n >= 3 ? atoi(b) : -1);
  } else if (strcmp(word, "clear") == 0) {
    SimClearFaults(sim);
  } else if (strcmp(word, "delay") == 0 && n >= 2) {
    SimSetDelay(sim, static_cast<uint32_t>(atoi(a)));
  } else if (strcmp(word, "set") == 0 && n >= 3 && ParseAddress(a, &station, &octal)) {
    SimAddStation(sim, station);
    if (uint16_t *m = SimMemory(sim, station))
      m[octal] = static_cast<uint16_t>(strtol(b, nullptr, 0));
  } else if (strcmp(word, "poke") == 0 && n >= 4) {
    station = static_cast<int>(strtol(a, nullptr, 16));
    octal = strtol(b, nullptr, 8);
    SimAddStation(sim, station);
    if (uint16_t *m = SimMemory(sim, station))
      if (octal >= 0 && octal < kSimWords) m[octal] = static_cast<uint16_t>(strtol(c, nullptr, 0));
  } else if (strcmp(word, "dump") == 0 && n >= 3 && ParseAddress(a, &station, &octal)) {
    // dump ADDRESS COUNT: the words, printed.
    const uint16_t *m = SimMemory(sim, station);
    long count = strtol(b, nullptr, 0);
    fprintf(out, "plcsim: dump %s", a);
    for (long k = 0; m && k < count && octal + k < kSimWords; ++k)
      fprintf(out, " %04X", m[octal + k]);
    fprintf(out, "\n");
  } else if (strcmp(word, "dump") == 0 && n >= 3) {
    // dump STATION PATH: the station's whole memory, raw, for tests.
    uint16_t *m = SimMemory(sim, static_cast<int>(strtol(a, nullptr, 16)));
    if (FILE *f = fopen(b, "wb")) {
      if (m) fwrite(m, sizeof(uint16_t), kSimWords, f);
      fclose(f);
    }
  } else if (strcmp(word, "stats") == 0) {
    SimPrintStats(sim, out);
  } else if (strcmp(word, "quit") == 0) {
    *quit = true;
  } else {
    fprintf(out, "plcsim: unknown control command: %s\n", line);
  }
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

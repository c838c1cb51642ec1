// Control commands, the same words on the Linux FIFO and on plcsim.exe's
// standard input: one table, each command a small handler. Every number
// is read whole or the command is refused: a half-read value would set
// a fault or a word the test did not ask for.
#include <errno.h>
#include <string.h>

#include "output_file.h"
#include "sim_tool.h"

namespace {

constexpr int kMostWords = 6;

// The command's words after its name, and where it answers.
struct Words {
  Sim *sim;
  int count;
  const char *at[kMostWords];
  FILE *out;
  bool *quit;
};

// COUNT [STATION] after a fault's or a spoil's name, from word `first`.
bool Chances(const Words &w, int first, int *count, int *station) {
  long n = -1;
  *station = 0;
  if (w.count > first && !ParseWhole("COUNT", w.at[first], -1, 1000000, &n)) return false;
  *count = static_cast<int>(n);
  return w.count <= first + 1 || SimParseStation("STATION", w.at[first + 1], station);
}

// A command for a station the simulator does not play changes nothing.
void NotPlayed(const Words &w, const char *command, const char *text, int station) {
  fprintf(w.out, "plcsim: %s %s: station %02X is not played here (--station %02X plays it)\n",
          command, text, station, station);
}

bool Fault(Words &w) {
  int kind = SimFaultByName(w.at[0]), count, station;
  if (kind == kFaultNone) {
    fprintf(w.out, "plcsim: no fault called %s\n", w.at[0]);
    return true;
  }
  if (Chances(w, 1, &count, &station)) SimSetFault(w.sim, kind, count, station);
  return true;
}

bool Spoil(Words &w) {
  int frame, how, amount, count, station;
  if (SimParseSpoil(w.at[0], w.at[1], &frame, &how, &amount) && Chances(w, 2, &count, &station))
    SimSetSpoil(w.sim, frame, how, amount, count, station);
  return true;
}

bool Set(Words &w) {
  int station;
  long octal, value;
  if (!SimParseAddress("set ADDRESS", w.at[0], &station, &octal) ||
      !ParseWhole("set VALUE", w.at[1], -32768, 65535, &value))
    return true;
  uint16_t *m = SimMemory(w.sim, station);
  if (m)
    m[octal] = static_cast<uint16_t>(value);
  else
    NotPlayed(w, "set", w.at[0], station);
  return true;
}

// The station's whole memory, raw, into the file at path, by the rule for
// every file the tools write; what was done is said either way.
void DumpStation(Words &w, int station, const char *path) {
  const uint16_t *m = SimMemory(w.sim, station);
  if (!m) {
    NotPlayed(w, "dump", w.at[0], station);
    return;
  }
  const char *reason = "";
  FILE *f = OpenOutput(path, "wb", &reason);
  bool written = f && fwrite(m, sizeof(uint16_t), kSimWords, f) == kSimWords;
  if (f && fclose(f) != 0) written = false;
  if (f && !written) reason = strerror(errno);
  if (written)
    fprintf(w.out, "plcsim: dump %02X: %d words into \"%s\"\n", station, kSimWords, path);
  else
    fprintf(w.out, "plcsim: dump cannot write \"%s\": %s\n", path, reason);
}

// dump ADDRESS COUNT prints the words; dump STATION PATH writes the
// station's whole memory, raw, into the file at PATH (for tests).
bool Dump(Words &w) {
  int station;
  long octal, count;
  if (strlen(w.at[0]) <= 2) {
    if (SimParseStation("dump STATION", w.at[0], &station)) DumpStation(w, station, w.at[1]);
    return true;
  }
  if (!SimParseAddress("dump ADDRESS", w.at[0], &station, &octal) ||
      !ParseWhole("dump COUNT", w.at[1], 1, kSimWords, &count))
    return true;
  const uint16_t *m = SimMemory(w.sim, station);
  if (!m) {
    NotPlayed(w, "dump", w.at[0], station);
    return true;
  }
  fprintf(w.out, "plcsim: dump %s", w.at[0]);
  for (long k = 0; k < count && octal + k < kSimWords; ++k) fprintf(w.out, " %04X", m[octal + k]);
  fprintf(w.out, "\n");
  return true;
}

bool Clear(Words &w) {
  SimClearFaults(w.sim);
  return true;
}

bool Delay(Words &w) {
  long ms;
  if (ParseWhole("delay MS", w.at[0], 0, kSimDelayMost, &ms))
    SimSetDelay(w.sim, static_cast<uint32_t>(ms));
  return true;
}

bool Stats(Words &w) {
  SimPrintStats(w.sim, w.out);
  return true;
}

bool Quit(Words &w) {
  *w.quit = true;
  return true;
}

bool Help(Words &w);

// clang-format off
const struct {
  const char *word;
  int least, most;  // words after the command's own
  bool (*run)(Words &);
  const char *synopsis, *help;
} kCommands[] = {
  {"fault", 1, 3, Fault, "fault NAME [COUNT [STATION]]",      "the next COUNT chances (-1 or none: every one)"},
  {"spoil", 2, 4, Spoil, "spoil FRAME HOW [COUNT [STATION]]", "FRAME's bytes spoiled as a noisy line does"},
  {"clear", 0, 0, Clear, "clear",                             "no more faults or spoils"},
  {"delay", 1, 1, Delay, "delay MS",                          "how late the delay fault answers, 0 to 60000"},
  {"set",   2, 2, Set,   "set ADDRESS VALUE",                 "one word, ADDRESS as 0140000"},
  {"dump",  2, 2, Dump,  "dump ADDRESS COUNT",                "COUNT words (dump STATION PATH: all, into a file)"},
  {"stats", 0, 0, Stats, "stats",                             "what has been seen"},
  {"help",  0, 0, Help,  "help",                              "this list"},
  {"quit",  0, 0, Quit,  "quit",                              "stop"},
};
// clang-format on

void PrintCommands(FILE *out, const char *prefix) {
  for (const auto &c : kCommands) fprintf(out, "%s  %-36s%s\n", prefix, c.synopsis, c.help);
}

bool Help(Words &w) {
  PrintCommands(w.out, "plcsim:");
  return true;
}

// The synopsis's word after the first `given` ones: what is missing.
void SayMissing(FILE *out, const char *synopsis, int given) {
  const char *p = synopsis;
  for (int k = 0; k <= given && p; ++k) {
    p = strchr(p, ' ');
    if (p) ++p;
  }
  size_t n = p ? strcspn(p, " ") : 0;
  fprintf(out, "plcsim: %.*s is missing: %s\n", static_cast<int>(n), p ? p : "", synopsis);
}

}  // namespace

void SimPrintCommands(FILE *out) { PrintCommands(out, ""); }

void SimControlTooLong(FILE *out) {
  fprintf(out, "plcsim: a control line of more than %zu characters is refused\n", kControlLine - 1);
  fflush(out);
}

void SimControl(Sim *sim, const char *line, bool *quit, FILE *out) {
  char copy[kControlLine];
  snprintf(copy, sizeof copy, "%s", line);
  Words w = {sim, 0, {}, out, quit};
  const char *blanks = " \t\r\n";
  char *save = nullptr;
  char *word = strtok_r(copy, blanks, &save);
  if (!word) return;
  for (;;) {
    char *next = strtok_r(nullptr, blanks, &save);
    if (!next) break;
    if (w.count < kMostWords) w.at[w.count] = next;
    w.count++;
  }
  for (const auto &c : kCommands) {
    if (strcmp(word, c.word) != 0) continue;
    if (w.count < c.least)
      SayMissing(out, c.synopsis, w.count);
    else if (w.count > c.most)
      fprintf(out, "plcsim: too many words for %s\n", c.synopsis);
    else
      c.run(w);
    fflush(out);
    return;
  }
  fprintf(out, "plcsim: unknown control command: %s (help lists them)\n", line);
  fflush(out);
}

void SimPrintStats(const Sim *sim, FILE *out) {
  const SimStats *s = SimGetStats(sim);
  fprintf(out,
          "plcsim: stats enquiries=%u reads=%u writes=%u completed=%u faults=%u bad=%u spoiled=%u "
          "foreign=%u stalls=%u\n",
          s->enquiries, s->reads, s->writes, s->completed, s->faults, s->badFrames, s->spoiled,
          s->foreign, s->stalls);
  fflush(out);
}

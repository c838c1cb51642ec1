#include "soak_run.h"

#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "protocol/protocol_facts.h"
#include "sim_core.h"
#include "support/driver_api.h"
#include "trace_line.h"

namespace {

// The calling thread's channel, for the log sink.
thread_local SoakChannel *current;

// One resolution at a time in the process, as a host calls operations 3
// and 4. A spin lock: it builds on Linux and for Windows alike.
int resolving;
IoRequest LockedTagRequest(const char *text, uint32_t type, int32_t count, void *values,
                           bool block) {
  while (__atomic_exchange_n(&resolving, 1, __ATOMIC_ACQUIRE)) {
  }
  IoRequest io = TagRequest(text, type, count, values, block);
  __atomic_store_n(&resolving, 0, __ATOMIC_RELEASE);
  return io;
}

uint32_t Next(uint32_t *rng) {
  *rng ^= *rng << 13;
  *rng ^= *rng >> 17;
  *rng ^= *rng << 5;
  return *rng;
}

// The address text of word `word` of the channel's station, with a suffix.
void Text(char *out, int station, uint32_t word, char suffix) {
  snprintf(out, 10, "%02X%05o", station, word);
  if (suffix) {
    out[7] = suffix;
    out[8] = 0;
  }
}

// One fault at one chance: six attempts always get past it.
const int kSingleFaults[] = {
    kFaultNoAnswer,   kFaultWrongStation, kFaultNoAck,  kFaultHeaderRefused, kFaultDataRefused,
    kFaultBadLrc,     kFaultNoStx,        kFaultBadEtx, kFaultNoEot,         kFaultBadEot,
    kFaultShortReply, kFaultNoise,        kFaultDelay,  kFaultAckLost};

// A fault at every chance of one exchange: no attempt gets through, and
// the result is known (-1: the fault has no chance in that direction).
struct Defeat {
  int fault;
  int32_t read, write;
};
const Defeat kDefeats[] = {{kFaultAckLost, -1, 2},     {kFaultNoAck, 1, 1},
                           {kFaultBadLrc, 2, -1},      {kFaultHeaderRefused, 1, 2},
                           {kFaultWrongStation, 2, 2}, {kFaultDataRefused, -1, 2},
                           {kFaultNoAnswer, 2, 2}};
constexpr int kDefeatEvery = 40;  // one exchange in so many is meant to fail

// A reply spoiled as a line spoils one: noise before or inside a frame, a
// byte lost or changed or added, or the frame late by up to one limit.
// Each costs at most one more attempt; a late one at most two. The command
// for the simulator goes to `command`; the attempts it may cost are returned.
int SpoilCommand(const SoakChannel *c, uint32_t *rng, char *command, size_t size) {
  int frame = static_cast<int>(Next(rng) % kFrameKinds);
  int how = 1 + static_cast<int>(Next(rng) % (kSpoilKinds - 1));
  // An echo, where the line echoes, is changed or loses a byte.
  if (!SimSpoilFits(frame, how)) how = frame == kFrameEcho ? kSpoilChange : kSpoilJunkBefore;
  char amount[16] = "";
  if (how == kSpoilJunkBefore || how == kSpoilJunkInside)
    snprintf(amount, sizeof amount, "=%u", Next(rng) % kSpoilJunkMost + 1);
  if (how == kSpoilLate) snprintf(amount, sizeof amount, "=%u", Next(rng) % c->limitMs + 1);
  snprintf(command, size, "clear\nspoil %s %s%s 1\n", SimFrameName(frame), SimSpoilName(how),
           amount);
  return how == kSpoilLate ? 2 : 1;
}

enum Op {
  kReadWord,
  kReadLong,
  kReadBit,
  kReadBlock,
  kReadLongBlock,
  kWriteWord,
  kWriteLong,
  kWriteBit,
  kWriteBlock,
  kWriteLongBlock,
  kOps
};
bool IsWrite(int op) { return op >= kWriteWord; }

// A word read: right when the model holds it, or, for a word a failed
// write left in doubt, when it is the old value or the one written.
bool Accept(SoakChannel *c, uint32_t word, uint16_t value) {
  if (!c->uncertain[word]) return value == c->model[word];
  c->uncertain[word] = false;
  bool ok = value == c->model[word] || value == c->written[word];
  if (value == c->written[word] && value != c->model[word]) c->landed++;
  c->model[word] = value;
  return ok;
}

bool AcceptAll(SoakChannel *c, uint32_t word, const uint16_t *values, int words) {
  bool ok = true;
  for (int k = 0; k < words; ++k) ok = Accept(c, word + k, values[k]) && ok;
  return ok;
}

void Written(SoakChannel *c, int32_t result, uint32_t word, const void *values, int words) {
  uint16_t *target = result == 0 ? c->model : c->written;
  memcpy(target + word, values, static_cast<size_t>(words) * 2);
  for (int k = 0; k < words; ++k) c->uncertain[word + k] = result != 0;
}

// After a failed write, the words are read back with no fault in force.
void LearnAfterFailedWrite(SoakChannel *c, uint32_t word, int words) {
  c->command(c->user, "clear\n");
  c->plainEnquiries++;
  char text[12];
  Text(text, c->station, word, 0);
  uint16_t back[128];
  IoRequest io = LockedTagRequest(text, 0, words, back, true);
  if (Call(LUMISAR_OP_BLOCK_READ, c->context, &io) != 0)
    c->unexpected++;
  else if (!AcceptAll(c, word, back, words))
    c->wrong++;
}

// A failed read must leave the host's buffer as it was.
constexpr uint8_t kUntouched = 0xA5;
bool Untouched(const uint8_t *values, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (values[i] != kUntouched) return false;
  return true;
}

// One exchange of the soak: where it works, and what it touched.
struct Step {
  SoakChannel *c;
  uint32_t word;
  uint32_t *rng;
  uint8_t values[260];
  bool ok;
  int words;  // words a write sent
};

// A word, 32-bit or bit read; bit is the bit a bit read asks for.
bool CheckSingle(Step &s, int op, uint32_t bit) {
  SoakChannel *c = s.c;
  uint16_t w[2];
  memcpy(w, s.values + (op == kReadLong ? 0 : 2), 4);
  if (op == kReadLong) return AcceptAll(c, s.word, w, 2);
  // The first 16-bit word of the buffer is the host's.
  if (s.values[0] != kUntouched || s.values[1] != kUntouched) return false;
  if (op == kReadWord) return Accept(c, s.word, w[0]);
  bool asModel = w[0] == ((c->model[s.word] >> bit) & 1);
  return asModel || (c->uncertain[s.word] && w[0] == ((c->written[s.word] >> bit) & 1));
}

int32_t ReadSingle(Step &s, int op) {
  uint32_t type = 0, bit = Next(s.rng) % 16;
  char suffix = 0, text[12];
  if (op == kReadLong) {
    suffix = Next(s.rng) & 1 ? 'L' : 'F';
    type = suffix == 'L' ? 4 : 3;
  } else if (op == kReadBit) {
    suffix = "0123456789ABCDEF"[bit];
    type = 6;
  }
  Text(text, s.c->station, s.word, suffix);
  memset(s.values, kUntouched, sizeof s.values);
  IoRequest io = LockedTagRequest(text, type, 1, s.values, false);
  int32_t result = Call(LUMISAR_OP_SINGLE_READ, s.c->context, &io);
  s.ok = result == 0 ? CheckSingle(s, op, bit) : Untouched(s.values, sizeof s.values);
  return result;
}

int32_t ReadBlock(Step &s, int op) {
  bool wide = op == kReadLongBlock;
  int32_t count = static_cast<int32_t>(Next(s.rng) % (wide ? 64 : 128)) + 1;
  char text[12];
  Text(text, s.c->station, s.word, wide ? 'L' : 0);
  memset(s.values, kUntouched, sizeof s.values);
  IoRequest io = LockedTagRequest(text, 0, count, s.values, true);
  int32_t result = Call(LUMISAR_OP_BLOCK_READ, s.c->context, &io);
  if (result != 0) {
    s.ok = Untouched(s.values, sizeof s.values);
    return result;
  }
  uint16_t words[128];
  memcpy(words, s.values, static_cast<size_t>(count) * (wide ? 4 : 2));
  s.ok = AcceptAll(s.c, s.word, words, count * (wide ? 2 : 1));
  return result;
}

int32_t WriteSingle(Step &s, int op) {
  SoakChannel *c = s.c;
  uint32_t v = Next(s.rng), bit = v % 16;
  uint16_t set = (v >> 4) & 1, w = static_cast<uint16_t>(v);
  char text[12];
  if (op == kWriteLong)
    memcpy(s.values, &v, 4);
  else
    memcpy(s.values + 2, op == kWriteBit ? &set : &w, 2);
  Text(text, c->station, s.word,
       op == kWriteLong  ? 'L'
       : op == kWriteBit ? "0123456789ABCDEF"[bit]
                         : 0);
  uint32_t type = op == kWriteLong ? 5 : op == kWriteBit ? 6 : 1;
  IoRequest io = LockedTagRequest(text, type, 1, s.values, false);
  int32_t result = Call(LUMISAR_OP_SINGLE_WRITE, c->context, &io);
  s.words = op == kWriteLong ? 2 : 1;
  if (op != kWriteBit) {
    Written(c, result, s.word, op == kWriteLong ? static_cast<void *>(s.values) : &w, s.words);
    return result;
  }
  // A bit write hands the caller's value and bit number back as they were.
  uint16_t after;
  memcpy(&after, s.values + 2, 2);
  s.ok = after == set && io.address.bitNumber == bit;
  uint16_t mask = static_cast<uint16_t>(1u << bit), old = c->model[s.word];
  w = set ? static_cast<uint16_t>(old | mask) : static_cast<uint16_t>(old & ~mask);
  Written(c, result, s.word, &w, 1);
  return result;
}

int32_t WriteBlock(Step &s, int op) {
  bool wide = op == kWriteLongBlock;
  int32_t count = static_cast<int32_t>(Next(s.rng) % (wide ? 64 : 128)) + 1;
  size_t bytes = static_cast<size_t>(count) * (wide ? 4 : 2);
  for (size_t i = 0; i < bytes; ++i) s.values[i] = static_cast<uint8_t>(Next(s.rng));
  char text[12];
  Text(text, s.c->station, s.word, wide ? 'L' : 0);
  IoRequest io = LockedTagRequest(text, 0, count, s.values, true);
  int32_t result = Call(LUMISAR_OP_BLOCK_WRITE, s.c->context, &io);
  s.words = static_cast<int>(bytes / 2);
  Written(s.c, result, s.word, s.values, s.words);
  return result;
}

int32_t RunOp(Step &s, int op) {
  if (op == kReadBlock || op == kReadLongBlock) return ReadBlock(s, op);
  if (op == kWriteBlock || op == kWriteLongBlock) return WriteBlock(s, op);
  return IsWrite(op) ? WriteSingle(s, op) : ReadSingle(s, op);
}

// Keeps the faults asked for the exchange under way, on one line, for the
// messages that name it.
void Plan(SoakChannel *c, const char *command) {
  const char *fault = strstr(command, "clear\n");
  fault = fault ? fault + strlen("clear\n") : command;
  snprintf(c->plan, sizeof c->plan, "%.*s", static_cast<int>(strcspn(fault, "\n")), fault);
}

// Decides the exchange's faults and tells the simulator; returns the result
// the exchange must give, and may change the kind of exchange to one the
// fault has a chance at.
int32_t PlanFaults(SoakChannel *c, int x, uint32_t *rng, int *op, bool *pending, int *allowance) {
  char command[96];
  c->plan[0] = 0;
  if (x % kDefeatEvery == kDefeatEvery / 2) {
    const Defeat &d = kDefeats[c->defeats++ % (sizeof kDefeats / sizeof kDefeats[0])];
    // No bit operations here: a bit write is a read and a write in one.
    const int reads[] = {kReadWord, kReadLong, kReadBlock, kReadLongBlock};
    const int writes[] = {kWriteWord, kWriteLong, kWriteBlock, kWriteLongBlock};
    bool write = d.read < 0 || (d.write >= 0 && Next(rng) & 1);
    *op = (write ? writes : reads)[Next(rng) % 4];
    snprintf(command, sizeof command, "clear\nfault %s -1\n", SimFaultName(d.fault));
    c->command(c->user, command);
    Plan(c, command);
    *pending = true;
    *allowance = kAttempts;
    return write ? d.write : d.read;
  }
  if (Next(rng) % 3 == 0) {
    int kind = kSingleFaults[Next(rng) % (sizeof kSingleFaults / sizeof kSingleFaults[0])];
    snprintf(command, sizeof command, "clear\nfault %s 1\n", SimFaultName(kind));
    *allowance = kind == kFaultDelay ? 2 : 1;
    c->command(c->user, command);
    Plan(c, command);
    c->faultsAsked++;
    *pending = true;
  } else if (Next(rng) % 2 == 0) {
    *allowance = SpoilCommand(c, rng, command, sizeof command);
    c->command(c->user, command);
    Plan(c, command);
    c->spoilsAsked++;
    *pending = true;
  } else if (*pending) {
    // A fault the last exchange had no chance for must not linger.
    c->command(c->user, "clear\n");
    *pending = false;
  }
  return 0;
}

}  // namespace

void SoakCountLogLine(int, const char *line) {
  if (!current) return;
  TraceLine t = ReadTraceLine(line);
  if (t.kind != kTraceSent || t.damaged || !IsEnquiry(t.bytes)) return;
  current->enquiries++;
  // The enquiry names the station: a frame meant for another channel's
  // controller must never be sent on this one.
  if (EnquiryPlc(t.bytes) != current->station) current->otherStations++;
}

void SoakRun(SoakChannel *c) {
  current = c;
  uint32_t rng = c->seed ? c->seed : 0x2545F491u;
  bool pending = false;
  // Bytes a spoil adds after a reply's last frame arrive once the exchange
  // is over, and cost the next one its attempt instead.
  unsigned carried = 0;
  for (int x = 0; x < c->exchanges; ++x) {
    int op = static_cast<int>(Next(&rng) % kOps);
    int allowance = 0;
    int32_t expected = PlanFaults(c, x, &rng, &op, &pending, &allowance);
    // A bit write is a read exchange and a write exchange.
    unsigned plain = op == kWriteBit ? 2 : 1, before = c->enquiries;
    c->plainEnquiries += plain;
    // An even word, so that 32-bit values fit.
    Step s = {c, (Next(&rng) % (kSoakRegion - 130)) & ~1u, &rng, {}, true, 0};
    int32_t result = RunOp(s, op);
    if (result >= 0 && result <= 2) c->results[result]++;
    unsigned extra = c->enquiries - before - plain, allowed = allowance + carried;
    if (extra > allowed) {
      c->overBudget++;
      fprintf(stderr,
              "soak: station %02X exchange %d (kind %d, %s): %u more attempts, %u allowed\n",
              c->station, x, op, c->plan[0] ? c->plan : "no fault", extra, allowed);
    }
    carried =
        allowance < kAttempts && extra < static_cast<unsigned>(allowance) ? allowance - extra : 0;
    if (result != expected || !s.ok) {
      c->unexpected += result != expected;
      c->wrong += !s.ok;
      fprintf(stderr, "soak: station %02X exchange %d (kind %d at word %u): result %d of %d%s\n",
              c->station, x, op, s.word, result, expected, s.ok ? "" : ", a wrong value");
    }
    if (IsWrite(op) && result != 0) {
      LearnAfterFailedWrite(c, s.word, s.words);
      pending = false;
    }
  }
  c->command(c->user, "clear\n");
  current = nullptr;
}

unsigned SoakMemoryMismatches(const SoakChannel *c, const uint16_t *memory, int words) {
  if (words < kSoakRegion) {
    fprintf(stderr, "soak: station %02X: only %d words of the memory dump\n", c->station, words);
    return 1;
  }
  unsigned mismatches = 0;
  for (int i = 0; i < kSoakRegion; ++i) {
    bool asWritten = c->uncertain[i] && memory[i] == c->written[i];
    if (memory[i] == c->model[i] || asWritten) continue;
    if (++mismatches <= 5)
      fprintf(stderr, "soak: station %02X: V%o holds %04X, the model %04X%s\n", c->station, i,
              memory[i], c->model[i], c->uncertain[i] ? " (uncertain)" : "");
  }
  return mismatches;
}

bool SoakSimStats(const char *stats, SoakSimCounts *counts) {
  const struct {
    const char *key;
    unsigned *count;
  } fields[] = {{" faults=", &counts->faults},
                {" foreign=", &counts->foreign},
                {" stalls=", &counts->stalls}};
  for (const auto &field : fields) {
    const char *at = stats ? strstr(stats, field.key) : nullptr;
    if (!at) return false;
    *field.count = static_cast<unsigned>(strtoul(at + strlen(field.key), nullptr, 10));
  }
  return true;
}

bool SoakVerdict(const SoakChannel *c, unsigned mismatches, const SoakSimCounts &sim, FILE *out) {
  unsigned ran = c->results[0] + c->results[1] + c->results[2];
  unsigned retries = c->enquiries > c->plainEnquiries ? c->enquiries - c->plainEnquiries : 0;
  fprintf(out,
          "soak: station %02X: exchanges %d, faults asked %u, faults injected %u, enquiries %u "
          "(retries %u)\n",
          c->station, c->exchanges, c->faultsAsked, sim.faults, c->enquiries, retries);
  fprintf(out,
          "soak: station %02X: results 0: %u, 1: %u, 2: %u (%u meant to fail, %u not as planned); "
          "words a failed write landed in %u; wrong values %u; memory mismatches %u; frames for "
          "other stations: sent %u, received %u; spoiled replies asked %u; over their attempts "
          "%u, with %u gaps a loaded machine put into the simulator's answers\n",
          c->station, c->results[0], c->results[1], c->results[2], c->defeats, c->unexpected,
          c->landed, c->wrong, mismatches, c->otherStations, sim.foreign, c->spoilsAsked,
          c->overBudget, sim.stalls);
  const struct {
    bool holds;
    const char *otherwise;
  } rules[] = {
      {ran == static_cast<unsigned>(c->exchanges), "not every exchange ran"},
      {c->unexpected == 0, "exchanges ended other than their faults foretold"},
      {c->wrong == 0 && mismatches == 0, "values or memory the model rules out"},
      {sim.faults > 0 && retries > 0, "no fault injected and retried"},
      {c->defeats > 0 && c->landed > 0, "no failed write was seen to land"},
      {c->enquiries >= c->plainEnquiries, "fewer enquiries traced than exchanges run"},
      {c->otherStations == 0 && sim.foreign == 0, "frames for another station"},
      {c->overBudget <= sim.stalls,
       "exchanges that took more attempts than their fault may cost, beyond the gaps in the "
       "simulator's answers"},
  };
  bool pass = true;
  for (const auto &rule : rules) {
    if (!rule.holds) fprintf(out, "soak: station %02X: FAIL: %s\n", c->station, rule.otherwise);
    pass = pass && rule.holds;
  }
  return pass;
}

size_t SoakReadDump(const char *path, uint16_t *memory, int waitMs) {
  memset(memory, 0, kSimWords * sizeof(uint16_t));
  size_t got = 0;
  for (int waited = 0; got < kSimWords && waited < waitMs; waited += 50) {
#ifdef _WIN32
    Sleep(50);
#else
    usleep(50000);
#endif
    FILE *f = fopen(path, "rb");
    got = f ? fread(memory, sizeof(uint16_t), kSimWords, f) : 0;
    if (f) fclose(f);
  }
  return got;
}

// Benchmarks of the driver on the line; prints a Markdown table.
//   bench_driver PLCSIM [section...]   sections: efficiency echo overhead failure heap scaling
//                                      latency spoiled spoilings faults
//   bench_driver --callgrind N         N exchanges on the in-memory port, for
//                                      counting instructions under callgrind
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <winsub.h>

#include <initializer_list>
#include <thread>

#include "lumisar.h"
#include "quarne_control.h"
#include "sim_core.h"
#include "support/sim_line.h"
#include "support/sim_process.h"

// Allocations in the whole process, counted while `counting` is set.
static volatile int counting;
static volatile unsigned long allocations;
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void *malloc(size_t n) {
  if (counting) allocations++;
  return __libc_malloc(n);
}
extern "C" void *calloc(size_t a, size_t b) {
  if (counting) allocations++;
  return __libc_calloc(a, b);
}
extern "C" void *realloc(void *p, size_t n) {
  if (counting) allocations++;
  return __libc_realloc(p, n);
}

namespace {

PortContext channel;
SimProcess sim;

double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

int32_t Call(uint32_t op, void *params) {
  RequestBlock r;
  memset(&r, 0, sizeof r);
  r.context = &channel;
  r.operation = op;
  r.params = params;
  return ZubMain(&r);
}

void StartSim(const char *plcsim, unsigned baud, unsigned latencyMs = 0, bool echo = false) {
  char speed[16], latency[16];
  snprintf(speed, sizeof speed, "%u", baud);
  snprintf(latency, sizeof latency, "%u", latencyMs);
  const char *const paced[] = {"--baud", speed, "--latency", latency, echo ? "--echo" : nullptr,
                               nullptr};
  SimProcessStart(&sim, plcsim, baud ? paced : nullptr);
  WinsubMapDevice("COM5", sim.link);
}

void StopSim() {
  Call(LUMISAR_OP_CLOSE_PORT, nullptr);
  SimProcessStop(&sim);
}

bool OpenChannel(const char *name, uint32_t timeout, uint16_t baud = 19200) {
  memset(&channel, 0, sizeof channel);
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, name);
  r.enabled = 1;
  r.replyTimeout = timeout;
  r.settings = SerialSettings{baud, 8, 0, 0};
  return Call(LUMISAR_OP_OPEN_PORT, &r) == 0;
}

struct Kind {
  const char *name;
  uint32_t op;
  const char *text;
  uint32_t type;
  int32_t count;
  bool block;
  int wireBytes;  // bytes of the whole dialogue on the line
};

// Read: 3 + 3 + 17 + 1 + (n + 3) + 1 + 1 + 1; write: 3 + 3 + 17 + 1 + (n + 3) + 1 + 1.
const Kind kKinds[] = {
    {"read word", 5, "0140000", 0, 1, false, 30 + 2},
    {"read 32-bit", 5, "0140002L", 4, 1, false, 30 + 4},
    {"write word", 7, "0140000", 0, 1, false, 29 + 2},
    {"write 32-bit", 7, "0140002L", 4, 1, false, 29 + 4},
    {"write bit", 7, "01400003", 6, 1, false, 30 + 2 + 29 + 2},
    {"read block 128 words", 6, "0100000", 0, 128, true, 30 + 256},
    {"write block 128 words", 10, "0100000", 0, 128, true, 29 + 256},
};

IoRequest Request(const Kind &k, uint8_t *values) {
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.addressText = k.text;
  io.dataType = k.type;
  io.count = k.count;
  io.values = values;
  ResolveRequest r;
  memset(&r, 0, sizeof r);
  r.addressText = k.text;
  r.dataType = k.type;
  r.count = k.count;
  Call(k.block ? 4 : 3, &r);
  io.address = r.address;
  return io;
}

// The mean time of n exchanges; with `spoil`, that control command goes to
// the simulator before each, outside the time taken.
double TimeExchanges(const Kind &k, int n, int *failures, const char *spoil = nullptr) {
  uint8_t values[256] = {};
  IoRequest io = Request(k, values);
  double spent = 0;
  for (int i = 0; i < n; ++i) {
    if (spoil) SimProcessCommand(&sim, spoil);
    double start = NowMs();
    if (Call(k.op, &io) != 0) ++*failures;
    spent += NowMs() - start;
  }
  return spent / n;
}

// With `echo`, on a two-wire RS-485 line whose converter gives back every
// byte sent: the echo crosses as the frame goes out, so the wire time is
// the same.
void Efficiency(const char *plcsim, bool echo) {
  printf("\n### Line efficiency%s (simulator pacing its line; 11 bits a character)\n\n",
         echo ? " on an echoing line" : "");
  printf("| exchange | baud | time per exchange | wire time | ratio |\n|---|---|---|---|---|\n");
  const unsigned bauds[] = {19200, 9600};
  for (unsigned baud : bauds) {
    StartSim(plcsim, baud, 0, echo);
    OpenChannel("COM5", 50, static_cast<uint16_t>(baud));
    for (const Kind &k : kKinds) {
      int failures = 0;
      int n = k.block ? 5 : 20;
      double ms = TimeExchanges(k, n, &failures);
      double wire = k.wireBytes * 11.0 * 1000.0 / baud;
      printf("| %s | %u | %.1f ms | %.1f ms | %.2f |%s\n", k.name, baud, ms, wire, ms / wire,
             failures ? " (failures!)" : "");
    }
    StopSim();
  }
}

// One reply spoiled in every exchange, as noise spoils one on a real line:
// what it costs over a clean exchange, in wire times of the exchange. The
// driver lets the rest of the spoiled reply arrive and discards it, then
// tries again once.
void Spoiled(const char *plcsim) {
  printf("\n### Cost of one spoiled reply (simulator pacing its line; 11 bits a character)\n\n");
  printf(
      "| exchange | baud | clean | two noise bytes before the acknowledge | lost | one byte "
      "of the last reply changed | lost |\n|---|---|---|---|---|---|---|\n");
  const unsigned bauds[] = {19200, 9600};
  for (unsigned baud : bauds) {
    StartSim(plcsim, baud);
    OpenChannel("COM5", 50, static_cast<uint16_t>(baud));
    for (const Kind &k : kKinds) {
      if (k.op == 7 && k.type == 6) continue;  // a bit write is a read and a write
      bool read = k.op == 5 || k.op == 6;
      char last[64];
      snprintf(last, sizeof last, "spoil %s change 1\n", read ? "data" : "data-ack");
      int failures = 0, n = k.block ? 3 : 10;
      double clean = TimeExchanges(k, n, &failures, nullptr);
      double noise = TimeExchanges(k, n, &failures, "spoil acknowledge junk-before=2 1\n");
      double changed = TimeExchanges(k, n, &failures, last);
      double wire = k.wireBytes * 11.0 * 1000.0 / baud;
      printf("| %s | %u | %.1f ms | %.1f ms | %.2f | %.1f ms | %.2f |%s\n", k.name, baud, clean,
             noise, (noise - clean) / wire, changed, (changed - clean) / wire,
             failures ? " (failures!)" : "");
    }
    StopSim();
  }
}

// Enquiries the driver sent, from its trace lines.
unsigned enquiriesSent;
void QUARNE_CDECL CountEnquiries(int, const char *line) {
  if (strncmp(line, "ORVEN> SendStr() Tx 4E 21 05", 28) == 0) enquiriesSent++;
}

// Every way a line spoils a reply, once before every exchange of a mix of
// reads and writes of words, bits and blocks on a paced line: the exchanges
// that still failed, the attempts beyond the first, and the values read
// that the controller does not hold. Writes write back what the words
// hold, so that every read knows what it must see.
void SpoilTable(const char *plcsim) {
  printf(
      "\n### Every way of spoiling one reply (paced line, 100 ms limit, 11 bits a character)\n\n");
  printf(
      "| frame | spoiled how | baud | exchanges | failed | more attempts | most in one exchange | "
      "wrong values |\n|---|---|---|---|---|---|---|---|\n");
  const uint16_t held[8] = {0x1234, 0x0307, 0x1713, 0x5000, 0x0350, 0xFFFF, 0x0000, 0x0A0D};
  const Kind mix[] = {kKinds[0],
                      kKinds[2],
                      kKinds[4],
                      {"read block", 6, "0140000", 0, 8, true, 0},
                      {"write block", 10, "0140000", 0, 8, true, 0}};
  QuarneSetSink(CountEnquiries);
  for (unsigned baud : {19200u, 9600u}) {
    StartSim(plcsim, baud);
    for (int i = 0; i < 8; ++i) {
      char set[48];
      snprintf(set, sizeof set, "set 01%05o 0x%04X\n", 040000 + i, held[i]);
      SimProcessCommand(&sim, set);
    }
    OpenChannel("COM5", 10, static_cast<uint16_t>(baud));
    // The echo's spoils need an echoing line: the echo section's.
    for (int frame = 0; frame < kFrameEcho; ++frame) {
      for (int how = kSpoilNone + 1; how < kSpoilKinds; ++how) {
        if (!SimSpoilFits(frame, how)) continue;
        char spoil[64];
        snprintf(spoil, sizeof spoil, "spoil %s %s%s 1\n", SimFrameName(frame), SimSpoilName(how),
                 how == kSpoilLate  ? "=100"
                 : how < kSpoilLose ? "=2"
                                    : "");
        int exchanges = 20, failed = 0, wrong = 0;
        unsigned plain = 0, most = 0;
        enquiriesSent = 0;
        for (int x = 0; x < exchanges; ++x) {
          const Kind &k = mix[x % 5];
          uint16_t values[130];
          memcpy(values, held, sizeof held);
          if (k.op == 7) values[1] = k.type == 6 ? (held[0] >> 3) & 1 : held[0];
          IoRequest io = Request(k, reinterpret_cast<uint8_t *>(values));
          SimProcessCommand(&sim, spoil);
          unsigned before = enquiriesSent, own = k.type == 6 ? 2 : 1;
          plain += own;
          int32_t result = Call(k.op, &io);
          if (enquiriesSent - before - own > most) most = enquiriesSent - before - own;
          if (result != 0) {
            failed++;
            continue;
          }
          if (k.op == 5) wrong += values[1] != held[0];
          if (k.op == 6) wrong += memcmp(values, held, sizeof held) != 0;
        }
        SimProcessCommand(&sim, "clear\n");
        printf("| %s | %s | %u | %d | %d | %u | %u | %d |\n", SimFrameName(frame),
               SimSpoilName(how), baud, exchanges, failed, enquiriesSent - plain, most, wrong);
      }
    }
    StopSim();
  }
  QuarneSetSink(nullptr);
}

// Enquiries the simulator answered, from the statistics it prints as it
// stops: more than the exchanges means retries.
unsigned StopSimCountingEnquiries() {
  Call(LUMISAR_OP_CLOSE_PORT, nullptr);
  char stats[512];
  SimProcessStop(&sim, stats, sizeof stats);
  const char *e = strstr(stats, "enquiries=");
  return e ? static_cast<unsigned>(atoi(e + 10)) : 0;
}

// A USB serial adapter holds what the controller sends until the next tick
// of its latency timer: every turn of the dialogue waits for it.
void Latency(const char *plcsim) {
  const unsigned latencies[] = {0, 1, 2, 4, 8, 16, 32};
  const Kind &word = kKinds[0], &block = kKinds[5];
  printf("\n### A USB serial adapter's latency timer (19200 baud, 11 bits a character)\n\n");
  printf(
      "| latency | read word | ratio to wire time | read block 128 words | ratio to wire time |\n");
  printf("|---|---|---|---|---|\n");
  for (unsigned latency : latencies) {
    StartSim(plcsim, 19200, latency);
    OpenChannel("COM5", 50);
    int failures = 0;
    double w = TimeExchanges(word, 20, &failures), b = TimeExchanges(block, 5, &failures);
    double wireW = word.wireBytes * 11.0 * 1000.0 / 19200,
           wireB = block.wireBytes * 11.0 * 1000.0 / 19200;
    printf("| %u ms | %.1f ms | %.2f | %.1f ms | %.2f |%s\n", latency, w, w / wireW, b, b / wireB,
           StopSimCountingEnquiries() == 25 && !failures ? "" : " (retries!)");
  }
  printf("\n| latency | shortest reply time limit with no retry in 40 word and 10 block reads |\n");
  printf("|---|---|\n");
  for (unsigned latency : latencies) {
    uint32_t units = 1;
    for (; units <= 20; ++units) {
      StartSim(plcsim, 19200, latency);
      OpenChannel("COM5", units);
      int failures = 0;
      TimeExchanges(word, 40, &failures);
      TimeExchanges(block, 10, &failures);
      if (StopSimCountingEnquiries() == 50 && !failures) break;
    }
    printf("| %u ms | %u ms |\n", latency, units * 10);
  }
}

void Overhead(const char *plcsim) {
  printf("\n### Driver overhead over an unpaced pty (native build)\n\n");
  printf("| exchange | exchanges per second | time per exchange |\n|---|---|---|\n");
  StartSim(plcsim, 0);
  OpenChannel("COM5", 50);
  for (const Kind &k : kKinds) {
    int failures = 0;
    double ms = TimeExchanges(k, k.block ? 100 : 300, &failures);
    printf("| %s | %.0f | %.3f ms |%s\n", k.name, 1000.0 / ms, ms, failures ? " (failures!)" : "");
  }
  StopSim();
}

void Failure(const char *plcsim) {
  printf("\n### Cost of failure: six silent attempts (a station that is not on the line)\n\n");
  printf("| reply limit | six attempts took | 6 x limit | ratio |\n|---|---|---|---|\n");
  StartSim(plcsim, 0);
  const uint32_t limits[] = {5, 10, 20};
  for (uint32_t units : limits) {
    OpenChannel("COM5", units);
    Kind absent = {"absent", 5, "0740000", 0, 1, false, 0};
    int failures = 0;
    double ms = TimeExchanges(absent, 3, &failures);
    double expected = 6.0 * units * 10;
    printf("| %u ms | %.0f ms | %.0f ms | %.2f |\n", units * 10, ms, expected, ms / expected);
    Call(LUMISAR_OP_CLOSE_PORT, nullptr);
  }
  StopSim();
}

// The in-memory port with the simulator behind it: no system calls, no
// waiting, so what is left is the driver's own work.
void Answer(WinsubMemDevice *dev, const uint8_t *bytes, size_t n, void *user) {
  SimOutput out;
  out.len = 0;
  out.delayMs = 0;
  SimFeed(static_cast<Sim *>(user), bytes, n, &out);
  WinsubMemPush(dev, out.bytes, out.len);
}

Sim *MemoryLine() {
  WinsubReset();
  WinsubMemDevice *dev = WinsubAddMemoryDevice("COM3");
  Sim *sim = SimCreate();
  SimAddStation(sim, 1);
  dev->peer = Answer;
  dev->peerUser = sim;
  OpenChannel("COM3", 5);
  return sim;
}

void Heap() {
  printf("\n### Heap use during exchanges\n\n");
  Sim *sim = MemoryLine();
  uint8_t values[256] = {};
  int exchanges = 0;
  IoRequest requests[sizeof kKinds / sizeof kKinds[0]];
  for (size_t i = 0; i < sizeof kKinds / sizeof kKinds[0]; ++i)
    requests[i] = Request(kKinds[i], values);
  QuarneReset();
  allocations = 0;
  counting = 1;
  for (int round = 0; round < 100; ++round) {
    for (size_t i = 0; i < sizeof kKinds / sizeof kKinds[0]; ++i) {
      Call(kKinds[i].op, &requests[i]);
      exchanges++;
    }
  }
  counting = 0;
  printf("| exchanges | allocations in the process while they ran |\n|---|---|\n| %d | %lu |\n",
         exchanges, allocations);
  SimDestroy(sim);
}

// Channels on their own threads, each line paced at 19200 baud by its own
// simulator: a host's channels share nothing, so N channels should do N
// times the exchanges of one.
void Scaling(const char *plcsim) {
  printf(
      "\n### Channels in parallel (lines paced at 19200 baud, word reads, one thread a "
      "channel)\n\n");
  printf(
      "| channels | exchanges per second, all channels | per channel | ratio to channels x one |\n"
      "|---|---|---|---|\n");
  constexpr int kMost = 8;
  static SimProcess sims[kMost];
  static PortContext contexts[kMost];
  double one = 0;
  for (int n : {1, 2, 4, 8}) {
    IoRequest io[kMost];
    uint8_t values[kMost][8];
    int failures = 0;
    for (int k = 0; k < n; ++k) {
      sims[k] = SimProcess{};
      const char *const paced[] = {"--baud", "19200", nullptr};
      SimProcessStart(&sims[k], plcsim, paced);
      char port[8];
      snprintf(port, sizeof port, "COM%d", 10 + k);
      WinsubMapDevice(port, sims[k].link);
      memset(&contexts[k], 0, sizeof contexts[k]);
      OpenRequest r;
      memset(&r, 0, sizeof r);
      snprintf(r.deviceName, sizeof r.deviceName, "%s", port);
      r.enabled = 1;
      r.replyTimeout = 50;
      r.settings = SerialSettings{19200, 8, 0, 0};
      RequestBlock b = {&contexts[k], LUMISAR_OP_OPEN_PORT, {0, 0}, &r};
      failures += ZubMain(&b) != 0;
      io[k] = Request(kKinds[0], values[k]);
    }
    int counts[kMost] = {};
    const double seconds = 3.0;
    double start = NowMs();
    std::thread threads[kMost];
    for (int k = 0; k < n; ++k) {
      threads[k] = std::thread([&, k] {
        RequestBlock b = {&contexts[k], LUMISAR_OP_SINGLE_READ, {0, 0}, &io[k]};
        while (NowMs() - start < seconds * 1000) {
          if (ZubMain(&b) == 0) counts[k]++;
        }
      });
    }
    for (int k = 0; k < n; ++k) threads[k].join();
    double elapsed = (NowMs() - start) / 1000.0;
    int total = 0;
    for (int k = 0; k < n; ++k) {
      total += counts[k];
      RequestBlock b = {&contexts[k], LUMISAR_OP_CLOSE_PORT, {0, 0}, nullptr};
      ZubMain(&b);
      SimProcessStop(&sims[k]);
    }
    double rate = total / elapsed;
    if (n == 1) one = rate;
    printf("| %d | %.1f | %.1f | %.3f |%s\n", n, rate, rate / n, one > 0 ? rate / (n * one) : 0.0,
           failures ? " (failures!)" : "");
  }
}

// Every single-byte fault a line can make to the controller's replies,
// one at a time on the in-memory line, as the transactions test tries and
// judges them; then what two changed bytes do to a word's data frame, the
// protocol's own limit.
void Faults() {
  printf("\n### Every single-byte fault in the controller's replies (in-memory line)\n\n");
  PrintFaultTallyHeader(stdout);
  FaultedExchange all = {"all exchanges", 0, nullptr, 0, 0, false};
  FaultTally sums[kLineFaults] = {};
  double start = NowMs();
  for (int i = 0; i < kFaultedExchangeCount; ++i) {
    FaultTally tally[kLineFaults];
    TallyFaults(kFaultedExchanges[i], tally, false);
    PrintFaultTally(stdout, kFaultedExchanges[i], tally);
    for (int f = 0; f < kLineFaults; ++f) {
      sums[f].tried += tally[f].tried;
      sums[f].atOnce += tally[f].atOnce;
      sums[f].oneMore += tally[f].oneMore;
      sums[f].givenUp += tally[f].givenUp;
      sums[f].wrong += tally[f].wrong;
    }
  }
  PrintFaultTally(stdout, all, sums);
  unsigned cases = sums[0].tried + sums[1].tried + sums[2].tried + sums[3].tried;
  printf("\n%u cases in %.1f s (native build; the transactions test runs the same).\n", cases,
         (NowMs() - start) / 1000);

  printf("\n### Two bytes of a word's data frame changed at once (in-memory line)\n\n");
  printf("| bytes changed | cases | done with a wrong value | share |\n|---|---|---|---|\n");
  static FaultTally pairs[kWordFrameLength][kWordFrameLength];
  TallyChangedPairs(pairs);
  const char *const names[kWordFrameLength] = {"STX", "low data byte", "high data byte", "ETX",
                                               "check byte"};
  unsigned tried = 0, wrong = 0;
  for (int i = 0; i < kWordFrameLength; ++i) {
    for (int j = i + 1; j < kWordFrameLength; ++j) {
      const FaultTally &c = pairs[i][j];
      printf("| %s and %s | %u | %u | %.3f %% |\n", names[i], names[j], c.tried, c.wrong,
             100.0 * c.wrong / c.tried);
      tried += c.tried;
      wrong += c.wrong;
    }
  }
  printf("| all pairs | %u | %u | %.3f %% |\n", tried, wrong, 100.0 * wrong / tried);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && strcmp(argv[1], "--callgrind") == 0) {
    Sim *sim = MemoryLine();
    uint8_t values[256] = {};
    IoRequest io = Request(kKinds[0], values);
    int n = atoi(argv[2]);
    for (int i = 0; i < n; ++i) Call(5, &io);
    SimDestroy(sim);
    return 0;
  }
  if (argc < 2) {
    fprintf(stderr,
            "usage: bench_driver PLCSIM [efficiency] [overhead] [failure] [heap] [scaling] "
            "[latency] [spoiled] [spoilings] [faults] [echo]\n");
    return 2;
  }
  bool all = argc == 2;
  auto want = [&](const char *s) {
    for (int i = 2; i < argc; ++i)
      if (strcmp(argv[i], s) == 0) return true;
    return all;
  };
  if (want("efficiency")) Efficiency(argv[1], false);
  if (want("echo")) Efficiency(argv[1], true);
  if (want("overhead")) Overhead(argv[1]);
  if (want("failure")) Failure(argv[1]);
  if (want("heap")) Heap();
  if (want("scaling")) Scaling(argv[1]);
  if (want("latency")) Latency(argv[1]);
  if (want("spoiled")) Spoiled(argv[1]);
  if (want("spoilings")) SpoilTable(argv[1]);
  if (want("faults")) Faults();
  return 0;
}

// Soak: thousands of exchanges of every kind against the plcsim process over
// a pty, with a random single fault injected before many of them. After
// each exchange a result of 0 must have brought the simulator's true values;
// at the end the simulator's memory must hold exactly what was written with
// result 0.
//   soak PLCSIM [EXCHANGES] [SEED]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <winsub.h>

#include "lumisar.h"
#include "quarne_control.h"
#include "sim_core.h"
#include "support/driver_api.h"
#include "support/sim_process.h"

namespace {

constexpr int kRegion = 512;       // words V0..V777 (octal) are exercised
constexpr uint32_t kBase = 0;      // first V-memory address used
uint16_t model[kRegion];           // what the controller must hold
PortContext channel;
SimProcess sim;
unsigned enquiries;

uint32_t rng;
uint32_t Next() {
  rng ^= rng << 13;
  rng ^= rng >> 17;
  rng ^= rng << 5;
  return rng;
}

void CountEnquiries(int, const char *line) {
  if (strncmp(line, "ORVEN> SendStr() Tx 4E", 22) == 0 && strncmp(line + 26, "05", 2) == 0)
    enquiries++;
}

// The address text of word `word` of the region, with a suffix.
void Text(char *out, uint32_t word, char suffix) {
  snprintf(out, 9, "01%05o", kBase + word);
  if (suffix) {
    out[7] = suffix;
    out[8] = 0;
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: soak PLCSIM [EXCHANGES] [SEED]\n");
    return 2;
  }
  int total = argc > 2 ? atoi(argv[2]) : 2000;
  rng = argc > 3 ? static_cast<uint32_t>(strtoul(argv[3], nullptr, 0)) : 0x2545F491u;
  const char *const options[] = {"--station", "1", "--delay", "80", nullptr};
  if (!SimProcessStart(&sim, argv[1], options)) {
    fprintf(stderr, "soak: the simulator did not start\n");
    return 1;
  }
  WinsubMapDevice("COM5", sim.link);
  QuarneSetSink(CountEnquiries);
  OpenRequest open;
  memset(&open, 0, sizeof open);
  strcpy(open.deviceName, "COM5");
  open.enabled = 1;
  open.replyTimeout = 5;  // 50 ms: a lost reply costs little
  open.settings = SerialSettings{19200, 8, 0, 0};
  if (Call(LUMISAR_OP_OPEN_PORT, &channel, &open) != 0) {
    fprintf(stderr, "soak: cannot open the simulator's pty\n");
    SimProcessStop(&sim);
    return 1;
  }

  const int faultKinds[] = {kFaultNoAnswer, kFaultWrongStation, kFaultNoAck, kFaultHeaderRefused,
                            kFaultDataRefused, kFaultBadLrc, kFaultNoStx, kFaultBadEtx,
                            kFaultNoEot, kFaultBadEot, kFaultShortReply, kFaultNoise,
                            kFaultDelay};
  unsigned results[3] = {}, wrong = 0, faultsAsked = 0, plainEnquiries = 0;
  for (int x = 0; x < total; ++x) {
    char command[96] = "clear\n";
    if (Next() % 3 == 0) {
      int kind = faultKinds[Next() % (sizeof faultKinds / sizeof faultKinds[0])];
      snprintf(command, sizeof command, "clear\nfault %s 1\n", SimFaultName(kind));
      faultsAsked++;
    }
    SimProcessCommand(&sim, command);
    int op = static_cast<int>(Next() % 10);
    // A bit write is a read exchange and a write exchange.
    plainEnquiries += op == 7 ? 2 : 1;
    uint32_t word = (Next() % (kRegion - 130)) & ~1u;  // even: 32-bit values fit
    char text[12];
    uint8_t values[260] = {};
    int32_t result = 0;
    bool ok = true;
    switch (op) {
      case 0: {  // word read
        Text(text, word, 0);
        IoRequest io = TagRequest(text, 0, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_READ, &channel, &io);
        uint16_t w;
        memcpy(&w, values + 2, 2);
        ok = result != 0 || w == model[word];
        break;
      }
      case 1: {  // 32-bit read (long or float alike)
        Text(text, word, Next() & 1 ? 'L' : 'F');
        IoRequest io = TagRequest(text, text[7] == 'L' ? 4 : 3, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_READ, &channel, &io);
        uint32_t v;
        memcpy(&v, values, 4);
        ok = result != 0 || v == (model[word] | static_cast<uint32_t>(model[word + 1]) << 16);
        break;
      }
      case 2: {  // bit read
        uint32_t bit = Next() % 16;
        Text(text, word, "0123456789ABCDEF"[bit]);
        IoRequest io = TagRequest(text, 6, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_READ, &channel, &io);
        uint16_t w;
        memcpy(&w, values + 2, 2);
        ok = result != 0 || w == ((model[word] >> bit) & 1);
        break;
      }
      case 3:
      case 4: {  // block reads
        bool wide = op == 4;
        int32_t count = static_cast<int32_t>(Next() % (wide ? 64 : 128)) + 1;
        Text(text, word, wide ? 'L' : 0);
        IoRequest io = TagRequest(text, 0, count, values, true);
        result = Call(LUMISAR_OP_BLOCK_READ, &channel, &io);
        if (result == 0) ok = memcmp(values, model + word, static_cast<size_t>(count) * (wide ? 4 : 2)) == 0;
        break;
      }
      case 5: {  // word write
        uint16_t w = static_cast<uint16_t>(Next());
        memcpy(values + 2, &w, 2);
        Text(text, word, 0);
        IoRequest io = TagRequest(text, 1, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_WRITE, &channel, &io);
        if (result == 0) model[word] = w;
        break;
      }
      case 6: {  // 32-bit write
        uint32_t v = Next();
        memcpy(values, &v, 4);
        Text(text, word, 'L');
        IoRequest io = TagRequest(text, 5, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_WRITE, &channel, &io);
        if (result == 0) {
          model[word] = static_cast<uint16_t>(v);
          model[word + 1] = static_cast<uint16_t>(v >> 16);
        }
        break;
      }
      case 7: {  // bit write
        uint32_t bit = Next() % 16;
        uint16_t set = Next() & 1;
        memcpy(values + 2, &set, 2);
        Text(text, word, "0123456789ABCDEF"[bit]);
        IoRequest io = TagRequest(text, 6, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_WRITE, &channel, &io);
        uint16_t after;
        memcpy(&after, values + 2, 2);
        ok = after == set && io.address.bitNumber == bit;
        if (result == 0)
          model[word] = set ? static_cast<uint16_t>(model[word] | 1u << bit)
                            : static_cast<uint16_t>(model[word] & ~(1u << bit));
        break;
      }
      default: {  // block writes
        bool wide = op == 9;
        int32_t count = static_cast<int32_t>(Next() % (wide ? 64 : 128)) + 1;
        size_t bytes = static_cast<size_t>(count) * (wide ? 4 : 2);
        for (size_t i = 0; i < bytes; ++i) values[i] = static_cast<uint8_t>(Next());
        Text(text, word, wide ? 'L' : 0);
        IoRequest io = TagRequest(text, 0, count, values, true);
        result = Call(LUMISAR_OP_BLOCK_WRITE, &channel, &io);
        if (result == 0) memcpy(model + word, values, bytes);
        break;
      }
    }
    if (result >= 0 && result <= 2) results[result]++;
    if (!ok) {
      wrong++;
      fprintf(stderr, "soak: exchange %d (kind %d at word %u) gave a wrong value\n", x, op, word);
    }
  }
  // The controller's memory, compared whole with what was written.
  char dump[160];
  snprintf(dump, sizeof dump, "/tmp/lumisar-soak-dump-%d", getpid());
  char command[256];
  snprintf(command, sizeof command, "clear\ndump 1 %s\n", dump);
  SimProcessCommand(&sim, command);
  usleep(300000);
  uint16_t memory[kSimWords] = {};
  FILE *f = fopen(dump, "rb");
  size_t got = f ? fread(memory, sizeof(uint16_t), kSimWords, f) : 0;
  if (f) fclose(f);
  unlink(dump);
  unsigned memoryMismatches = got == kSimWords ? 0 : 1;
  for (int i = 0; i < kRegion; ++i) memoryMismatches += memory[kBase + i] != model[i];

  Call(LUMISAR_OP_CLOSE_PORT, &channel, nullptr);
  // The simulator prints its statistics as it stops.
  char stats[512];
  SimProcessStop(&sim, stats, sizeof stats);
  unsigned faultsSeen = 0;
  if (const char *p = strstr(stats, "faults=")) faultsSeen = static_cast<unsigned>(atoi(p + 7));
  unsigned retries = enquiries > plainEnquiries ? enquiries - plainEnquiries : 0;
  printf("soak: exchanges %d, faults asked %u, faults injected %u, enquiries %u (retries %u)\n",
         total, faultsAsked, faultsSeen, enquiries, retries);
  printf("soak: results 0: %u, 1: %u, 2: %u; wrong values %u; memory mismatches %u\n",
         results[0], results[1], results[2], wrong, memoryMismatches);
  bool pass = wrong == 0 && memoryMismatches == 0;
  printf("%d passed, %d failed\n", pass ? 1 : 0, pass ? 0 : 1);
  return pass ? 0 : 1;
}

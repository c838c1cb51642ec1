#include "soak_run.h"

#include <stdio.h>
#include <string.h>

#include "sim_core.h"
#include "support/driver_api.h"

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

const int kFaultKindsUsed[] = {
    kFaultNoAnswer,   kFaultWrongStation, kFaultNoAck,  kFaultHeaderRefused, kFaultDataRefused,
    kFaultBadLrc,     kFaultNoStx,        kFaultBadEtx, kFaultNoEot,         kFaultBadEot,
    kFaultShortReply, kFaultNoise,        kFaultDelay};

// A read that succeeded: true when the values match the model where it is
// certain; the words it read become certain.
bool Matches(SoakChannel *c, uint32_t word, const uint16_t *read, int words) {
  bool ok = true;
  for (int k = 0; k < words; ++k) {
    if (c->uncertain[word + k]) {
      c->model[word + k] = read[k];
      c->uncertain[word + k] = false;
    } else {
      ok = ok && read[k] == c->model[word + k];
    }
  }
  return ok;
}

void Written(SoakChannel *c, int32_t result, uint32_t word, const void *values, int words) {
  if (result == 0) {
    memcpy(c->model + word, values, static_cast<size_t>(words) * 2);
    for (int k = 0; k < words; ++k) c->uncertain[word + k] = false;
  } else {
    for (int k = 0; k < words; ++k) c->uncertain[word + k] = true;
  }
}

}  // namespace

void SoakCountLogLine(int, const char *line) {
  if (!current || strncmp(line, "ORVEN> SendStr() Tx 4E ", 23) != 0 ||
      strncmp(line + 26, "05", 2) != 0)
    return;
  current->enquiries++;
  // The enquiry names the station: a frame meant for another channel's
  // controller must never be sent on this one.
  unsigned station = 0;
  sscanf(line + 23, "%2x", &station);
  if (static_cast<int>(station) != current->station + 0x20) current->otherStations++;
}

void SoakRun(SoakChannel *c) {
  current = c;
  uint32_t rng = c->seed ? c->seed : 0x2545F491u;
  bool faultPending = false;
  for (int x = 0; x < c->exchanges; ++x) {
    if (Next(&rng) % 3 == 0) {
      int kind = kFaultKindsUsed[Next(&rng) % (sizeof kFaultKindsUsed / sizeof kFaultKindsUsed[0])];
      char command[96];
      snprintf(command, sizeof command, "clear\nfault %s 1\n", SimFaultName(kind));
      c->command(c->user, command);
      c->faultsAsked++;
      faultPending = true;
    } else if (faultPending) {
      // A fault the last exchange had no chance for must not linger.
      c->command(c->user, "clear\n");
      faultPending = false;
    }
    int op = static_cast<int>(Next(&rng) % 10);
    // A bit write is a read exchange and a write exchange.
    c->plainEnquiries += op == 7 ? 2 : 1;
    uint32_t word = (Next(&rng) % (kSoakRegion - 130)) & ~1u;  // even: 32-bit values fit
    uint16_t *model = c->model;
    char text[12];
    uint8_t values[260] = {};
    int32_t result = 0;
    bool ok = true;
    switch (op) {
      case 0: {  // word read
        Text(text, c->station, word, 0);
        IoRequest io = LockedTagRequest(text, 0, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_READ, c->context, &io);
        uint16_t w;
        memcpy(&w, values + 2, 2);
        ok = result != 0 || Matches(c, word, &w, 1);
        break;
      }
      case 1: {  // 32-bit read (long or float alike)
        Text(text, c->station, word, Next(&rng) & 1 ? 'L' : 'F');
        IoRequest io = LockedTagRequest(text, text[7] == 'L' ? 4 : 3, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_READ, c->context, &io);
        uint16_t w[2];
        memcpy(w, values, 4);
        ok = result != 0 || Matches(c, word, w, 2);
        break;
      }
      case 2: {  // bit read
        uint32_t bit = Next(&rng) % 16;
        Text(text, c->station, word, "0123456789ABCDEF"[bit]);
        IoRequest io = LockedTagRequest(text, 6, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_READ, c->context, &io);
        uint16_t w;
        memcpy(&w, values + 2, 2);
        ok = result != 0 || c->uncertain[word] || w == ((model[word] >> bit) & 1);
        break;
      }
      case 3:
      case 4: {  // block reads
        bool wide = op == 4;
        int32_t count = static_cast<int32_t>(Next(&rng) % (wide ? 64 : 128)) + 1;
        Text(text, c->station, word, wide ? 'L' : 0);
        IoRequest io = LockedTagRequest(text, 0, count, values, true);
        result = Call(LUMISAR_OP_BLOCK_READ, c->context, &io);
        if (result == 0) {
          static thread_local uint16_t words[128];
          memcpy(words, values, static_cast<size_t>(count) * (wide ? 4 : 2));
          ok = Matches(c, word, words, count * (wide ? 2 : 1));
        }
        break;
      }
      case 5: {  // word write
        uint16_t w = static_cast<uint16_t>(Next(&rng));
        memcpy(values + 2, &w, 2);
        Text(text, c->station, word, 0);
        IoRequest io = LockedTagRequest(text, 1, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_WRITE, c->context, &io);
        Written(c, result, word, &w, 1);
        break;
      }
      case 6: {  // 32-bit write
        uint32_t v = Next(&rng);
        memcpy(values, &v, 4);
        Text(text, c->station, word, 'L');
        IoRequest io = LockedTagRequest(text, 5, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_WRITE, c->context, &io);
        uint16_t w[2] = {static_cast<uint16_t>(v), static_cast<uint16_t>(v >> 16)};
        Written(c, result, word, w, 2);
        break;
      }
      case 7: {  // bit write
        uint32_t bit = Next(&rng) % 16;
        uint16_t set = Next(&rng) & 1;
        memcpy(values + 2, &set, 2);
        Text(text, c->station, word, "0123456789ABCDEF"[bit]);
        IoRequest io = LockedTagRequest(text, 6, 1, values, false);
        result = Call(LUMISAR_OP_SINGLE_WRITE, c->context, &io);
        uint16_t after;
        memcpy(&after, values + 2, 2);
        ok = after == set && io.address.bitNumber == bit;
        uint16_t w = set ? static_cast<uint16_t>(model[word] | 1u << bit)
                         : static_cast<uint16_t>(model[word] & ~(1u << bit));
        // A bit written into a word the model is unsure of makes a word it
        // is still unsure of.
        Written(c, c->uncertain[word] ? 1 : result, word, &w, 1);
        break;
      }
      default: {  // block writes
        bool wide = op == 9;
        int32_t count = static_cast<int32_t>(Next(&rng) % (wide ? 64 : 128)) + 1;
        size_t bytes = static_cast<size_t>(count) * (wide ? 4 : 2);
        for (size_t i = 0; i < bytes; ++i) values[i] = static_cast<uint8_t>(Next(&rng));
        Text(text, c->station, word, wide ? 'L' : 0);
        IoRequest io = LockedTagRequest(text, 0, count, values, true);
        result = Call(LUMISAR_OP_BLOCK_WRITE, c->context, &io);
        Written(c, result, word, values, static_cast<int>(bytes / 2));
        break;
      }
    }
    if (result >= 0 && result <= 2) c->results[result]++;
    if (!ok) {
      c->wrong++;
      fprintf(stderr, "soak: station %02X exchange %d (kind %d at word %u) gave a wrong value\n",
              c->station, x, op, word);
    }
  }
  c->command(c->user, "clear\n");
  current = nullptr;
}

unsigned SoakMemoryMismatches(const SoakChannel *c, const uint16_t *memory, int words) {
  if (words < kSoakRegion) return 1;
  unsigned mismatches = 0;
  for (int i = 0; i < kSoakRegion; ++i) mismatches += !c->uncertain[i] && memory[i] != c->model[i];
  return mismatches;
}

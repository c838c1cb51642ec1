#include "sim_core.h"

#include <stdlib.h>
#include <string.h>

#include "sim_spoil.h"

namespace {

constexpr uint8_t kSoh = 0x01, kStx = 0x02, kEtx = 0x03, kEot = 0x04, kEnq = 0x05, kAck = 0x06,
                  kNak = 0x15, kEtb = 0x17, kN = 0x4E;

enum class State { Idle, Header, MasterAck, WriteData, MasterEot };

const char *const kFaultNames[] = {"none",           "no-answer",    "wrong-station", "no-ack",
                                   "header-refused", "data-refused", "bad-lrc",       "no-stx",
                                   "bad-etx",        "no-eot",       "bad-eot",       "short-reply",
                                   "noise",          "delay",        "ack-lost"};
static_assert(sizeof kFaultNames / sizeof kFaultNames[0] == kFaultKinds, "a name for each fault");
// What a kind beyond them is shown as.
constexpr char kUnknownFault[] = "?";

}  // namespace

struct Sim {
  uint16_t *memory[256];
  State state;
  uint8_t in[1024];
  size_t inLen;
  int station;       // station of the exchange under way
  bool write;        // direction of the exchange under way
  uint32_t address;  // first word (0-based) of the exchange
  uint32_t byteCount;
  int faultLeft[kFaultKinds];
  int faultStation[kFaultKinds];  // 0: the fault strikes any station
  struct {
    int how, amount, left, station;
    int skip;    // chances to let pass first
    bool exact;  // at the place and with the value below, not at random
    size_t at;
    uint8_t value;
  } spoil[kFrameKinds];
  uint32_t random;  // the spoils' generator
  uint32_t delayMs;
  FILE *log;
  SimStats stats;
};

namespace {

// Takes one chance of a fault: true when it applies this time.
bool Fault(Sim *sim, int kind) {
  int &left = sim->faultLeft[kind];
  if (left == 0 || (sim->faultStation[kind] && sim->faultStation[kind] != sim->station))
    return false;
  if (left > 0) left--;
  sim->stats.faults++;
  if (sim->log) fprintf(sim->log, "plcsim: fault %s\n", kFaultNames[kind]);
  return true;
}

void Emit(SimOutput *out, const uint8_t *bytes, size_t n) {
  if (out->len + n > sizeof out->bytes) n = sizeof out->bytes - out->len;
  memcpy(out->bytes + out->len, bytes, n);
  out->len += n;
}

void EmitByte(SimOutput *out, uint8_t b) { Emit(out, &b, 1); }

// Takes one chance of spoiling `frame`: true when it applies this time.
bool Spoil(Sim *sim, int frame) {
  auto &s = sim->spoil[frame];
  if (s.left == 0 || (s.station && s.station != sim->station)) return false;
  if (s.skip > 0) {
    s.skip--;
    return false;
  }
  if (s.left > 0) s.left--;
  sim->stats.spoiled++;
  if (sim->log)
    fprintf(sim->log, "plcsim: spoil %s %s\n", SimFrameName(frame), SimSpoilName(s.how));
  return true;
}

// A frame as the line delivers it: as sent, or spoiled.
void EmitFrame(Sim *sim, SimOutput *out, int frame, const uint8_t *bytes, size_t n) {
  if (!Spoil(sim, frame)) {
    Emit(out, bytes, n);
    return;
  }
  const auto &s = sim->spoil[frame];
  if (s.how == kSpoilLate) {
    if (out->pauseCount < sizeof out->pauses / sizeof out->pauses[0]) {
      out->pauses[out->pauseCount] = SimPause{out->len, static_cast<uint32_t>(s.amount)};
      out->pauseCount++;
    }
    Emit(out, bytes, n);
    return;
  }
  uint8_t spoiled[sizeof out->bytes + kSpoilJunkMost];
  size_t len;
  if (s.exact)
    len = SimSpoilFrameAt(s.how, s.at, s.value, bytes, n, spoiled);
  else
    len = SimSpoilFrame(s.how, s.amount, &sim->random, bytes, n, spoiled);
  Emit(out, spoiled, len);
}

void EmitFrameByte(Sim *sim, SimOutput *out, int frame, uint8_t b) {
  EmitFrame(sim, out, frame, &b, 1);
}

// NAK, and the controller's side of the dialogue is over.
void Refuse(Sim *sim, SimOutput *out) {
  EmitByte(out, kNak);
  sim->state = State::Idle;
}

void LogFrame(Sim *sim, const char *what, const uint8_t *b, size_t n) {
  if (!sim->log) return;
  fprintf(sim->log, "plcsim: %s", what);
  for (size_t i = 0; i < n && i < 24; ++i) fprintf(sim->log, " %02X", b[i]);
  fprintf(sim->log, n > 24 ? " ...\n" : "\n");
}

// An upper-case hexadecimal digit's value, as a frame carries it; -1 for
// any other character.
int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two upper-case hexadecimal characters; -1 when they are not.
int Hex2(const uint8_t *p) {
  int hi = HexDigit(p[0]), lo = HexDigit(p[1]);
  if (hi < 0 || lo < 0) return -1;
  return hi * 16 + lo;
}

uint8_t Xor(const uint8_t *p, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

uint8_t *MemoryBytes(Sim *sim) { return reinterpret_cast<uint8_t *>(sim->memory[sim->station]); }

void Consume(Sim *sim, size_t n) {
  memmove(sim->in, sim->in + n, sim->inLen - n);
  sim->inLen -= n;
}

void AnswerEnquiry(Sim *sim, SimOutput *out) {
  uint8_t stationByte = sim->in[1];
  int station = (stationByte - 0x20) & 0xFF;
  Consume(sim, 3);
  sim->stats.enquiries++;
  sim->state = State::Idle;  // until an acknowledge goes out
  if (!sim->memory[station]) {
    sim->stats.foreign++;  // not ours: another controller would answer
    return;
  }
  sim->station = station;
  if (Fault(sim, kFaultNoAnswer)) return;
  if (Fault(sim, kFaultDelay)) out->delayMs = sim->delayMs;
  if (Fault(sim, kFaultNoise)) {
    const uint8_t noise[] = {0xFF, 0x00, 0x4E};
    Emit(out, noise, sizeof noise);
  }
  uint8_t ack[3] = {kN, stationByte, kAck};
  if (Fault(sim, kFaultWrongStation)) ack[1] = static_cast<uint8_t>(stationByte + 1);
  if (Fault(sim, kFaultNoAck)) ack[2] = kNak;
  EmitFrame(sim, out, kFrameAcknowledge, ack, 3);
  // A refusal or a wrong station ends the dialogue on the controller's side.
  sim->state = (ack[2] == kAck && ack[1] == stationByte) ? State::Header : State::Idle;
}

void SendReadData(Sim *sim, SimOutput *out) {
  uint8_t frame[300];
  size_t n = sim->byteCount;
  frame[0] = kStx;
  memcpy(frame + 1, MemoryBytes(sim) + 2 * sim->address, n);
  frame[n + 1] = kEtx;
  frame[n + 2] = Xor(frame + 1, n);
  if (Fault(sim, kFaultBadLrc)) frame[n + 2] ^= 0x5A;
  if (Fault(sim, kFaultNoStx)) frame[0] = 0x12;
  if (Fault(sim, kFaultBadEtx)) frame[n + 1] = 0x13;
  size_t len = n + 3;
  if (Fault(sim, kFaultShortReply)) len = len / 2;
  EmitFrame(sim, out, kFrameData, frame, len);
  sim->state = State::MasterAck;
}

void AnswerHeader(Sim *sim, SimOutput *out) {
  const uint8_t *h = sim->in;
  int plc = Hex2(h + 1), hi = Hex2(h + 5), lo = Hex2(h + 7), blocks = Hex2(h + 9),
      last = Hex2(h + 11);
  uint32_t wordAddress = static_cast<uint32_t>(hi * 256 + lo);
  uint32_t count = static_cast<uint32_t>(blocks * 256 + last);
  // The header names the first word counting from 1 (V0 is word 1).
  bool fits = wordAddress >= 1 && count <= 256 && count % 2 == 0 &&
              (wordAddress - 1) * 2 + count <= kSimWords * 2;
  bool write = h[3] == '8', direction = (h[3] == '0' || write) && h[4] == '1';
  bool good = plc >= 0 && hi >= 0 && lo >= 0 && blocks >= 0 && last >= 0 && direction &&
              h[13] == '0' && h[14] == '0' && h[15] == kEtb && h[16] == Xor(h + 1, 14) &&
              plc == sim->station && fits;
  // The header is read before it leaves the input: what follows it moves up.
  LogFrame(sim, "header", h, 17);
  Consume(sim, 17);
  if (!good) sim->stats.badFrames++;
  if (!good || Fault(sim, kFaultHeaderRefused)) {
    Refuse(sim, out);
    return;
  }
  sim->write = write;
  sim->address = wordAddress - 1;
  sim->byteCount = count;
  EmitFrameByte(sim, out, kFrameHeaderAck, kAck);
  if (sim->write) {
    sim->state = State::WriteData;
  } else {
    sim->stats.reads++;
    SendReadData(sim, out);
  }
}

void TakeWriteData(Sim *sim, SimOutput *out) {
  size_t n = sim->byteCount;
  const uint8_t *f = sim->in;
  bool good = f[0] == kStx && f[n + 1] == kEtx && f[n + 2] == Xor(f + 1, n);
  LogFrame(sim, "data", f, n + 3);
  if (!good) sim->stats.badFrames++;
  // The controller takes the data once it has acknowledged them.
  bool take = good && !Fault(sim, kFaultDataRefused);
  if (take) memcpy(MemoryBytes(sim) + 2 * sim->address, f + 1, n);
  Consume(sim, n + 3);
  if (!take) {
    Refuse(sim, out);
    return;
  }
  sim->stats.writes++;
  // With the ACK lost the master hears nothing and asks again, though the
  // data landed.
  bool lost = Fault(sim, kFaultAckLost);
  if (!lost) EmitFrameByte(sim, out, kFrameDataAck, kAck);
  sim->state = lost ? State::Idle : State::MasterEot;
}

// Bytes the current state cannot use: drop one and look again.
void Discard(Sim *sim) {
  Consume(sim, 1);
  sim->state = State::Idle;
}

// The master's ACK after a read's data frame: EOT closes the read.
void AnswerMasterAck(Sim *sim, SimOutput *out) {
  Consume(sim, 1);
  bool silent = Fault(sim, kFaultNoEot);
  if (!silent) EmitFrameByte(sim, out, kFrameEot, Fault(sim, kFaultBadEot) ? kNak : kEot);
  sim->state = silent ? State::Idle : State::MasterEot;
}

// Handles what is complete in the input; false when more bytes are needed.
bool Step(Sim *sim, SimOutput *out) {
  if (sim->inLen == 0) return false;
  uint8_t first = sim->in[0];
  if (first == kN) {
    // An enquiry starts over from any state: the master gave up on the last
    // exchange and is trying again.
    if (sim->inLen < 3) return false;
    if (sim->in[2] == kEnq)
      AnswerEnquiry(sim, out);
    else
      Discard(sim);
  } else if (sim->state == State::Header && first == kSoh) {
    if (sim->inLen < 17) return false;
    AnswerHeader(sim, out);
  } else if (sim->state == State::MasterAck && first == kAck) {
    AnswerMasterAck(sim, out);
  } else if (sim->state == State::WriteData && first == kStx) {
    if (sim->inLen < sim->byteCount + 3) return false;
    TakeWriteData(sim, out);
  } else if (sim->state == State::MasterEot && first == kEot) {
    Consume(sim, 1);
    sim->stats.completed++;
    sim->state = State::Idle;
  } else {
    Discard(sim);
  }
  return true;
}

}  // namespace

const char *SimFaultName(int kind) {
  if (kind < 0 || kind >= kFaultKinds) return kUnknownFault;
  return kFaultNames[kind];
}

int SimFaultByName(const char *name) {
  for (int k = 1; k < kFaultKinds; ++k)
    if (strcmp(kFaultNames[k], name) == 0) return k;
  return kFaultNone;
}

Sim *SimCreate() {
  Sim *sim = static_cast<Sim *>(calloc(1, sizeof(Sim)));
  sim->delayMs = 2000;
  SimSetSeed(sim, 1);
  return sim;
}

void SimDestroy(Sim *sim) {
  for (uint16_t *m : sim->memory) free(m);
  free(sim);
}

void SimAddStation(Sim *sim, int station) {
  if (station < 1 || station > 255 || sim->memory[station]) return;
  sim->memory[station] = static_cast<uint16_t *>(calloc(kSimWords, sizeof(uint16_t)));
}

uint16_t *SimMemory(Sim *sim, int station) {
  return station >= 0 && station < 256 ? sim->memory[station] : nullptr;
}

void SimSetFault(Sim *sim, int kind, int count, int station) {
  if (kind <= 0 || kind >= kFaultKinds) return;
  sim->faultLeft[kind] = count;
  sim->faultStation[kind] = station;
}

void SimSetSpoil(Sim *sim, int frame, int how, int amount, int count, int station) {
  if (!SimSpoilFits(frame, how)) return;
  auto &s = sim->spoil[frame];
  s.how = how;
  s.amount = amount;
  s.left = count;
  s.station = station;
  s.skip = 0;
  s.exact = false;
}

void SimSetSpoilAt(Sim *sim, int frame, int how, size_t at, uint8_t value) {
  SimSetSpoil(sim, frame, how, static_cast<int>(at), 1);
  auto &s = sim->spoil[frame];
  s.exact = how != kSpoilLate;
  s.at = at;
  s.value = value;
}

void SimDelaySpoil(Sim *sim, int frame, int chances) {
  if (frame >= 0 && frame < kFrameKinds) sim->spoil[frame].skip = chances;
}

void SimClearFaults(Sim *sim) {
  memset(sim->faultLeft, 0, sizeof sim->faultLeft);
  for (auto &s : sim->spoil) s.left = 0;
}

void SimSetSeed(Sim *sim, uint32_t seed) { sim->random = seed; }
void SimSetDelay(Sim *sim, uint32_t ms) { sim->delayMs = ms; }
void SimSetLog(Sim *sim, FILE *log) { sim->log = log; }
const SimStats *SimGetStats(const Sim *sim) { return &sim->stats; }

void SimCountStalls(Sim *sim, unsigned stalls) { sim->stats.stalls += stalls; }

void SimFeed(Sim *sim, const uint8_t *bytes, size_t n, SimOutput *out) {
  if (out->len == 0) out->pauseCount = 0;
  while (n > 0) {
    size_t room = sizeof sim->in - sim->inLen;
    size_t take = n < room ? n : room;
    memcpy(sim->in + sim->inLen, bytes, take);
    sim->inLen += take;
    bytes += take;
    n -= take;
    while (Step(sim, out)) {
    }
    if (sim->inLen == sizeof sim->in) Discard(sim);
  }
}

size_t SimEcho(Sim *sim, const uint8_t *bytes, size_t n, uint8_t *out) {
  if (n == 0 || !Spoil(sim, kFrameEcho)) {
    memcpy(out, bytes, n);
    return n;
  }
  const auto &s = sim->spoil[kFrameEcho];
  if (s.exact) return SimSpoilFrameAt(s.how, s.at, s.value, bytes, n, out);
  return SimSpoilFrame(s.how, s.amount, &sim->random, bytes, n, out);
}

void SimLineQuiet(Sim *sim) {
  if (sim->inLen == 0) return;
  LogFrame(sim, "given up after a quiet line:", sim->in, sim->inLen);
  sim->stats.badFrames++;
  sim->inLen = 0;
  sim->state = State::Idle;
}

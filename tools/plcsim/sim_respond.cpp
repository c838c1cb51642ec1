// Answers the master with the line's timing: a character takes its start
// bit, data bits, parity bit and stop bits on the wire. With a latency, what
// the controller sends reaches the master as through a USB serial adapter:
// the adapter holds the bytes it receives until the next tick of its
// latency timer, or sends them at once when a packet's worth is waiting.
#include "sim_tool.h"

namespace {

constexpr size_t kAdapterPacket = 62;  // bytes of data in one USB packet

void Send(SimSend send, void *line, const uint8_t *b, size_t n, uint64_t byteNs) {
  if (!byteNs) {
    send(line, b, n);
    return;
  }
  uint64_t next = SimNowNs();
  for (size_t i = 0; i < n; ++i) {
    next += byteNs;
    send(line, b + i, 1);
    SimSleepUntilNs(next);
  }
}

void SendThroughAdapter(const SimPacer *p, SimSend send, void *line, const uint8_t *b, size_t n) {
  uint8_t held[kAdapterPacket];
  size_t count = 0;
  uint64_t at = SimNowNs(), tick = 0;
  for (size_t i = 0; i < n; ++i) {
    at += p->byteNs;  // when byte i is through the wire and in the adapter
    if (count && tick <= at) {
      SimSleepUntilNs(tick);
      send(line, held, count);
      count = 0;
    }
    if (!count) tick = (at / p->latencyNs + 1) * p->latencyNs;
    held[count++] = b[i];
    if (count < kAdapterPacket) continue;
    SimSleepUntilNs(at);
    send(line, held, count);
    count = 0;
  }
  if (!count) return;
  SimSleepUntilNs(tick);
  send(line, held, count);
}

// Bytes as the line carries them: through the adapter when there is one,
// else at the line's pace, else in one piece.
void SendPart(const SimPacer *p, SimSend send, void *line, const uint8_t *b, size_t n) {
  if (n == 0) return;
  if (p->latencyNs)
    SendThroughAdapter(p, send, line, b, n);
  else
    Send(send, line, b, n, p->byteNs);
}

}  // namespace

void SimPacerInit(SimPacer *p, const SimOptions *o) {
  // Bit times in halves, for one and a half stop bits.
  unsigned halfBits = 2 * (1 + o->dataBits + (o->parity ? 1 : 0)) + 2 + o->stopBits;
  *p = SimPacer{o->baud ? halfBits * 500000000ull / o->baud : 0, 0, o->latencyMs * 1000000ull};
}

void SimRespond(Sim *sim, SimPacer *p, bool echo, const uint8_t *in, size_t n, SimSend send,
                void *line) {
  uint64_t now = SimNowNs();
  if (p->byteNs) p->rxFreeAt = (p->rxFreeAt > now ? p->rxFreeAt : now) + n * p->byteNs;
  // An echoing line (an RS-485 converter's) hands the master its own bytes
  // back as they pass, before the controller has heard them out.
  if (echo) Send(send, line, in, n, p->byteNs);
  SimOutput out = {};
  SimFeed(sim, in, n, &out);
  if (!out.len) return;
  if (p->byteNs) SimSleepUntilNs(p->rxFreeAt);
  if (out.delayMs) SimSleepUntilNs(SimNowNs() + out.delayMs * 1000000ull);
  // Late frames split the answer: each part waits its pause.
  size_t from = 0;
  for (size_t k = 0; k < out.pauseCount; ++k) {
    SendPart(p, send, line, out.bytes + from, out.pauses[k].at - from);
    SimSleepUntilNs(SimNowNs() + out.pauses[k].ms * 1000000ull);
    from = out.pauses[k].at;
  }
  SendPart(p, send, line, out.bytes + from, out.len - from);
}

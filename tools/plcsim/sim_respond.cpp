// Answers the master with the line's timing: a character takes its start
// bit, data bits, parity bit and stop bits on the wire.
#include "sim_tool.h"

namespace {

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

}  // namespace

void SimPacerInit(SimPacer *p, const SimOptions *o) {
  // Bit times in halves, for one and a half stop bits.
  unsigned halfBits = 2 * (1 + o->dataBits + (o->parity ? 1 : 0)) + (o->stopBits == 0   ? 2
                                                                     : o->stopBits == 1 ? 3
                                                                                        : 4);
  p->byteNs = o->baud ? halfBits * 500000000ull / o->baud : 0;
  p->rxFreeAt = 0;
}

void SimRespond(Sim *sim, SimPacer *p, bool echo, const uint8_t *in, size_t n, SimSend send,
                void *line) {
  if (echo) {
    Send(send, line, in, n, p->byteNs);
    return;
  }
  uint64_t now = SimNowNs();
  if (p->byteNs) p->rxFreeAt = (p->rxFreeAt > now ? p->rxFreeAt : now) + n * p->byteNs;
  SimOutput out;
  out.len = 0;
  out.delayMs = 0;
  SimFeed(sim, in, n, &out);
  if (!out.len) return;
  if (p->byteNs) SimSleepUntilNs(p->rxFreeAt);
  if (out.delayMs) SimSleepUntilNs(SimNowNs() + out.delayMs * 1000000ull);
  Send(send, line, out.bytes, out.len, p->byteNs);
}

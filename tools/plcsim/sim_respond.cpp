// Answers the master with the line's timing: a character takes its start
// bit, data bits, parity bit and stop bits on the wire. With a latency, what
// the controller sends reaches the master as through a USB serial adapter:
// the adapter holds the bytes it receives until the next tick of its
// latency timer, or sends them at once when a packet's worth is waiting.
// Every wait ends when the simulator is told to stop: a reply 60 s late or
// a long frame at 110 baud must not hold up a quit.
#include "port/quiet_line.h"
#include "sim_tool.h"

namespace {

constexpr size_t kAdapterPacket = 62;  // bytes of data in one USB packet
// A frame may pause this long between bytes however fast the line: a
// loaded machine's pty, or a master that writes a frame in pieces.
constexpr uint64_t kGapLeastNs = 100000000;
constexpr unsigned kGapCharacters = 10;
// The echo goes back in pieces of at most this many bytes.
constexpr size_t kEchoChunk = 512;

// Bytes at the pace of byteNs a character; false when told to stop.
bool Send(SimSend send, void *line, const uint8_t *b, size_t n, uint64_t byteNs, unsigned *stalls) {
  if (!byteNs) {
    send(line, b, n);
    return true;
  }
  // The driver takes a quiet line for the end of an answer. A gap between
  // two bytes of one answer longer than a character and half that quiet is
  // counted: every gap that can end the driver's wait is seen.
  uint64_t quietNs = kQuietChars * byteNs;
  if (quietNs < kShortestQuietMs * 1000000ull) quietNs = kShortestQuietMs * 1000000ull;
  uint64_t stallNs = quietNs / 2;
  uint64_t next = SimNowNs(), sent = 0;
  for (size_t i = 0; i < n; ++i) {
    // The bytes behind a gap catch up at once: the gap counts once.
    uint64_t now = SimNowNs();
    if (i > 0 && now > sent + byteNs + stallNs) *stalls += 1;
    sent = now;
    next += byteNs;
    send(line, b + i, 1);
    if (!SimWaitUntilNs(next)) return false;
  }
  return true;
}

bool SendThroughAdapter(const SimPacer *p, SimSend send, void *line, const uint8_t *b, size_t n) {
  uint8_t held[kAdapterPacket];
  size_t count = 0;
  uint64_t at = SimNowNs(), tick = 0;
  for (size_t i = 0; i < n; ++i) {
    at += p->byteNs;  // when byte i is through the wire and in the adapter
    if (count && tick <= at) {
      if (!SimWaitUntilNs(tick)) return false;
      send(line, held, count);
      count = 0;
    }
    if (!count) tick = (at / p->latencyNs + 1) * p->latencyNs;
    held[count] = b[i];
    count += 1;
    if (count < kAdapterPacket) continue;
    if (!SimWaitUntilNs(at)) return false;
    send(line, held, count);
    count = 0;
  }
  if (!count) return true;
  if (!SimWaitUntilNs(tick)) return false;
  send(line, held, count);
  return true;
}

// Bytes as the line carries them: through the adapter when there is one,
// else at the line's pace, else in one piece.
bool SendPart(SimPacer *p, SimSend send, void *line, const uint8_t *b, size_t n) {
  if (n == 0) return true;
  if (p->latencyNs) return SendThroughAdapter(p, send, line, b, n);
  return Send(send, line, b, n, p->byteNs, &p->stalls);
}

// The controller's answer to what it just heard, with its delays.
void Answer(const SimOutput &out, SimPacer *p, SimSend send, void *line) {
  if (p->byteNs && !SimWaitUntilNs(p->rxFreeAt)) return;
  if (out.delayMs && !SimWaitUntilNs(SimNowNs() + out.delayMs * 1000000ull)) return;
  // Late frames split the answer: each part waits its pause.
  size_t from = 0;
  for (size_t k = 0; k < out.pauseCount; ++k) {
    if (!SendPart(p, send, line, out.bytes + from, out.pauses[k].at - from)) return;
    if (!SimWaitUntilNs(SimNowNs() + out.pauses[k].ms * 1000000ull)) return;
    from = out.pauses[k].at;
  }
  SendPart(p, send, line, out.bytes + from, out.len - from);
}

}  // namespace

void SimPacerInit(SimPacer *p, const SimOptions *o) {
  // Bit times in halves, for one and a half stop bits.
  unsigned halfBits = 2 * (1 + o->dataBits + (o->parity ? 1 : 0)) + 2 + o->stopBits;
  uint64_t byteNs = o->baud ? halfBits * 500000000ull / o->baud : 0;
  uint64_t gapNs = kGapCharacters * byteNs;
  if (gapNs < kGapLeastNs) gapNs = kGapLeastNs;
  *p = SimPacer{byteNs, 0, o->latencyMs * 1000000ull, gapNs, 0, 0};
}

void SimRespond(Sim *sim, SimPacer *p, bool echo, const uint8_t *in, size_t n, SimSend send,
                void *line) {
  uint64_t now = SimNowNs();
  // Quiet since the last byte was through the wire, or since the simulator
  // was last ready to listen: too long, and a frame heard in part is over.
  uint64_t since = p->rxFreeAt > p->heardAt ? p->rxFreeAt : p->heardAt;
  if (p->heardAt && now > since + p->gapNs) SimLineQuiet(sim);
  if (p->byteNs) p->rxFreeAt = (p->rxFreeAt > now ? p->rxFreeAt : now) + n * p->byteNs;
  // An echoing line (an RS-485 converter's) hands the master its own bytes
  // back as they pass, before the controller has heard them out, and may
  // lose or change one of them on the way.
  bool going = true;
  for (size_t from = 0; echo && going && from < n; from += kEchoChunk) {
    uint8_t echoed[kEchoChunk];
    size_t part = n - from < kEchoChunk ? n - from : kEchoChunk;
    going = Send(send, line, echoed, SimEcho(sim, in + from, part, echoed), p->byteNs, &p->stalls);
  }
  SimOutput out = {};
  SimFeed(sim, in, n, &out);
  if (going && out.len) Answer(out, p, send, line);
  SimCountStalls(sim, p->stalls);
  p->stalls = 0;
  p->heardAt = SimNowNs();
}

#include "sim_line.h"

#include <string.h>

#include "driver_api.h"
#include "quarne_control.h"

namespace {

// On a line with time a delay or a late frame holds the line idle for
// its milliseconds before the bytes that follow.
void HoldLine(WinsubMemDevice *dev, uint32_t ms) {
  uint64_t from = dev->rxFreeUs > dev->clockUs ? dev->rxFreeUs : dev->clockUs;
  dev->rxFreeUs = from + static_cast<uint64_t>(ms) * 1000;
}

void AnswerInTime(WinsubMemDevice *dev, const SimOutput &out) {
  HoldLine(dev, out.delayMs);
  size_t from = 0;
  for (size_t k = 0; k < out.pauseCount; ++k) {
    WinsubMemPush(dev, out.bytes + from, out.pauses[k].at - from);
    HoldLine(dev, out.pauses[k].ms);
    from = out.pauses[k].at;
  }
  WinsubMemPush(dev, out.bytes + from, out.len - from);
}

// The echo arrives byte by byte as the frame goes out, the answer behind it.
void Echo(WinsubMemDevice *dev, SimLine *line, const uint8_t *bytes, size_t n) {
  uint8_t echoed[WINSUB_QUEUE_SIZE];
  uint64_t answerFrom = dev->rxFreeUs;
  if (dev->paced) dev->rxFreeUs = dev->echoFromUs;
  WinsubMemPush(dev, echoed,
                SimEcho(line->sim, bytes, n < sizeof echoed ? n : sizeof echoed, echoed));
  if (dev->rxFreeUs < answerFrom) dev->rxFreeUs = answerFrom;
}

void Answer(WinsubMemDevice *dev, const uint8_t *bytes, size_t n, void *user) {
  SimLine *line = static_cast<SimLine *>(user);
  if (line->echo) Echo(dev, line, bytes, n);
  SimOutput out;
  out.len = 0;
  out.delayMs = 0;
  SimFeed(line->sim, bytes, n, &out);
  if (line->alter) line->alter(&out);
  if (dev->paced) {
    AnswerInTime(dev, out);
    return;
  }
  // A late reply, or the part of one behind a late frame, arrives only
  // after the driver's read has waited in vain.
  size_t now = out.delayMs ? 0 : out.pauseCount ? out.pauses[0].at : out.len;
  WinsubMemPush(dev, out.bytes, now);
  WinsubMemPushLater(dev, out.bytes + now, out.len - now);
}

}  // namespace

void SimLineOpen(SimLine *line) {
  WinsubReset();
  LogReset();
  memset(&line->context, 0, sizeof line->context);
  line->dev = WinsubAddMemoryDevice("COM3");
  line->sim = SimCreate();
  SimAddStation(line->sim, 1);
  line->dev->peer = Answer;
  line->dev->peerUser = line;
  line->alter = nullptr;
  line->echo = false;
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, "COM3");
  r.enabled = 1;
  r.replyTimeout = 5;
  r.settings = SerialSettings{19200, 8, 0, 0};
  Call(LUMISAR_OP_OPEN_PORT, &line->context, &r);
  LogReset();
}

void SimLinePace(SimLine *line, SerialSettings settings, uint32_t limit) {
  if (settings.baudRate == 0) return;
  Call(LUMISAR_OP_CLOSE_PORT, &line->context, nullptr);
  line->dev->paced = 1;
  line->dev->lineBaud = settings.baudRate;
  line->dev->lineParity = static_cast<BYTE>(settings.parity);
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, "COM3");
  r.enabled = 1;
  r.replyTimeout = limit;
  r.settings = settings;
  Call(LUMISAR_OP_OPEN_PORT, &line->context, &r);
  LogReset();
}

void SimLineClose(SimLine *line) {
  Call(LUMISAR_OP_CLOSE_PORT, &line->context, nullptr);
  SimDestroy(line->sim);
  WinsubReset();
}

unsigned SimEnquiries(const SimLine *line) { return SimGetStats(line->sim)->enquiries; }

int32_t Transfer(SimLine *line, uint32_t operation, IoRequest *io) {
  return Call(operation, &line->context, io);
}

int32_t ReadTag(SimLine *line, const char *text, uint32_t dataType, void *values) {
  IoRequest io = TagRequest(text, dataType, 1, values, false);
  return Transfer(line, LUMISAR_OP_SINGLE_READ, &io);
}

int32_t WriteTag(SimLine *line, const char *text, uint32_t dataType, void *values) {
  IoRequest io = TagRequest(text, dataType, 1, values, false);
  return Transfer(line, LUMISAR_OP_SINGLE_WRITE, &io);
}

int32_t ReadBlockTag(SimLine *line, const char *text, int32_t count, void *values) {
  IoRequest io = TagRequest(text, 0, count, values, true);
  return Transfer(line, LUMISAR_OP_BLOCK_READ, &io);
}

int32_t WriteBlockTag(SimLine *line, const char *text, int32_t count, void *values) {
  IoRequest io = TagRequest(text, 0, count, values, true);
  return Transfer(line, LUMISAR_OP_BLOCK_WRITE, &io);
}

// ---- every single-byte fault, one at a time ----------------------------

// The longest data frame, 256 data bytes, is read as 128 words and as 64
// 32-bit values, and written alike.
// clang-format off
const FaultedExchange kFaultedExchanges[] = {
    {"read word, type 0",       LUMISAR_OP_SINGLE_READ,  "0140000",  0, 1,   false},
    {"read word, type 1",       LUMISAR_OP_SINGLE_READ,  "0140000",  1, 1,   false},
    {"read word, type 2",       LUMISAR_OP_SINGLE_READ,  "0140000",  2, 1,   false},
    {"read 32-bit float",       LUMISAR_OP_SINGLE_READ,  "0140000F", 3, 1,   false},
    {"read 32-bit, type 4",     LUMISAR_OP_SINGLE_READ,  "0140000L", 4, 1,   false},
    {"read 32-bit, type 5",     LUMISAR_OP_SINGLE_READ,  "0140000L", 5, 1,   false},
    {"read bit",                LUMISAR_OP_SINGLE_READ,  "01400006", 6, 1,   false},
    {"read block, 1 word",      LUMISAR_OP_BLOCK_READ,   "0140000",  0, 1,   true},
    {"read block, 2 words",     LUMISAR_OP_BLOCK_READ,   "0140000",  0, 2,   true},
    {"read block, 64 words",    LUMISAR_OP_BLOCK_READ,   "0140000",  0, 64,  true},
    {"read block, 128 words",   LUMISAR_OP_BLOCK_READ,   "0140000",  0, 128, true},
    {"read block, 1 32-bit",    LUMISAR_OP_BLOCK_READ,   "0140000L", 0, 1,   true},
    {"read block, 2 32-bit",    LUMISAR_OP_BLOCK_READ,   "0140000L", 0, 2,   true},
    {"read block, 64 32-bit",   LUMISAR_OP_BLOCK_READ,   "0140000L", 0, 64,  true},
    {"write word",              LUMISAR_OP_SINGLE_WRITE, "0140000",  0, 1,   false},
    {"write 32-bit",            LUMISAR_OP_SINGLE_WRITE, "0140000L", 4, 1,   false},
    {"write float",             LUMISAR_OP_SINGLE_WRITE, "0140000F", 3, 1,   false},
    {"write bit",               LUMISAR_OP_SINGLE_WRITE, "01400003", 6, 1,   false},
    {"write block, 1 word",     LUMISAR_OP_BLOCK_WRITE,  "0140000",  0, 1,   true},
    {"write block, 128 words",  LUMISAR_OP_BLOCK_WRITE,  "0140000",  0, 128, true},
    {"write block, 64 32-bit",  LUMISAR_OP_BLOCK_WRITE,  "0140000L", 0, 64,  true},
};
// clang-format on
const int kFaultedExchangeCount = sizeof kFaultedExchanges / sizeof kFaultedExchanges[0];

const char *LineFaultName(int fault) {
  const char *const names[kLineFaults] = {"byte changed", "byte lost", "byte put in", "frame late"};
  return fault >= 0 && fault < kLineFaults ? names[fault] : "?";
}

namespace {

constexpr int kFirstWord = 040000;
constexpr int kWords = 128;
constexpr uint8_t kMarker = 0x77;  // what a read's buffer holds before it
constexpr size_t kLateMs = 50;     // the line's reply limit, 5 units

// The controller's words: every high byte ETX, so that the last data byte
// of every frame is a terminator and a frame with a byte put in can end
// as a data frame ends. Writes write other words, of the same kind.
uint16_t HeldWord(int k) { return static_cast<uint16_t>(0x0300 | ((0x41 + 0x35 * k) & 0xFF)); }
uint16_t WrittenWord(int k) { return static_cast<uint16_t>(0x0300 | ((0x92 + 0x0B * k) & 0xFF)); }

bool IsWrite(const FaultedExchange &x) {
  return x.operation == LUMISAR_OP_SINGLE_WRITE || x.operation == LUMISAR_OP_BLOCK_WRITE;
}

// A frame the controller sends: the simulator's kind, its length, and how
// many of its kind come before it in the exchange.
struct SentFrame {
  int kind;
  int length;
  int before;
};

// A bit write reads the word (the read's four frames), then writes it. On
// a line that echoes, each frame the driver sends comes back too.
int FramesSent(const FaultedExchange &x, int dataBytes, bool echo, SentFrame *frames) {
  bool write = IsWrite(x);
  bool bitWrite = write && x.dataType == 6;
  int n = 0;
  if (!write || bitWrite) {
    frames[n++] = {kFrameAcknowledge, 3, 0};
    frames[n++] = {kFrameHeaderAck, 1, 0};
    frames[n++] = {kFrameData, dataBytes + 3, 0};
    frames[n++] = {kFrameEot, 1, 0};
  }
  if (write) {
    int before = bitWrite ? 1 : 0;
    frames[n++] = {kFrameAcknowledge, 3, before};
    frames[n++] = {kFrameHeaderAck, 1, before};
    frames[n++] = {kFrameDataAck, 1, 0};
  }
  int echoes = 0;  // enquiry, header, ACK or data frame, EOT, for each dialogue
  for (int d = 0; echo && d < (bitWrite ? 2 : 1); ++d) {
    const int lengths[] = {3, 17, write && (d == 1 || !bitWrite) ? dataBytes + 3 : 1, 1};
    for (int length : lengths) frames[n++] = {kFrameEcho, length, echoes++};
  }
  return n;
}

// One exchange, its request and what it gives without a fault.
struct Trial {
  SimLine line;
  const FaultedExchange *x;
  IoRequest io;
  uint8_t values[512];
  uint8_t cleanValues[512];
  uint16_t cleanMemory[kWords * 2];
  uint8_t cleanWire[WINSUB_QUEUE_SIZE];
  size_t cleanLen;
};

// The line as it was before any exchange: nothing on its way, nothing
// sent, the controller waiting for an enquiry with its words as held.
void Restart(Trial *t) {
  WinsubMemDevice *dev = t->line.dev;
  dev->rxHead = dev->rxTail = 0;
  dev->rxOnTheWay = 0;
  dev->checksMissed = 0;
  dev->laterLen = 0;
  WinsubMemClearLog(dev);
  SimLineQuiet(t->line.sim);
  SimClearFaults(t->line.sim);
  memset(t->values, kMarker, sizeof t->values);
  // Only a write changes them.
  uint16_t *memory = SimMemory(t->line.sim, 1) + kFirstWord;
  if (memory[0] != HeldWord(0) || IsWrite(*t->x))
    for (int k = 0; k < kWords * 2; ++k) memory[k] = HeldWord(k);
  if (!IsWrite(*t->x)) return;
  uint16_t words[kWords * 2];
  for (int k = 0; k < kWords * 2; ++k) words[k] = WrittenWord(k);
  memcpy(t->values, words, sizeof words);
  // A single word goes in the buffer's second word; a bit write sets bit 3.
  if (!t->x->block) memcpy(t->values + 2, words, 2);
  if (t->x->dataType == 6) t->values[2] = 1;
}

int32_t Run(Trial *t) { return Transfer(&t->line, t->x->operation, &t->io); }

// The driver's bytes cut into attempts, each starting with the enquiry.
// Each must be the start of the dialogue it tries, and the dialogues (a
// bit write's read, then its write) follow one another, each ending in a
// whole attempt; returns the attempts beyond those of the clean exchange,
// or -1 when the bytes are no such attempts.
int FurtherAttempts(const Trial *t, bool done) {
  const uint8_t *wire = t->line.dev->tx;
  size_t len = t->line.dev->txLen;
  auto attemptEnd = [](const uint8_t *b, size_t from, size_t n) {
    size_t i = from + 1;
    while (i + 3 <= n && memcmp(b + i, b, 3) != 0) ++i;
    return i + 3 <= n ? i : n;
  };
  int attempts = 0, cleanAttempts = 0;
  size_t dialogue = 0;  // where in the clean bytes the dialogue tried begins
  for (size_t at = 0; at < len;) {
    size_t end = attemptEnd(wire, at, len);
    size_t dialogueEnd = attemptEnd(t->cleanWire, dialogue, t->cleanLen);
    if (dialogue >= t->cleanLen || end - at > dialogueEnd - dialogue) return -1;
    if (memcmp(wire + at, t->cleanWire + dialogue, end - at) != 0) return -1;
    if (end - at == dialogueEnd - dialogue) {
      dialogue = dialogueEnd;
      cleanAttempts++;
    }
    attempts++;
    at = end;
  }
  if (done && dialogue != t->cleanLen) return -1;
  return attempts - cleanAttempts;
}

void Judge(Trial *t, int32_t result, bool late, FaultTally *tally) {
  tally->tried++;
  int further = FurtherAttempts(t, result == LUMISAR_DONE);
  if (further < 0) tally->offDialogue++;
  if (result != LUMISAR_DONE) {
    tally->givenUp++;
    return;
  }
  const uint16_t *memory = SimMemory(t->line.sim, 1) + kFirstWord;
  bool right = memcmp(t->values, t->cleanValues, sizeof t->values) == 0 &&
               memcmp(memory, t->cleanMemory, sizeof t->cleanMemory) == 0;
  if (!right) {
    tally->wrong++;
  } else if (further == 0) {
    tally->atOnce++;
  } else if (further > (late ? 2 : 1)) {
    tally->overspent++;
  } else if (further > 0) {
    tally->oneMore++;
  }
}

// How a line delivers what trails a frame: at once; a moment after the
// driver first looked for it; only as the driver reads.
const int kTrailings[] = {0, 1, WINSUB_TRAILING_READS};

// One fault, exactly placed, in the `before`-th next frame of its kind. A
// changed or lost byte leaves nothing trailing the replies, so every line
// delivers it alike; a byte put in, or a late frame, trails, and is tried
// on every line.
void Try(Trial *t, const SentFrame &f, int how, size_t at, uint8_t value, FaultTally *tally) {
  bool trails = how == kSpoilInsert || how == kSpoilLate;
  for (int trailing : kTrailings) {
    if (trailing && !trails) break;
    t->line.dev->trailing = trailing;
    Restart(t);
    SimSetSpoilAt(t->line.sim, f.kind, how, at, value);
    SimDelaySpoil(t->line.sim, f.kind, f.before);
    unsigned spoiled = SimGetStats(t->line.sim)->spoiled;
    Judge(t, Run(t), how == kSpoilLate, tally);
    if (SimGetStats(t->line.sim)->spoiled == spoiled) tally->missed++;
  }
}

// Opens the line and runs the exchange once without a fault: what it
// gives is what every run with one must give. False when even that fails.
bool Prepare(Trial *t, const FaultedExchange &x, bool echo) {
  SimLineOpen(&t->line);
  t->line.echo = echo;
  t->x = &x;
  t->io = TagRequest(x.text, x.dataType, x.count, t->values, x.block);
  Restart(t);
  if (Run(t) != LUMISAR_DONE) return false;
  memcpy(t->cleanValues, t->values, sizeof t->values);
  memcpy(t->cleanMemory, SimMemory(t->line.sim, 1) + kFirstWord, sizeof t->cleanMemory);
  memcpy(t->cleanWire, t->line.dev->tx, t->line.dev->txLen);
  t->cleanLen = t->line.dev->txLen;
  // A million exchanges' trace lines would take most of the time, and
  // the verdicts do not read them; nor may they hang on a busy machine's
  // pauses, so only the line's own clock runs.
  QuarneSetCountOnly(1);
  WinsubLineClockOnly(1);
  return true;
}

void Finish(Trial *t) {
  QuarneSetCountOnly(0);
  SimLineClose(&t->line);
}

}  // namespace

void TallyFaults(const FaultedExchange &exchange, FaultTally tally[kLineFaults], bool echo) {
  static Trial t;
  memset(tally, 0, sizeof(FaultTally) * kLineFaults);
  if (Prepare(&t, exchange, echo)) {
    int dataBytes = exchange.count * static_cast<int>(t.io.address.width / 8);
    SentFrame frames[16];
    int n = FramesSent(exchange, dataBytes, echo, frames);
    for (int i = 0; i < n; ++i) {
      const SentFrame &f = frames[i];
      for (int at = 0; at <= f.length; ++at) {
        for (int v = 0; v < 256; ++v) {
          if (at < f.length && v > 0) Try(&t, f, kSpoilChange, at, v, &tally[kLineChanged]);
          if (SimSpoilFits(f.kind, kSpoilInsert))
            Try(&t, f, kSpoilInsert, at, v, &tally[kLineInserted]);
        }
        if (at < f.length) Try(&t, f, kSpoilLose, at, 0, &tally[kLineLost]);
      }
      if (SimSpoilFits(f.kind, kSpoilLate)) Try(&t, f, kSpoilLate, kLateMs, 0, &tally[kLineLate]);
    }
  } else {
    // An exchange that fails without a fault tries nothing and says so.
    tally[kLineChanged].givenUp++;
  }
  Finish(&t);
}

void PrintFaultTallyHeader(FILE *out) {
  fprintf(out,
          "| exchange | fault | cases tried | done at once | done after one further attempt "
          "(two when late) | refused or failed | wrong values |\n|---|---|---|---|---|---|---|\n");
}

void PrintFaultTally(FILE *out, const FaultedExchange &exchange,
                     const FaultTally tally[kLineFaults]) {
  for (int f = 0; f < kLineFaults; ++f) {
    const FaultTally &c = tally[f];
    fprintf(out, "| %s | %s | %u | %u | %u | %u | %u |", exchange.name, LineFaultName(f), c.tried,
            c.atOnce, c.oneMore, c.givenUp, c.wrong);
    // What no row may hold, named where it happens.
    if (c.overspent) fprintf(out, " %u cost more attempts", c.overspent);
    if (c.offDialogue) fprintf(out, " %u off the dialogue", c.offDialogue);
    if (c.missed) fprintf(out, " %u never struck", c.missed);
    fprintf(out, "\n");
  }
}

namespace {

constexpr uint8_t kStx = 0x02;

// The two changes the next data frame gets on its way.
struct PairChange {
  bool armed;
  int at[2];
  uint8_t by[2];
} pairChange;

// The header's ACK and the data frame come as one answer.
void ChangeTwoBytes(SimOutput *out) {
  if (!pairChange.armed || out->len != 1 + kWordFrameLength || out->bytes[1] != kStx) return;
  for (int k = 0; k < 2; ++k) out->bytes[1 + pairChange.at[k]] ^= pairChange.by[k];
  pairChange.armed = false;
}

}  // namespace

void TallyChangedPairs(FaultTally tally[kWordFrameLength][kWordFrameLength]) {
  static Trial t;
  memset(tally, 0, sizeof(FaultTally) * kWordFrameLength * kWordFrameLength);
  if (Prepare(&t, kFaultedExchanges[0], false)) {
    t.line.alter = ChangeTwoBytes;
    for (int i = 0; i < kWordFrameLength; ++i) {
      for (int j = i + 1; j < kWordFrameLength; ++j) {
        for (int a = 1; a < 256; ++a) {
          for (int b = 1; b < 256; ++b) {
            Restart(&t);
            pairChange = {true, {i, j}, {static_cast<uint8_t>(a), static_cast<uint8_t>(b)}};
            Judge(&t, Run(&t), false, &tally[i][j]);
          }
        }
      }
    }
  }
  Finish(&t);
}

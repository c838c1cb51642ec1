// Reads and writes against the controller simulator: the dialogue, the six
// attempts, refusals on the fifth and sixth, every diagnostic line, and
// where values land in the host's buffer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "support/driver_api.h"
#include "support/sim_line.h"

namespace {

constexpr int kEvery = -1;

const char kBadLrc[] = "ORVEN> SingleRead() Bad LRC in Data msg";
const char kBadStx[] = "ORVEN> SingleRead() Bad STX in Data msg";
const char kNoEot[] = "ORVEN> SingleRead() No EOT after ACK";
const char kBadEot[] = "ORVEN> SingleRead() Bad EOT after ACK";
const char kBadEtx[] = "ORVEN> SingleRead() Bad ETX in Data msg";
const char kReadBadAck[] = "ORVEN> SingleRead() Bad ACK received";
const char kReadBadAcknowledge[] = "ORVEN> SingleRead() Bad Acknowledge msg received";
const char kWriteBadAcknowledge[] = "ORVEN> SingleWrite() Bad Acknowledge msg received";
const char kBlockBadAcknowledge[] = "ORVEN> SingleWrite() Bad Acknowledge after Enquiry";
const char kNoAckInAcknowledge[] = "ORVEN> SingleWrite() No ACK in Acknowledge";
const char kBadHeaderAck[] = "ORVEN> SingleWrite() Bad ACK after Header";
const char kBadDataAck[] = "ORVEN> SingleWrite() Bad ACK after Data";
const char kEchoSetAside[] = "ORVEN> RecvStr() Line echoes: echo set aside";

enum Op { kRead, kBlockRead, kWrite, kBlockWrite };

// The instant line (baud 0), and lines with time: at 300 and 1,200 baud
// four characters outlast the 10 ms floor of a quiet interval, and parity
// and stop bits lengthen a character (1.5 stop bits the substitute takes
// with any data bits). Each with a reply time limit in units of 10 ms; at
// 300 baud an enquiry and its acknowledge alone take 200 ms.
struct Line {
  SerialSettings settings;
  uint32_t limit;
};
const Line kLines[] = {{{0, 8, ONESTOPBIT, NOPARITY}, 5},
                       {{300, 8, ONESTOPBIT, NOPARITY}, 20},
                       {{1200, 8, TWOSTOPBITS, EVENPARITY}, 5},
                       {{1200, 8, ONE5STOPBITS, EVENPARITY}, 5}};

// The exchange on word V40000 of PLC 01, with the host's value buffer, or
// one holding 0x1234 to write.
int32_t RunOp(SimLine *line, Op op, uint8_t *values = nullptr) {
  uint8_t own[256] = {0, 0, 0x34, 0x12};
  if (!values) values = own;
  switch (op) {
    case kRead:
      return ReadTag(line, "0140000", 0, values);
    case kBlockRead:
      return ReadBlockTag(line, "0140000", 4, values);
    case kWrite:
      return WriteTag(line, "0140000", 0, values);
    default:
      return WriteBlockTag(line, "0140000", 4, values);
  }
}

struct Row {
  Op op;
  int fault;
  int count;
  int32_t result;
  unsigned enquiries;
  const char *line;  // the diagnostic expected, or null for none
  int lines;
};

// The transactions' diagnostics: every line the driver logs that is not a
// trace, nor the note of an echo set aside.
int DiagnosticLines() {
  return LogCount() - LogLinesStarting("ORVEN> SendStr() Tx ") -
         LogLinesStarting("ORVEN> RecvStr() Rx ") - LogLinesEqual(kEchoSetAside);
}

// A result as the host's header names it, for a failure's message.
std::string Named(int32_t result) {
  const char *const names[] = {"LUMISAR_DONE", "LUMISAR_REFUSED", "LUMISAR_FAILED"};
  if (result < LUMISAR_DONE || result > LUMISAR_FAILED) return std::to_string(result);
  return names[result];
}

}  // namespace

TEST(Transactions, FailureTables) {
  const Row rows[] = {
      // exchange, fault, times it strikes, result, enquiries, diagnostic, diagnostic lines
      // A silent controller: six enquiries, traces only.
      {kRead, kFaultNoAnswer, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      {kBlockRead, kFaultNoAnswer, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      {kWrite, kFaultNoAnswer, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      {kBlockWrite, kFaultNoAnswer, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      // Acknowledge without ACK: a refusal, final on the fifth attempt.
      {kRead, kFaultNoAck, kEvery, LUMISAR_REFUSED, 5, nullptr, 0},
      {kBlockRead, kFaultNoAck, kEvery, LUMISAR_REFUSED, 5, kReadBadAck, 5},
      {kWrite, kFaultNoAck, kEvery, LUMISAR_REFUSED, 5, nullptr, 0},
      {kBlockWrite, kFaultNoAck, kEvery, LUMISAR_REFUSED, 5, kNoAckInAcknowledge, 5},
      // Another station answering is never a refusal.
      {kRead, kFaultWrongStation, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      {kBlockRead, kFaultWrongStation, kEvery, LUMISAR_FAILED, 6, kReadBadAcknowledge, 6},
      {kWrite, kFaultWrongStation, kEvery, LUMISAR_FAILED, 6, kWriteBadAcknowledge, 6},
      {kBlockWrite, kFaultWrongStation, kEvery, LUMISAR_FAILED, 6, kBlockBadAcknowledge, 6},
      // The header refused: a refusal for reads, a retry for writes.
      {kRead, kFaultHeaderRefused, kEvery, LUMISAR_REFUSED, 5, nullptr, 0},
      {kBlockRead, kFaultHeaderRefused, kEvery, LUMISAR_REFUSED, 5, kReadBadAck, 5},
      {kWrite, kFaultHeaderRefused, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      {kBlockWrite, kFaultHeaderRefused, kEvery, LUMISAR_FAILED, 6, kBadHeaderAck, 6},
      {kWrite, kFaultDataRefused, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      {kBlockWrite, kFaultDataRefused, kEvery, LUMISAR_FAILED, 6, kBadDataAck, 6},
      // Data frames that fail their checks.
      {kRead, kFaultBadLrc, kEvery, LUMISAR_FAILED, 6, kBadLrc, 6},
      {kBlockRead, kFaultBadLrc, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      {kRead, kFaultNoStx, 1, LUMISAR_DONE, 2, kBadStx, 1},
      {kBlockRead, kFaultNoStx, 1, LUMISAR_DONE, 2, kBadStx, 1},
      {kRead, kFaultNoStx, kEvery, LUMISAR_REFUSED, 5, kBadStx, 5},
      // A frame must end as a data frame ends: the XOR alone cannot vouch for it.
      {kRead, kFaultBadEtx, kEvery, LUMISAR_FAILED, 6, kBadEtx, 6},
      {kBlockRead, kFaultBadEtx, 1, LUMISAR_DONE, 2, kBadEtx, 1},
      {kRead, kFaultShortReply, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
      {kBlockRead, kFaultShortReply, 2, LUMISAR_DONE, 3, nullptr, 0},
      // The end of a read.
      {kRead, kFaultNoEot, kEvery, LUMISAR_FAILED, 6, kNoEot, 6},
      {kBlockRead, kFaultNoEot, kEvery, LUMISAR_FAILED, 6, kNoEot, 6},
      {kRead, kFaultBadEot, kEvery, LUMISAR_REFUSED, 5, kBadEot, 5},
      {kBlockRead, kFaultBadEot, 3, LUMISAR_DONE, 4, kBadEot, 3},
      // Late and noisy replies cost an attempt each.
      {kRead, kFaultDelay, 2, LUMISAR_DONE, 3, nullptr, 0},
      {kWrite, kFaultNoise, 1, LUMISAR_DONE, 2, kWriteBadAcknowledge, 1},
      {kRead, kFaultNoise, 1, LUMISAR_DONE, 2, nullptr, 0},
      {kBlockWrite, kFaultNoAck, 4, LUMISAR_DONE, 5, kNoAckInAcknowledge, 4},
      // The data taken, the acknowledge lost: the write is sent again.
      {kWrite, kFaultAckLost, 1, LUMISAR_DONE, 2, nullptr, 0},
      {kBlockWrite, kFaultAckLost, kEvery, LUMISAR_FAILED, 6, nullptr, 0},
  };
  // Each row again on a line that echoes: the same, the echo noted once.
  const int count = sizeof rows / sizeof rows[0];
  for (int index = 0; index < 2 * count; ++index) {
    const Row &row = rows[index % count];
    SimLine line;
    SimLineOpen(&line);
    line.echo = index >= count;
    SimSetFault(line.sim, row.fault, row.count);
    SCOPED_TRACE(testing::Message() << "row " << index << " (" << SimFaultName(row.fault) << ")");
    EXPECT_EQ(Named(RunOp(&line, row.op)), Named(row.result));
    EXPECT_EQ(LogLinesEqual(kEchoSetAside), line.echo ? 1 : 0);
    EXPECT_EQ(SimEnquiries(&line), row.enquiries);
    EXPECT_EQ(DiagnosticLines(), row.lines);
    if (row.line) {
      EXPECT_EQ(LogLinesEqual(row.line), row.lines);
    }
    for (int i = 0; i < LogCount(); ++i) EXPECT_EQ(LogLevel(i), 8);
    SimLineClose(&line);
  }
}

// A reply spoiled as a line spoils one (noise before or inside a frame, a
// byte lost, changed or added, a frame late) costs one more attempt, two
// when late, and never the operation or a wrong value: every frame of both
// dialogues, every way of spoiling it, every kind of exchange, without echo
// and with it (echo 1); the echo of the driver's frame echo - 1 as well.
TEST(Transactions, ASpoiledReplyCostsOneAttempt) {
  for (const Line &l : kLines) {
    for (int frame = 0; frame < kFrameKinds; ++frame) {
      for (int how = kSpoilNone + 1; how < kSpoilKinds; ++how) {
        if (!SimSpoilFits(frame, how)) continue;
        int first = frame == kFrameEcho ? 1 : 0, last = frame == kFrameEcho ? 4 : 1;
        for (int k = 4 * first; k < 4 * (last + 1); ++k) {
          Op op = static_cast<Op>(k % 4);
          int echo = k / 4;
          SimLine line;
          SimLineOpen(&line);
          SimLinePace(&line, l.settings, l.limit);
          line.echo = echo != 0;
          uint16_t *memory = SimMemory(line.sim, 1);
          for (int i = 0; i < 8; ++i) memory[040000 + i] = 0x5A5A;
          SimSetSpoil(line.sim, frame, how, how == kSpoilLate ? 30 : 2, 1);
          SimDelaySpoil(line.sim, kFrameEcho, echo - 1);
          SCOPED_TRACE(testing::Message()
                       << SimFrameName(frame) << " " << SimSpoilName(how) << ", exchange " << op
                       << ", echo " << echo << ", " << l.settings.baudRate << " baud");
          // 0x1203 to write, as a single value and as a block's first word.
          uint8_t values[256] = {0x03, 0x12, 0x03, 0x12};
          EXPECT_EQ(RunOp(&line, op, values), LUMISAR_DONE);
          EXPECT_LE(SimEnquiries(&line), how == kSpoilLate ? 3u : 2u);
          // A read stored the controller's word, a write left its own there.
          uint16_t stored;
          memcpy(&stored, values + (op == kRead ? 2 : 0), 2);
          bool write = op == kWrite || op == kBlockWrite;
          EXPECT_EQ(write ? memory[040000] : stored, write ? 0x1203 : 0x5A5A);
          bool hidden = echo == 4 || (echo == 3 && !write && how == kSpoilLose);
          EXPECT_TRUE(frame != kFrameEcho || SimEnquiries(&line) == (hidden ? 1u : 2u));
          SimLineClose(&line);
        }
      }
    }
  }
}

namespace {
// Each acknowledge pauses 150 ms after its first and its second byte.
void TrickleAcknowledge(SimOutput *out) {
  if (out->len != 3 || out->bytes[0] != 'N') return;
  out->pauses[0] = SimPause{1, 150};
  out->pauses[1] = SimPause{2, 150};
  out->pauseCount = 2;
}
}  // namespace

// The bound that starts at the send holds for the echo and the answer: at
// 300 baud and a 200 ms limit this acknowledge ends 50 ms past it.
TEST(Transactions, TheEchoCountsInTheReplysBound) {
  for (bool echo : {false, true}) {
    SimLine line;
    SimLineOpen(&line);
    SimLinePace(&line, kLines[1].settings, kLines[1].limit);
    line.echo = echo;
    line.alter = TrickleAcknowledge;
    EXPECT_EQ(RunOp(&line, kRead), LUMISAR_FAILED) << (echo ? "echoing" : "no echo");
    SimLineClose(&line);
  }
}

// After a reply it did not expect, the driver waits for a silence of four
// character times, never less than 10 ms, before it tries again: shorter,
// and the rest of a reply still on a real line's way is read as the next.
TEST(Transactions, ASpoiledReplyIsFollowedByAQuietInterval) {
  SimLine line;
  SimLineOpen(&line);
  SimSetSpoil(line.sim, kFrameData, kSpoilChange, 1, 1);
  EXPECT_EQ(RunOp(&line, kRead), LUMISAR_DONE);
  EXPECT_GE(line.dev->waitedMs, 10u);
  SimLineClose(&line);
}

namespace {

// One byte put in after the STX of every data frame that ends in `check`
// (ETX, or ETB, which the driver takes as well), chosen so that the frame
// read ends in ETX and checks with that terminator for its check byte:
// only what follows the frame gives it away.
void PutAByteAfterStx(SimOutput *out, uint8_t check) {
  if (out->len != 6 || out->bytes[0] != 0x06 || out->bytes[1] != 0x02) return;
  memmove(out->bytes + 3, out->bytes + 2, 4);
  out->bytes[5] = check;
  out->bytes[2] = static_cast<uint8_t>(out->bytes[3] ^ check);
  out->len = 7;
}
void CheckByteEtx(SimOutput *out) { PutAByteAfterStx(out, 0x03); }
void CheckByteEtb(SimOutput *out) { PutAByteAfterStx(out, 0x17); }

}  // namespace

// On a line with time the true check byte is still on its way when the
// frame has been read: the driver must wait for it.
TEST(Transactions, AFrameWithBytesBehindItIsNotTaken) {
  for (const Line &l : kLines) {
    for (auto alter : {CheckByteEtx, CheckByteEtb}) {
      SimLine line;
      SimLineOpen(&line);
      SimLinePace(&line, l.settings, l.limit);
      line.alter = alter;
      SimMemory(line.sim, 1)[040000] = 0x0350;  // data bytes 50 03: ETX where the check byte was
      uint16_t w[2] = {0, 0x5555};
      EXPECT_EQ(ReadTag(&line, "0140000", 0, w), LUMISAR_FAILED) << l.settings.baudRate << " baud";
      EXPECT_EQ(w[1], 0x5555);
      EXPECT_EQ(LogLinesEqual("ORVEN> SingleRead() Bytes after Data msg"), 6);
      SimLineClose(&line);
    }
  }
  // Nor is a frame on a line that cannot tell what follows it.
  SimLine line;
  SimLineOpen(&line);
  line.dev->failClearError = 1;
  uint16_t w[2] = {0, 0x5555};
  EXPECT_EQ(ReadTag(&line, "0140000", 0, w), LUMISAR_FAILED);
  EXPECT_EQ(w[1], 0x5555);
  EXPECT_EQ(LogLinesEqual("ORVEN> SingleRead() Bytes after Data msg"), 6);
  SimLineClose(&line);
}

// Ten thousand reads on an instant line whose every data frame carries one
// byte put in at a random place: none ends done with a wrong value. Words
// 0x0307 and 0x1713 check to EOT, where a frame one byte short of its end
// can end in ETX, check, and be followed by EOT.
TEST(Transactions, BytesPutIntoEveryDataFrameNeverGiveAWrongValue) {
  const uint16_t words[] = {0x0307, 0x1713, 0x0350, 0x0303, 0x0317, 0x5000, 0x0402, 0x1703};
  SimLine line;
  SimLineOpen(&line);
  memcpy(SimMemory(line.sim, 1) + 040000, words, sizeof words);
  SimSetSpoil(line.sim, kFrameData, kSpoilInsert, 0, kEvery);
  int wrong = 0;
  for (int i = 0; i < 10000; ++i) {
    char text[8];
    snprintf(text, sizeof text, "01%05o", 040000 + i % 8);
    uint16_t w[2] = {0, 0x5555};
    if (ReadTag(&line, text, 0, w) == LUMISAR_DONE) wrong += w[1] != words[i % 8];
  }
  EXPECT_EQ(wrong, 0);
  SimLineClose(&line);
}

// The simulator's faults that change a reply show in the driver's trace of
// it: a fault that fired without effect would pass the table above.
TEST(Transactions, FaultsShowInTheRepliesTraced) {
  const struct {
    int fault;
    const char *trace;
  } rows[] = {
      {kFaultBadEtx, "ORVEN> RecvStr() Rx 02 00 00 13 00"},
      {kFaultBadLrc, "ORVEN> RecvStr() Rx 02 00 00 03 5A"},
      {kFaultNoStx, "ORVEN> RecvStr() Rx 12 00 00 03 00"},
      {kFaultWrongStation, "ORVEN> RecvStr() Rx 4E 22 06"},
      {kFaultNoise, "ORVEN> RecvStr() Rx FF 00 4E"},
  };
  for (const auto &row : rows) {
    SimLine line;
    SimLineOpen(&line);
    SimSetFault(line.sim, row.fault, 1);
    RunOp(&line, kRead);
    EXPECT_EQ(LogLinesStarting(row.trace), 1) << SimFaultName(row.fault);
    SimLineClose(&line);
  }
}

// The in-memory line keeps the controller's speed and parity: a channel
// opened with others is heard as noise, and nothing answers.
TEST(Transactions, ALineAtOtherSettingsHearsOnlyNoise) {
  const struct {
    uint16_t baud, parity;
    int32_t result;
  } rows[] = {{19200, 0, 0}, {9600, 0, 2}, {19200, 1, 2}, {19200, 2, 2}};
  for (const auto &row : rows) {
    SimLine line;
    SimLineOpen(&line);
    line.dev->lineBaud = 19200;
    line.dev->lineParity = NOPARITY;
    OpenRequest r = {"COM3", 1, 5, SerialSettings{row.baud, 8, 0, row.parity}};
    Call(LUMISAR_OP_CLOSE_PORT, &line.context, nullptr);
    EXPECT_EQ(Call(LUMISAR_OP_OPEN_PORT, &line.context, &r), LUMISAR_DONE);
    uint16_t v[2];
    EXPECT_EQ(ReadTag(&line, "0140000", 0, v), row.result)
        << row.baud << " baud, parity " << row.parity;
    SimLineClose(&line);
  }
}

TEST(Transactions, ARefusalSendsNoEot) {
  SimLine line;
  SimLineOpen(&line);
  SimSetFault(line.sim, kFaultNoAck, kEvery);
  EXPECT_EQ(RunOp(&line, kRead), 1);
  // Five enquiries and nothing else went out.
  EXPECT_EQ(line.dev->txLen, 15);
  SimLineClose(&line);
}

// A master may send a header and what follows it in one piece: the
// simulator reads the header's direction before the data move up.
TEST(Transactions, TheSimulatorTakesAWriteHeaderWithItsDataBehindIt) {
  uint8_t in[] = {'N', 0x21, 0x05, 0x01, '0', '1',  '8', '1',  '0',  '0',  '0',  '1', '0',
                  '0', '0',  '2',  '0',  '0', 0x17, 0,   0x02, 0x34, 0x12, 0x03, 0x26};
  for (int i = 4; i < 18; ++i) in[19] ^= in[i];
  Sim *sim = SimCreate();
  SimAddStation(sim, 1);
  SimOutput out = {};
  SimFeed(sim, in, sizeof in, &out);
  EXPECT_EQ(SimMemory(sim, 1)[0], 0x1234);
  SimDestroy(sim);
}

TEST(Transactions, FailedReadsLeaveTheBufferAlone) {
  const int faults[] = {kFaultNoAnswer, kFaultBadLrc, kFaultNoEot, kFaultBadEot, kFaultNoStx};
  for (int fault : faults) {
    SimLine line;
    SimLineOpen(&line);
    SimMemory(line.sim, 1)[040000] = 0xBEEF;
    SimSetFault(line.sim, fault, kEvery);
    uint8_t values[256];
    memset(values, 0x77, sizeof values);
    EXPECT_TRUE(ReadTag(&line, "0140000", 0, values) != 0);
    EXPECT_TRUE(ReadTag(&line, "0140000L", 4, values) != 0);
    EXPECT_TRUE(ReadBlockTag(&line, "0140000", 128, values) != 0);
    EXPECT_THAT(values, testing::Each(0x77));
    SimLineClose(&line);
  }
}

TEST(Transactions, RoundTripsOfEveryType) {
  SimLine line;
  SimLineOpen(&line);
  // Values with the bytes a line discipline would eat or rewrite.
  const uint16_t words[] = {0x0000, 0x0A0D, 0x1113, 0xFFFF, 0x00FF};
  for (uint16_t w : words) {
    uint16_t out[2] = {0xAAAA, w};
    EXPECT_EQ(WriteTag(&line, "0140000", 1, out), 0);
    EXPECT_EQ(SimMemory(line.sim, 1)[040000], w);
    uint16_t in[2] = {0x5555, 0};
    EXPECT_EQ(ReadTag(&line, "0140000", 2, in), 0);
    EXPECT_EQ(in[1], w);
    EXPECT_EQ(in[0], 0x5555);  // the first word is the host's
  }
  const uint32_t longs[] = {0x12345678, 0xFFFFFFFF, 0x0D0A1311, 0};
  for (uint32_t v : longs) {
    uint32_t out = v, in = 0;
    EXPECT_EQ(WriteTag(&line, "0140002L", 4, &out), 0);
    EXPECT_EQ(SimMemory(line.sim, 1)[040002], v & 0xFFFF);
    EXPECT_EQ(SimMemory(line.sim, 1)[040003], v >> 16);
    EXPECT_EQ(ReadTag(&line, "0140002l", 5, &in), 0);
    EXPECT_EQ(in, v);
  }
  // Floats travel as their four bytes, NaN payloads included.
  const uint32_t floatBits[] = {0x3F800000, 0xC2F6E979, 0x7FC00001, 0x00000001};
  for (uint32_t bits : floatBits) {
    uint32_t out = bits, in = 0;
    EXPECT_EQ(WriteTag(&line, "0177776F", 3, &out), 0);
    EXPECT_EQ(ReadTag(&line, "0177776F", 3, &in), 0);
    EXPECT_EQ(in, bits);
  }
  SimLineClose(&line);
}

namespace {

void BlocksOfEveryLimitOn(const Line &l) {
  SCOPED_TRACE(testing::Message() << l.settings.baudRate << " baud, stop bits code "
                                  << l.settings.stopBits);
  SimLine line;
  SimLineOpen(&line);
  SimLinePace(&line, l.settings, l.limit);
  uint16_t words[128], back[128];
  for (int i = 0; i < 128; ++i) words[i] = static_cast<uint16_t>(0x1100 + i * 3);
  EXPECT_EQ(WriteBlockTag(&line, "0100100", 128, words), 0);
  memset(back, 0, sizeof back);
  EXPECT_EQ(ReadBlockTag(&line, "0100100", 128, back), 0);
  EXPECT_THAT(back, testing::ElementsAreArray(words));
  EXPECT_EQ(SimMemory(line.sim, 1)[0100 + 127], words[127]);
  uint32_t longs[64], longBack[64];
  for (int i = 0; i < 64; ++i) longs[i] = 0x01020304u * static_cast<uint32_t>(i + 1);
  EXPECT_EQ(WriteBlockTag(&line, "0100400L", 64, longs), 0);
  memset(longBack, 0, sizeof longBack);
  EXPECT_EQ(ReadBlockTag(&line, "0100400l", 64, longBack), 0);
  EXPECT_THAT(longBack, testing::ElementsAreArray(longs));
  SimLineClose(&line);
}

}  // namespace

// On a line with time a long block's answer comes a wire time after it was
// sent, well beyond the 50 ms limit: the driver must count parity and stop
// bits into that time.
TEST(Transactions, BlocksOfEveryLimit) {
  for (const Line &l : kLines) BlocksOfEveryLimitOn(l);
}

TEST(Transactions, BitReadsAndWrites) {
  SimLine line;
  SimLineOpen(&line);
  uint16_t *memory = SimMemory(line.sim, 1);
  memory[040000] = 0x8000;
  uint16_t v[2] = {0x1234, 9};
  EXPECT_EQ(ReadTag(&line, "0140000F", 6, v), 0);
  EXPECT_EQ(v[1], 1);
  EXPECT_EQ(v[0], 0x1234);
  EXPECT_EQ(ReadTag(&line, "01400000", 6, v), 0);
  EXPECT_EQ(v[1], 0);

  memory[040000] = 0x0100;
  IoRequest io = TagRequest("01400003", 6, 1, v, false);
  v[1] = 1;
  EXPECT_EQ(Transfer(&line, LUMISAR_OP_SINGLE_WRITE, &io), 0);
  EXPECT_EQ(memory[040000], 0x0108);
  EXPECT_EQ(v[1], 1);
  EXPECT_EQ(io.address.bitNumber, 3);

  memory[040000] = 0xFFFF;
  v[1] = 0;
  EXPECT_EQ(WriteTag(&line, "0140000F", 6, v), 0);
  EXPECT_EQ(memory[040000], 0x7FFF);
  EXPECT_EQ(v[1], 0);
  // Any nonzero value sets the bit.
  v[1] = 0x8000;
  EXPECT_EQ(WriteTag(&line, "01400000", 6, v), 0);
  EXPECT_EQ(memory[040000], 0x7FFF);
  EXPECT_EQ(v[1], 0x8000);
  SimLineClose(&line);
}

TEST(Transactions, BitWriteWhoseReadFailsSendsNoWrite) {
  SimLine line;
  SimLineOpen(&line);
  SimMemory(line.sim, 1)[040000] = 0x00F0;
  SimSetFault(line.sim, kFaultNoAnswer, kEvery);
  uint16_t v[2] = {0, 1};
  IoRequest io = TagRequest("01400003", 6, 1, v, false);
  EXPECT_EQ(Transfer(&line, LUMISAR_OP_SINGLE_WRITE, &io), 2);
  EXPECT_EQ(SimEnquiries(&line), 6);
  EXPECT_EQ(io.address.bitNumber, 3);
  EXPECT_EQ(v[1], 1);
  EXPECT_EQ(SimGetStats(line.sim)->writes, 0);
  // A refused read is handed on as 1, again without a write.
  SimSetFault(line.sim, kFaultNoAnswer, 0);
  SimSetFault(line.sim, kFaultNoAck, kEvery);
  EXPECT_EQ(Transfer(&line, LUMISAR_OP_SINGLE_WRITE, &io), 1);
  EXPECT_EQ(SimGetStats(line.sim)->writes, 0);
  // The write half refused on its fifth attempt: the caller's bit is back.
  SimClearFaults(line.sim);
  SimSetFault(line.sim, kFaultNoAck, kEvery);
  SimSetFault(line.sim, kFaultNoAck, 0);
  SimSetFault(line.sim, kFaultHeaderRefused, kEvery);
  EXPECT_EQ(Transfer(&line, LUMISAR_OP_SINGLE_WRITE, &io), 1);
  EXPECT_EQ(v[1], 1);
  EXPECT_EQ(SimMemory(line.sim, 1)[040000], 0x00F0);
  SimLineClose(&line);
}

TEST(Transactions, RequestsTheFramesCannotCarryAreRefusedBeforeAnyTraffic) {
  SimLine line;
  SimLineOpen(&line);
  uint8_t values[600] = {};
  struct Case {
    uint32_t op;
    const char *text;
    int32_t count;
    uint32_t width;
    uint32_t type;
  } cases[] = {
      {LUMISAR_OP_BLOCK_READ, "0140000", 129, 16, 0},
      {LUMISAR_OP_BLOCK_READ, "0140000L", 65, 32, 4},
      {LUMISAR_OP_BLOCK_READ, "0140000", -1, 16, 0},
      {LUMISAR_OP_BLOCK_READ, "0140000", 0x7FFFFFFF, 16, 0},
      {LUMISAR_OP_BLOCK_WRITE, "0140000", 129, 16, 0},
      {LUMISAR_OP_BLOCK_WRITE, "0140000L", 65, 32, 4},
      {LUMISAR_OP_BLOCK_WRITE, "0140000", -1, 16, 0},
      {LUMISAR_OP_BLOCK_READ, "0140000", 4, 24, 0},
      {LUMISAR_OP_BLOCK_WRITE, "0140000", 4, 0, 0},
      // A 32-bit block whose text has no type letter.
      {LUMISAR_OP_BLOCK_READ, "0140000", 4, 32, 4},
      {LUMISAR_OP_BLOCK_READ, "01400003", 4, 32, 4},
      {LUMISAR_OP_BLOCK_READ, nullptr, 4, 32, 4},
      {LUMISAR_OP_SINGLE_READ, "0140000", 2, 16, 0},
      {LUMISAR_OP_SINGLE_READ, "0140000", 0, 16, 0},
      {LUMISAR_OP_SINGLE_WRITE, "0140000", 2, 16, 0},
      {LUMISAR_OP_SINGLE_WRITE, "0140000", -1, 16, 0},
      {LUMISAR_OP_SINGLE_READ, "0140000", 1, 8, 0},
      {LUMISAR_OP_SINGLE_WRITE, "0140000", 1, 64, 0},
      {LUMISAR_OP_SINGLE_READ, "0140000", 1, 32, 0},
      {LUMISAR_OP_SINGLE_WRITE, "0140000L", 1, 16, 4},
  };
  for (const Case &c : cases) {
    IoRequest io;
    memset(&io, 0, sizeof io);
    io.addressText = c.text;
    io.address = TagAddress{1, 0x31, 16385, 255, c.width};
    io.count = c.count;
    io.dataType = c.type;
    io.values = values;
    EXPECT_EQ(Transfer(&line, c.op, &io), 1);
  }
  // A bit number beyond the word.
  IoRequest io = TagRequest("01400003", 6, 1, values, false);
  io.address.bitNumber = 16;
  EXPECT_EQ(Transfer(&line, LUMISAR_OP_SINGLE_READ, &io), 1);
  EXPECT_EQ(Transfer(&line, LUMISAR_OP_SINGLE_WRITE, &io), 1);
  io.values = nullptr;
  io.address.bitNumber = 255;
  EXPECT_EQ(Transfer(&line, LUMISAR_OP_SINGLE_READ, &io), 1);
  EXPECT_EQ(line.dev->txLen, 0);
  EXPECT_EQ(LogCount(), 0);
  SimLineClose(&line);
}

TEST(Transactions, TransfersWithoutAPortFailAfterSixAttempts) {
  LogReset();
  PortContext context;
  memset(&context, 0, sizeof context);
  uint16_t v[8] = {0, 0x77};
  IoRequest io = TagRequest("0140000", 0, 1, v, false);
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_READ, &context, &io), 2);
  EXPECT_EQ(LogLinesStarting("ORVEN> SendStr() Tx 4E 21 05"), 6);
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_WRITE, &context, &io), 2);
  io = TagRequest("0140000", 0, 3, v, true);
  EXPECT_EQ(Call(LUMISAR_OP_BLOCK_READ, &context, &io), 2);
  EXPECT_EQ(Call(LUMISAR_OP_BLOCK_WRITE, &context, &io), 2);
  EXPECT_EQ(v[1], 0x77);
}

TEST(Transactions, RepliesAreTracedFromTheReplyBuffer) {
  SimLine line;
  SimLineOpen(&line);
  SimMemory(line.sim, 1)[040000] = 0x1234;
  uint16_t v[2];
  EXPECT_EQ(ReadTag(&line, "0140000", 0, v), 0);
  // enquiry, acknowledge, header, ACK, data, ACK, EOT, EOT
  EXPECT_EQ(LogCount(), 8);
  EXPECT_STREQ(LogText(1),
               "ORVEN> RecvStr() Rx 4E 21 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_STREQ(LogText(3),
               "ORVEN> RecvStr() Rx 06 21 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_STREQ(LogText(4),
               "ORVEN> RecvStr() Rx 02 34 12 03 26 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_STREQ(LogText(5),
               "ORVEN> SendStr() Tx 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_STREQ(LogText(6),
               "ORVEN> RecvStr() Rx 04 34 12 03 26 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_STREQ(LogText(7),
               "ORVEN> SendStr() Tx 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  SimLineClose(&line);
}

// ---- every single-byte fault ----------------------------------------------

// Every single-byte fault a line can make to a reply, in every frame the
// controller sends, for every kind of exchange (the counts are printed):
// none ends done with a wrong value, or refused or failed, none costs more
// than one further attempt (two when late), and the driver's bytes are
// always attempts at the dialogue. A changed or lost byte and a late frame
// are always noticed, but for ETB in the place of a data frame's ETX: the
// other terminator a controller may end a data frame with.
// The same on a line that echoes (printed second), its echoes spoiled too.
TEST(EveryFault, NeverAWrongValueNorMoreThanOneFurtherAttempt) {
  PrintFaultTallyHeader(stdout);
  for (int i = 0; i < 2 * kFaultedExchangeCount; ++i) {
    const FaultedExchange &x = kFaultedExchanges[i % kFaultedExchangeCount];
    bool echo = i >= kFaultedExchangeCount;
    // The echo is of the driver's frames; a read's longest data frame adds
    // nothing there that 64 words do not, and would double the run.
    bool wide = x.text[7] == 'L' || x.text[7] == 'F';
    int dataBytes = x.count * (wide ? 4 : 2);
    if (echo && x.operation == LUMISAR_OP_BLOCK_READ && dataBytes > 128) continue;
    FaultTally tally[kLineFaults];
    TallyFaults(x, tally, echo);
    FaultedExchange shown = x;
    char name[64];
    snprintf(name, sizeof name, "%s, echoing line", x.name);
    if (echo) shown.name = name;
    PrintFaultTally(stdout, shown, tally);
    bool readsData = x.operation == LUMISAR_OP_SINGLE_READ ||
                     x.operation == LUMISAR_OP_BLOCK_READ || x.dataType == 6;
    for (int f = 0; f < kLineFaults; ++f) {
      const FaultTally &c = tally[f];
      SCOPED_TRACE(testing::Message() << x.name << ", " << LineFaultName(f));
      EXPECT_GT(c.tried, 0u);
      EXPECT_EQ(c.wrong, 0u);
      EXPECT_EQ(c.atOnce + c.oneMore, c.tried);
      EXPECT_EQ(c.offDialogue + c.missed, 0u);
      if (f != kLineInserted && !echo) {
        EXPECT_EQ(c.atOnce, f == kLineChanged && readsData ? 1u : 0u);
      }
    }
  }
}

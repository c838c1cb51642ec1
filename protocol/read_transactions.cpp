// Operations 5 and 6: read single values and blocks with the read dialogue
// (enquiry, acknowledge, header, ACK, data frame, ACK, EOT, EOT).
#include <string.h>

#include "address/address_text.h"
#include "frames.h"
#include "host/quarne.h"
#include "io_operations.h"
#include "transaction.h"

namespace {

// Both reads print "SingleRead()" in their diagnostics, as the host's log
// readers expect; only the block read explains a bad acknowledge or ACK.
const Diagnostics kSingleDiagnostics = {nullptr, nullptr, nullptr, nullptr, kLogBadLrc};
const Diagnostics kBlockDiagnostics = {kLogReadBadAcknowledge, kLogReadBadAck, kLogReadBadAck,
                                       nullptr, nullptr};

bool IsTerminator(uint8_t byte) { return byte == ETX || byte == ETB; }

// Whether the data frame of `length` bytes fails its checks; if so,
// *cause tells why. The check byte alone cannot vouch for a frame: a byte
// added to it moves the data along and may keep the XOR, so the frame must
// also end as a data frame ends.
bool DataFrameFault(const uint8_t *frame, int length, Cause *cause) {
  if (!CheckLrc(frame, length)) {
    *cause = kCauseBadCheckByte;
    return true;
  }
  if (frame[0] != STX) {
    *cause = kCauseBadStx;
    return true;
  }
  if (!IsTerminator(frame[length - 2])) {
    *cause = kCauseDataFrame;
    return true;
  }
  return false;
}

// The line a read logs for a data frame that failed its checks.
const char *DataFrameDiagnostic(Cause fault, const Diagnostics &d) {
  switch (fault) {
    case kCauseBadCheckByte:
      return d.badLrc;
    case kCauseBadStx:
      return kLogBadStx;
    default:
      return kLogBadEtx;
  }
}

// One attempt of the read dialogue; the data frame is left in the reply
// buffer on success.
Attempt ReadAttempt(PortContext *context, const Dialogue &dialogue) {
  const uint8_t *reply = dialogue.reply;
  int frameLength = dialogue.frameLength;
  Attempt step = OpenExchange(context, dialogue);
  if (step != Attempt::Succeeded) return step;
  // The data frame follows the ACK: its answer has begun.
  if (RecvStr(context, dialogue.reply, frameLength, dialogue.capacity) != Reception::Complete)
    return EndAttempt(context, dialogue, kCauseDataFrame, 0);
  Cause fault;
  if (DataFrameFault(reply, frameLength, &fault)) {
    LogDiagnostic(DataFrameDiagnostic(fault, *dialogue.diagnostics));
    return EndAttempt(context, dialogue, fault, 0);
  }
  // Nothing may follow the frame before the driver's ACK. A frame with one
  // byte added can pass the checks only if what it took for its check byte
  // is a terminator, the true one; the true check byte is then still on its
  // way, and the line is given a moment to bring it.
  if (BytesBeyond(context, IsTerminator(reply[frameLength - 1]))) {
    LogDiagnostic(kLogDataOverrun);
    return EndAttempt(context, dialogue, kCauseDataFrame, 0);
  }
  context->ackByte = ACK;
  SendStr(context, &context->ackByte, 1);
  // The one-byte EOT lands on offset 0; the data stay at offsets 1 on.
  if (RecvAfter(context, &context->ackByte, 1, dialogue.reply, 1, dialogue.capacity,
                dialogue.echo) != Reception::Complete) {
    LogDiagnostic(kLogNoEot);
    return EndAttempt(context, dialogue, kCauseNoEot, 1);
  }
  if (reply[0] != EOT) {
    LogDiagnostic(kLogBadEot);
    return EndAttempt(context, dialogue, kCauseBadEot, 1);
  }
  SendLast(context, dialogue, &context->eotByte, EOT);
  return Attempt::Succeeded;
}

// A read's dialogue; the most a controller may still send is the ACK, the
// data frame and EOT.
Dialogue ReadDialogue(void (*build)(PortContext *, const IoRequest *), int frameLength,
                      const Diagnostics &d, uint8_t *reply, size_t capacity, EchoNote *echo) {
  return Dialogue{build, ReadAttempt, false,    frameLength, frameLength + 2,
                  &d,    reply,       capacity, echo};
}

uint32_t Little32(const uint8_t *d) {
  return static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 |
         static_cast<uint32_t>(d[2]) << 16 | static_cast<uint32_t>(d[3]) << 24;
}

uint16_t Little16(const uint8_t *d) { return static_cast<uint16_t>(d[0] | d[1] << 8); }

// The 32-bit block tags carry their type letter as the eighth character;
// the text is never read past its terminator.
bool HasLongTypeLetter(const char *text) {
  if (!text) return false;
  for (int i = 0; i < 7; ++i)
    if (text[i] == 0) return false;
  char c = text[7];
  return c == 'L' || c == 'l' || c == 'F' || c == 'f';
}

}  // namespace

bool SingleRequestValid(const IoRequest *io) {
  const TagAddress &a = io->address;
  if (!io->values || io->count != 1) return false;
  if (a.width != 16 && a.width != 32) return false;
  // The header's byte count follows the data type and the data frame the
  // width; they must tell the same size.
  if (IsLongType(io->dataType) != (a.width == 32)) return false;
  if (a.bitNumber != LUMISAR_NO_BIT && (a.bitNumber > 15 || a.width != 16)) return false;
  return true;
}

IoRequest *TakeBlockRequest(RequestBlock *request, int32_t *result) {
  IoRequest *io = static_cast<IoRequest *>(request->params);
  *result = LUMISAR_FAILED;
  if (!request->context || !io) return nullptr;
  *result = LUMISAR_REFUSED;
  const TagAddress &a = io->address;
  if (a.width != 16 && a.width != 32) return nullptr;
  int32_t limit = a.width == 16 ? kMaxBlockWords : kMaxBlockLongs;
  if (io->count < 0 || io->count > limit) return nullptr;
  if (!io->values && io->count != 0) return nullptr;
  return io;
}

int32_t SingleRead(RequestBlock *request) {
  EchoNote echo = {};
  return SingleReadNoting(request, &echo);
}

int32_t SingleReadNoting(RequestBlock *request, EchoNote *echo) {
  PortContext *context = request->context;
  IoRequest *io = static_cast<IoRequest *>(request->params);
  if (!context || !io) return LUMISAR_FAILED;
  if (!SingleRequestValid(io)) return LUMISAR_REFUSED;

  const TagAddress &a = io->address;
  int frameLength = ElementBytes(a.width) + kFrameOverhead;
  uint8_t reply[8] = {};
  Dialogue dialogue =
      ReadDialogue(MakeReadHeader, frameLength, kSingleDiagnostics, reply, sizeof reply, echo);
  int32_t result = RunAttempts(context, io, dialogue);
  if (result != LUMISAR_DONE) return result;
  uint8_t *values = static_cast<uint8_t *>(io->values);
  if (a.width == 32) {
    uint32_t v = Little32(reply + 1);
    memcpy(values, &v, 4);
  } else {
    uint16_t w = Little16(reply + 1);
    if (a.bitNumber != LUMISAR_NO_BIT) w = static_cast<uint16_t>((w >> a.bitNumber) & 1);
    // The second 16-bit word; the first is the host's and stays as it was.
    memcpy(values + 2, &w, 2);
  }
  return LUMISAR_DONE;
}

int32_t BlockRead(RequestBlock *request) {
  int32_t refusal;
  IoRequest *io = TakeBlockRequest(request, &refusal);
  if (!io) return refusal;
  // A 32-bit block without its type letter would read fine and store
  // nothing: refused up front, as a block the reply buffer cannot hold is.
  if (io->address.width == 32 && !HasLongTypeLetter(io->addressText)) return LUMISAR_REFUSED;
  PortContext *context = request->context;

  int elementBytes = ElementBytes(io->address.width);
  int frameLength = io->count * elementBytes + kFrameOverhead;
  uint8_t reply[kMaxDataBytes + kFrameOverhead] = {};
  EchoNote echo = {};
  Dialogue dialogue =
      ReadDialogue(MakeBlockReadHeader, frameLength, kBlockDiagnostics, reply, sizeof reply, &echo);
  int32_t result = RunAttempts(context, io, dialogue);
  if (result != LUMISAR_DONE) return result;
  uint8_t *values = static_cast<uint8_t *>(io->values);
  for (int k = 0; k < io->count; ++k) {
    const uint8_t *d = reply + 1 + k * elementBytes;
    if (elementBytes == 4) {
      uint32_t v = Little32(d);
      memcpy(values + 4 * k, &v, 4);
    } else {
      uint16_t w = Little16(d);
      memcpy(values + 2 * k, &w, 2);
    }
  }
  return LUMISAR_DONE;
}

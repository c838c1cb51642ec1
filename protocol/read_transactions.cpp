// Operations 5 and 6: read single values and blocks with the read dialogue
// (enquiry, acknowledge, header, ACK, data frame, ACK, EOT, EOT).
#include <string.h>

#include "address/address_text.h"
#include "frames.h"
#include "host/quarne.h"
#include "io_operations.h"
#include "transaction.h"

namespace {

// The diagnostics differ between the two reads; a null line is not logged.
// Both print "SingleRead()", as the host's log readers expect.
struct ReadDiagnostics {
  const char *badAcknowledge;
  const char *noAckInAcknowledge;
  const char *badHeaderAck;
  const char *badLrc;
};

const ReadDiagnostics kSingleDiagnostics = {nullptr, nullptr, nullptr, kLogBadLrc};
const ReadDiagnostics kBlockDiagnostics = {kLogReadBadAcknowledge, kLogReadBadAck, kLogReadBadAck,
                                           nullptr};
constexpr bool kRead = false;

void Log(const char *line) {
  if (line) err(kLogTrace, "%s", line);
}

bool IsTerminator(uint8_t byte) { return byte == ETX || byte == ETB; }

// What is wrong with a data frame of frameLength bytes, or kCauseCount
// when nothing is; logs the diagnostic the read gives for it.
Cause DataFrameFault(PortContext *context, const uint8_t *reply, int frameLength,
                     const ReadDiagnostics &d) {
  if (!CheckLrc(reply, frameLength)) {
    Log(d.badLrc);
    return kCauseBadCheckByte;
  }
  if (reply[0] != STX) {
    Log(kLogBadStx);
    return kCauseBadStx;
  }
  // The check byte alone cannot vouch for a frame: a byte added to it
  // moves the data along and may keep the XOR. The frame must end as a
  // data frame ends, and nothing may follow it before the driver's ACK.
  if (!IsTerminator(reply[frameLength - 2])) {
    Log(kLogBadEtx);
    return kCauseDataFrame;
  }
  // A frame with one byte added can pass only if what it took for its
  // check byte is a terminator, the true one; the true check byte is then
  // still on its way, and the line is given a moment to bring it.
  if (BytesBeyond(context, IsTerminator(reply[frameLength - 1]))) {
    Log(kLogDataOverrun);
    return kCauseDataFrame;
  }
  return kCauseCount;
}

// One attempt of the read dialogue; the data frame of frameLength bytes is
// left in reply on success. A failed attempt names the frame the controller
// was answering, whose answer may still be on its way.
Attempt ReadAttempt(PortContext *context, uint8_t *reply, size_t capacity, int frameLength,
                    const ReadDiagnostics &d) {
  // The most a controller may still send: the ACK, the data frame, EOT.
  auto fail = [&](Cause cause, int answering) {
    return EndAttempt(context, cause, kRead, answering, frameLength + 2);
  };
  auto unanswered = [&](Reception got, int answering) {
    return EndUnanswered(context, got, kRead, answering, frameLength + 2);
  };
  SendStr(context, context->enquiry, kEnquiryLength);
  Reception got = RecvStr(context, reply, kAcknowledgeLength, capacity);
  if (got != Reception::Complete) return unanswered(got, kEnquiryLength);
  if (reply[0] != kEnquiryStart || reply[1] != context->enquiry[1]) {
    Log(d.badAcknowledge);
    return fail(kCauseBadAcknowledge, kEnquiryLength);
  }
  if (reply[2] != ACK) {
    Log(d.noAckInAcknowledge);
    return fail(kCauseNoAck, kEnquiryLength);
  }
  SendStr(context, context->header, kHeaderLength);
  got = RecvStr(context, reply, 1, capacity, kHeaderLength);
  if (got != Reception::Complete) return unanswered(got, kHeaderLength);
  if (reply[0] != ACK) {
    Log(d.badHeaderAck);
    return fail(kCauseHeaderRefused, kHeaderLength);
  }
  // The data frame follows the ACK: its answer has begun.
  if (RecvStr(context, reply, frameLength, capacity) != Reception::Complete)
    return fail(kCauseDataFrame, 0);
  Cause fault = DataFrameFault(context, reply, frameLength, d);
  if (fault != kCauseCount) return fail(fault, 0);
  context->ackByte = ACK;
  SendStr(context, &context->ackByte, 1);
  // The one-byte EOT lands on offset 0; the data stay at offsets 1 on.
  if (RecvStr(context, reply, 1, capacity) != Reception::Complete) {
    Log(kLogNoEot);
    return fail(kCauseNoEot, 1);
  }
  if (reply[0] != EOT) {
    Log(kLogBadEot);
    return fail(kCauseBadEot, 1);
  }
  context->eotByte = EOT;
  SendStr(context, &context->eotByte, 1);
  return Attempt::Succeeded;
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

bool BlockRequestValid(const IoRequest *io) {
  const TagAddress &a = io->address;
  if (a.width != 16 && a.width != 32) return false;
  int32_t limit = a.width == 16 ? kMaxBlockWords : kMaxBlockLongs;
  if (io->count < 0 || io->count > limit) return false;
  return io->values || io->count == 0;
}

int32_t SingleRead(RequestBlock *request) {
  PortContext *context = request->context;
  IoRequest *io = static_cast<IoRequest *>(request->params);
  if (!context || !io) return LUMISAR_FAILED;
  if (!SingleRequestValid(io)) return LUMISAR_REFUSED;

  const TagAddress &a = io->address;
  int frameLength = ElementBytes(a.width) + kFrameOverhead;
  uint8_t reply[8] = {};
  int32_t result = LUMISAR_FAILED;
  for (int attempt = 1;; ++attempt) {
    MakeReadHeader(context, io);
    Attempt outcome = ReadAttempt(context, reply, sizeof reply, frameLength, kSingleDiagnostics);
    if (OperationEnds(outcome, attempt, &result)) break;
  }
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
  PortContext *context = request->context;
  IoRequest *io = static_cast<IoRequest *>(request->params);
  if (!context || !io) return LUMISAR_FAILED;
  // The reply buffer holds 256 data bytes, and a 32-bit block without its
  // type letter would read fine and store nothing: refuse both up front.
  if (!BlockRequestValid(io)) return LUMISAR_REFUSED;
  if (io->address.width == 32 && !HasLongTypeLetter(io->addressText)) return LUMISAR_REFUSED;

  int elementBytes = ElementBytes(io->address.width);
  int frameLength = io->count * elementBytes + kFrameOverhead;
  uint8_t reply[kMaxDataBytes + kFrameOverhead] = {};
  int32_t result = LUMISAR_FAILED;
  for (int attempt = 1;; ++attempt) {
    MakeBlockReadHeader(context, io);
    Attempt outcome = ReadAttempt(context, reply, sizeof reply, frameLength, kBlockDiagnostics);
    if (OperationEnds(outcome, attempt, &result)) break;
  }
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

// Operations 7 and 10: write single values, bits and blocks with the write
// dialogue (enquiry, acknowledge, header, ACK, data frame, ACK, EOT).
#include <string.h>

#include "frames.h"
#include "host/quarne.h"
#include "io_operations.h"
#include "transaction.h"

namespace {

// Only the block write explains its failures; both print "SingleWrite()".
struct WriteDiagnostics {
  const char *badAcknowledge;
  const char *noAckInAcknowledge;
  const char *badHeaderAck;
  const char *badDataAck;
};

const WriteDiagnostics kSingleDiagnostics = {kLogWriteBadAcknowledge, nullptr, nullptr, nullptr};
const WriteDiagnostics kBlockDiagnostics = {kLogBlockBadAcknowledge, kLogNoAckInAcknowledge,
                                            kLogBadHeaderAck, kLogBadDataAck};
constexpr bool kWrite = true;

void Log(const char *line) {
  if (line) err(kLogTrace, "%s", line);
}

// One attempt of the write dialogue. A failed attempt names the frame the
// controller was answering, whose answer may still be on its way.
Attempt WriteAttempt(PortContext *context, int frameLength, const WriteDiagnostics &d) {
  // The most a controller may still send: an acknowledge.
  auto fail = [&](Cause cause, int answering) {
    return EndAttempt(context, cause, kWrite, answering, kAcknowledgeLength);
  };
  auto unanswered = [&](Reception got, int answering) {
    return EndUnanswered(context, got, kWrite, answering, kAcknowledgeLength);
  };
  uint8_t reply[8] = {};
  SendStr(context, context->enquiry, kEnquiryLength);
  Reception got = RecvStr(context, reply, kAcknowledgeLength, sizeof reply);
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
  got = RecvStr(context, reply, 1, sizeof reply, kHeaderLength);
  if (got != Reception::Complete) return unanswered(got, kHeaderLength);
  if (reply[0] != ACK) {
    Log(d.badHeaderAck);
    return fail(kCauseHeaderRefused, kHeaderLength);
  }
  SendStr(context, context->dataFrame, frameLength);
  got = RecvStr(context, reply, 1, sizeof reply, frameLength);
  if (got != Reception::Complete) return unanswered(got, frameLength);
  if (reply[0] != ACK) {
    Log(d.badDataAck);
    return fail(kCauseDataRefused, frameLength);
  }
  context->eotByte = EOT;
  SendStr(context, &context->eotByte, 1);
  return Attempt::Succeeded;
}

template <typename Build>
int32_t RunWrite(PortContext *context, const IoRequest *io, Build build, int frameLength,
                 const WriteDiagnostics &d) {
  int32_t result = LUMISAR_FAILED;
  for (int attempt = 1;; ++attempt) {
    build(context, io);
    Attempt outcome = WriteAttempt(context, frameLength, d);
    if (OperationEnds(outcome, attempt, &result)) return result;
  }
}

}  // namespace

int32_t SingleWrite(RequestBlock *request) {
  PortContext *context = request->context;
  IoRequest *io = static_cast<IoRequest *>(request->params);
  if (!context || !io) return LUMISAR_FAILED;
  // The frame carries one value; any other count would send stale bytes.
  if (!SingleRequestValid(io)) return LUMISAR_REFUSED;

  int frameLength = ElementBytes(io->address.width) + kFrameOverhead;
  uint8_t *second = static_cast<uint8_t *>(io->values) + 2;
  uint32_t bit = io->address.bitNumber;
  if (bit == LUMISAR_NO_BIT)
    return RunWrite(context, io, MakeWriteFrames, frameLength, kSingleDiagnostics);

  // A bit has no write of its own on the line: read the word, change the
  // bit, write the word back. The caller's value buffer is its own again
  // on every way out.
  uint16_t callerValue;
  memcpy(&callerValue, second, 2);
  uint16_t mask = static_cast<uint16_t>(1u << bit);
  io->address.bitNumber = LUMISAR_NO_BIT;
  int32_t read = SingleRead(request);
  io->address.bitNumber = bit;
  if (read != LUMISAR_DONE) return read;

  uint16_t word;
  memcpy(&word, second, 2);
  word = callerValue ? static_cast<uint16_t>(word | mask) : static_cast<uint16_t>(word & ~mask);
  memcpy(second, &word, 2);
  int32_t result = RunWrite(context, io, MakeWriteFrames, frameLength, kSingleDiagnostics);
  memcpy(second, &callerValue, 2);
  return result;
}

int32_t BlockWrite(RequestBlock *request) {
  PortContext *context = request->context;
  IoRequest *io = static_cast<IoRequest *>(request->params);
  if (!context || !io) return LUMISAR_FAILED;
  if (!BlockRequestValid(io)) return LUMISAR_REFUSED;
  int frameLength = io->count * ElementBytes(io->address.width) + kFrameOverhead;
  return RunWrite(context, io, MakeBlockWriteFrames, frameLength, kBlockDiagnostics);
}

// Operations 7 and 10: write single values, bits and blocks with the write
// dialogue (enquiry, acknowledge, header, ACK, data frame, ACK, EOT).
#include <string.h>

#include "frames.h"
#include "host/quarne.h"
#include "io_operations.h"
#include "transaction.h"

namespace {

// Only the block write explains its failures; both print "SingleWrite()".
const Diagnostics kSingleDiagnostics = {kLogWriteBadAcknowledge, nullptr, nullptr, nullptr,
                                        nullptr};
const Diagnostics kBlockDiagnostics = {kLogBlockBadAcknowledge, kLogNoAckInAcknowledge,
                                       kLogBadHeaderAck, kLogBadDataAck, nullptr};
// A write's replies are single bytes and the acknowledge.
constexpr size_t kWriteReplySize = 8;

// One attempt of the write dialogue.
Attempt WriteAttempt(PortContext *context, const Dialogue &dialogue) {
  // Each attempt traces its replies from a cleared buffer.
  memset(dialogue.reply, 0, dialogue.capacity);
  Attempt step = OpenExchange(context, dialogue);
  if (step != Attempt::Succeeded) return step;
  step = SendForAck(context, dialogue, context->dataFrame, dialogue.frameLength, kCauseDataRefused,
                    dialogue.diagnostics->badDataAck);
  if (step != Attempt::Succeeded) return step;
  SendLast(context, dialogue, &context->eotByte, EOT);
  return Attempt::Succeeded;
}

// Runs a write's attempts; the most a controller may still send in a write
// is an acknowledge.
int32_t RunWrite(PortContext *context, const IoRequest *io,
                 void (*build)(PortContext *, const IoRequest *), int frameLength,
                 const Diagnostics &d, EchoNote *echo) {
  uint8_t reply[kWriteReplySize];
  const Dialogue dialogue = {build, WriteAttempt, true,         frameLength, kAcknowledgeLength,
                             &d,    reply,        sizeof reply, echo};
  return RunAttempts(context, io, dialogue);
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
  // A bit write's read and write are one operation, on one line.
  EchoNote echo = {};
  if (bit == LUMISAR_NO_BIT)
    return RunWrite(context, io, MakeWriteFrames, frameLength, kSingleDiagnostics, &echo);

  // A bit has no write of its own on the line: read the word, change the
  // bit, write the word back. The caller's value buffer is its own again
  // on every way out.
  uint16_t callerValue;
  memcpy(&callerValue, second, 2);
  uint16_t mask = static_cast<uint16_t>(1u << bit);
  io->address.bitNumber = LUMISAR_NO_BIT;
  int32_t read = SingleReadNoting(request, &echo);
  io->address.bitNumber = bit;
  if (read != LUMISAR_DONE) return read;

  uint16_t word;
  memcpy(&word, second, 2);
  word = callerValue ? static_cast<uint16_t>(word | mask) : static_cast<uint16_t>(word & ~mask);
  memcpy(second, &word, 2);
  int32_t result = RunWrite(context, io, MakeWriteFrames, frameLength, kSingleDiagnostics, &echo);
  memcpy(second, &callerValue, 2);
  return result;
}

int32_t BlockWrite(RequestBlock *request) {
  int32_t refusal;
  IoRequest *io = TakeBlockRequest(request, &refusal);
  if (!io) return refusal;
  PortContext *context = request->context;
  int frameLength = io->count * ElementBytes(io->address.width) + kFrameOverhead;
  EchoNote echo = {};
  return RunWrite(context, io, MakeBlockWriteFrames, frameLength, kBlockDiagnostics, &echo);
}

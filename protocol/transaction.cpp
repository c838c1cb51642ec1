// The steps the read and write dialogues share, the rule for ending a
// failed attempt, and the six attempts.
#include "transaction.h"

#include "host/quarne.h"

namespace {

// An attempt that failed for `cause`: the controller's refusal or a failure
// to try again, as the protocol's facts say for a read or a write.
Attempt Failed(Cause cause, bool write) {
  bool refusal = kCauses[cause].refusalInRead;
  if (write) refusal = kCauses[cause].refusalInWrite;
  if (refusal) return Attempt::Refused;
  return Attempt::Retry;
}

}  // namespace

void LogDiagnostic(const char *line) {
  if (line) err(kLogTrace, "%s", line);
}

int32_t RunAttempts(PortContext *context, const IoRequest *io, const Dialogue &dialogue) {
  int32_t result = LUMISAR_FAILED;
  for (int attempt = 1;; ++attempt) {
    dialogue.build(context, io);
    Attempt outcome = dialogue.attempt(context, dialogue);
    if (OperationEnds(outcome, attempt, &result)) return result;
  }
}

// What came was not what the dialogue expected, or it was still coming
// when its time was up, or it is late: the rest of it may still be on its
// way. The line is let fall quiet first, so that the next attempt (or
// operation) does not read that rest as its reply.
Attempt EndAttempt(PortContext *context, const Dialogue &dialogue, Cause cause, int answering) {
  LetLineFallQuiet(context, answering, dialogue.rest);
  return Failed(cause, dialogue.write);
}

// In a write the controller sends nothing behind an ACK (the acknowledge's
// last byte among them) until the driver's next frame. Bytes already there
// come from elsewhere, a device that babbles or noise, and an ACK among
// them vouches for nothing: a write is done only when its ACKs came alone.
// A read's header ACK is followed by its data frame, whose own checks
// stand guard.
Attempt AckCameAlone(PortContext *context, const Dialogue &dialogue) {
  if (!dialogue.write || !BytesBeyond(context, false)) return Attempt::Succeeded;
  LogDiagnostic(kLogBytesAfterAck);
  return EndAttempt(context, dialogue, kCauseBytesAfterAck, 0);
}

Attempt ReceiveReply(PortContext *context, const Dialogue &dialogue, int n, const uint8_t *sent,
                     int length) {
  Reception got =
      RecvAfter(context, sent, length, dialogue.reply, n, dialogue.capacity, dialogue.echo);
  if (got == Reception::Complete) return Attempt::Succeeded;
  if (got == Reception::Partial) return EndAttempt(context, dialogue, kCauseNoAnswer, length);
  // The controller stayed silent: a reply this short that comes late is in
  // the queue by the next send, whose purge drains it.
  return Failed(kCauseNoAnswer, dialogue.write);
}

Attempt SendForAck(PortContext *context, const Dialogue &dialogue, const uint8_t *frame, int length,
                   Cause refused, const char *diagnostic) {
  SendStr(context, frame, length);
  Attempt step = ReceiveReply(context, dialogue, 1, frame, length);
  if (step != Attempt::Succeeded) return step;
  if (dialogue.reply[0] != ACK) {
    LogDiagnostic(diagnostic);
    return EndAttempt(context, dialogue, refused, length);
  }
  return AckCameAlone(context, dialogue);
}

Attempt OpenExchange(PortContext *context, const Dialogue &dialogue) {
  const Diagnostics &d = *dialogue.diagnostics;
  const uint8_t *reply = dialogue.reply;
  SendStr(context, context->enquiry, kEnquiryLength);
  Attempt step =
      ReceiveReply(context, dialogue, kAcknowledgeLength, context->enquiry, kEnquiryLength);
  if (step != Attempt::Succeeded) return step;
  if (reply[0] != kEnquiryStart || reply[1] != context->enquiry[1]) {
    LogDiagnostic(d.badAcknowledge);
    return EndAttempt(context, dialogue, kCauseBadAcknowledge, kEnquiryLength);
  }
  if (reply[2] != ACK) {
    LogDiagnostic(d.noAckInAcknowledge);
    return EndAttempt(context, dialogue, kCauseNoAck, kEnquiryLength);
  }
  step = AckCameAlone(context, dialogue);
  if (step != Attempt::Succeeded) return step;
  return SendForAck(context, dialogue, context->header, kHeaderLength, kCauseHeaderRefused,
                    d.badHeaderAck);
}

void SendLast(PortContext *context, const Dialogue &dialogue, uint8_t *frame, uint8_t byte) {
  *frame = byte;
  SendStr(context, frame, 1);
  TakeLastEcho(context, 1, dialogue.echo);
}

// What the read and write transactions share: the six attempts, the steps
// both dialogues take, and how an attempt ends.
#pragma once

#include <stddef.h>

#include "frames.h"
#include "lumisar.h"
#include "protocol_facts.h"

enum class Attempt { Succeeded, Retry, Refused };

// The diagnostics a transaction logs when a reply fails a check; null
// where it logs none.
struct Diagnostics {
  const char *badAcknowledge;
  const char *noAckInAcknowledge;
  const char *badHeaderAck;
  const char *badDataAck;  // writes only
  const char *badLrc;      // reads only
};

// One transaction as its attempts run it.
struct Dialogue {
  // Fills the channel's frames afresh at the top of every attempt.
  void (*build)(PortContext *context, const IoRequest *io);
  // One attempt of the dialogue.
  Attempt (*attempt)(PortContext *context, const struct Dialogue &dialogue);
  bool write;
  int frameLength;  // the data frame, sent or expected
  int rest;         // the most the controller may still send in this dialogue
  const Diagnostics *diagnostics;
  uint8_t *reply;  // where the controller's replies are read, and traced from
  size_t capacity;
  EchoNote *echo;  // what the operation has learnt of its line
};

// Runs up to six attempts with freshly built frames; the operation's result.
int32_t RunAttempts(PortContext *context, const IoRequest *io, const Dialogue &dialogue);

// The steps: each returns Attempt::Succeeded when the dialogue goes on, and
// otherwise how the attempt ended, its diagnostic logged.
//
// Sends the enquiry and checks the acknowledge, then sends the header and
// takes its ACK: the opening both dialogues share.
Attempt OpenExchange(PortContext *context, const Dialogue &dialogue);
// Sends `length` bytes of `frame` and takes the controller's one-byte
// answer; anything but ACK fails for `refused`, logged as `diagnostic`.
Attempt SendForAck(PortContext *context, const Dialogue &dialogue, const uint8_t *frame, int length,
                   Cause refused, const char *diagnostic);
// Receives the n-byte reply to the `length` bytes of `sent`, the frame just
// sent, its echo set aside; a reply that did not come in full is no answer.
Attempt ReceiveReply(PortContext *context, const Dialogue &dialogue, int n, const uint8_t *sent,
                     int length);
// Sends the 1-byte frame that ends an exchange, which nothing answers.
void SendLast(PortContext *context, const Dialogue &dialogue, uint8_t *frame, uint8_t byte);
// Ends an attempt that failed for `cause` while the controller was answering
// the last `answering` bytes the driver sent (0 once its answer had begun).
Attempt EndAttempt(PortContext *context, const Dialogue &dialogue, Cause cause, int answering);

// Logs a transaction's diagnostic; a null line is not logged.
void LogDiagnostic(const char *line);

// Whether an operation ends with its attempt `attempt` (from 1), which
// ended as `outcome`; if so, *result is the operation's result, and if
// not, the next attempt is to run.
inline bool OperationEnds(Attempt outcome, int attempt, int32_t *result) {
  if (outcome == Attempt::Succeeded) {
    *result = LUMISAR_DONE;
    return true;
  }
  if (outcome == Attempt::Refused && RefusalIsFinal(attempt)) {
    *result = LUMISAR_REFUSED;
    return true;
  }
  if (attempt == kAttempts) {
    *result = LUMISAR_FAILED;
    return true;
  }
  return false;
}

// SingleRead within an operation that may have heard its line's echo
// already: a bit write reads its word first.
int32_t SingleReadNoting(RequestBlock *request, EchoNote *echo);

// Requests the frames cannot carry are refused before any traffic.
bool SingleRequestValid(const IoRequest *io);
// A block transaction's request: null when there is no channel or request
// (*result failed) or when the frames cannot carry the block (*result
// refused), which both block transactions check before any traffic.
IoRequest *TakeBlockRequest(RequestBlock *request, int32_t *result);

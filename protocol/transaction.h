// What the read and write transactions share: the six attempts, and how an
// attempt ends.
#pragma once

#include "frames.h"
#include "lumisar.h"
#include "protocol_facts.h"

enum class Attempt { Succeeded, Retry, Refused };

// An attempt that failed for `cause`: the controller's refusal or a failure
// to try again, as the protocol's facts say for a read or a write.
inline Attempt Failed(Cause cause, bool write) {
  bool refusal = write ? kCauses[cause].refusalInWrite : kCauses[cause].refusalInRead;
  return refusal ? Attempt::Refused : Attempt::Retry;
}

// Ends an attempt that failed for `cause` while the controller was
// answering the last `answering` bytes the driver sent (0 once its answer
// had begun), with up to `rest` bytes of the dialogue still to come from
// it. What came was not what the dialogue expected and the rest of it may
// still be on its way: the line is let fall quiet first, so that the next
// attempt (or operation) does not read that rest as its reply.
inline Attempt EndAttempt(PortContext *context, Cause cause, bool write, int answering, int rest) {
  LetLineFallQuiet(context, answering, rest);
  return Failed(cause, write);
}

// Ends an attempt whose reply did not come in full (kCauseNoAnswer). A
// controller that stayed silent leaves nothing on the line; one whose reply
// began is let fall quiet like any spoiled reply.
inline Attempt EndUnanswered(PortContext *context, Reception got, bool write, int answering,
                             int rest) {
  if (got == Reception::Nothing) return Failed(kCauseNoAnswer, write);
  return EndAttempt(context, kCauseNoAnswer, write, answering, rest);
}

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

// Requests the frames cannot carry are refused before any traffic.
bool SingleRequestValid(const IoRequest *io);
bool BlockRequestValid(const IoRequest *io);

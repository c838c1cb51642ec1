// What the read and write transactions share: the six attempts, and how an
// attempt ends.
#pragma once

#include "lumisar.h"

constexpr int kAttempts = 6;
// A well-formed refusal ends the operation from this attempt index on (the
// fifth and sixth attempts); before it, the controller gets another chance.
constexpr int kFirstFinalAttempt = 4;

enum class Attempt { Succeeded, Retry, Refused };

// Result of an operation whose attempt index `attempt` ended as `outcome`,
// or -1 when the next attempt is to run.
inline int32_t AfterAttempt(Attempt outcome, int attempt) {
  if (outcome == Attempt::Succeeded) return LUMISAR_DONE;
  if (outcome == Attempt::Refused && attempt >= kFirstFinalAttempt) return LUMISAR_REFUSED;
  if (attempt == kAttempts - 1) return LUMISAR_FAILED;
  return -1;
}

// Requests the frames cannot carry are refused before any traffic.
bool SingleRequestValid(const IoRequest *io);
bool BlockRequestValid(const IoRequest *io);

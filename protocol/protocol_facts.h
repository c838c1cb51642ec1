// The protocol's facts as the driver's log shows them: six attempts, the
// rule that makes a refusal final, why an attempt fails, and every line the
// driver writes into the host's log. The transactions act on them and the
// host tools read the log by them; both take them from here, so that the
// two cannot drift apart.
#pragma once

#include "host/driver_log.h"

// Attempts count from 1. A well-formed refusal ends the operation from
// kFirstFinalAttempt on (the fifth and sixth attempts); before it, the
// controller gets another chance.
constexpr int kAttempts = 6;
constexpr int kFirstFinalAttempt = 5;
// Whether a refusal on attempt `attempt` (from 1) ends the operation.
inline bool RefusalIsFinal(int attempt) { return attempt >= kFirstFinalAttempt; }

// Why an attempt failed.
enum Cause {
  kCauseNoAnswer,        // a reply did not come in full: nothing came, or it began
                         // and was not complete in time
  kCauseAnotherStation,  // the acknowledge carried another station's byte
  kCauseBadAcknowledge,  // the acknowledge was garbled
  kCauseNoAck,           // the acknowledge ended in NAK: the controller said no
  kCauseHeaderRefused,   // NAK (or another byte) instead of ACK after the header
  kCauseDataRefused,     // NAK instead of ACK after a written data frame
  kCauseBadCheckByte,    // the data frame failed its check byte
  kCauseBadStx,          // the data frame did not start with STX
  kCauseDataFrame,       // no data frame, a short or a long one, a bad terminator, or one
                         // a block read rejected unsaid
  kCauseNoEot,           // nothing after the driver's ACK
  kCauseBadEot,          // another byte instead of EOT
  kCauseBytesAfterAck,   // in a write, bytes already there behind an ACK
  kCauseCount
};

// Each cause with its name for reports, and whether a read or a write
// takes it as the controller's refusal (final from kFirstFinalAttempt on)
// rather than a failure to try again.
struct CauseFacts {
  const char *key;
  const char *text;
  bool refusalInRead;
  bool refusalInWrite;
};
// clang-format off
inline constexpr CauseFacts kCauses[] = {
  {"no_answer",       "no answer",                             false, false},
  {"another_station", "another station answered",              false, false},
  {"bad_acknowledge", "garbled acknowledge",                   false, false},
  {"no_ack",          "no ACK in the acknowledge",             true,  true},
  {"header_refused",  "header refused",                        true,  false},
  {"data_refused",    "data refused",                          false, false},
  {"bad_check_byte",  "bad check byte",                        false, false},
  {"bad_stx",         "bad STX",                               true,  false},
  {"data_frame",      "data frame missing, short or rejected", false, false},
  {"no_eot",          "no EOT",                                false, false},
  {"bad_eot",         "bad EOT",                               true,  false},
  {"bytes_after_ack", "bytes after an ACK",                    false, false},
};
// clang-format on
static_assert(sizeof kCauses / sizeof kCauses[0] == kCauseCount, "one row for every cause");

// The diagnostics the transactions log when an attempt fails. Both reads
// print "SingleRead()" and both writes "SingleWrite()", as host log readers
// expect.
inline constexpr char kLogBadLrc[] = "ORVEN> SingleRead() Bad LRC in Data msg";
inline constexpr char kLogBadStx[] = "ORVEN> SingleRead() Bad STX in Data msg";
inline constexpr char kLogNoEot[] = "ORVEN> SingleRead() No EOT after ACK";
inline constexpr char kLogBadEot[] = "ORVEN> SingleRead() Bad EOT after ACK";
inline constexpr char kLogBadEtx[] = "ORVEN> SingleRead() Bad ETX in Data msg";
inline constexpr char kLogDataOverrun[] = "ORVEN> SingleRead() Bytes after Data msg";
inline constexpr char kLogReadBadAcknowledge[] = "ORVEN> SingleRead() Bad Acknowledge msg received";
inline constexpr char kLogReadBadAck[] = "ORVEN> SingleRead() Bad ACK received";
inline constexpr char kLogWriteBadAcknowledge[] =
    "ORVEN> SingleWrite() Bad Acknowledge msg received";
inline constexpr char kLogBlockBadAcknowledge[] =
    "ORVEN> SingleWrite() Bad Acknowledge after Enquiry";
inline constexpr char kLogNoAckInAcknowledge[] = "ORVEN> SingleWrite() No ACK in Acknowledge";
inline constexpr char kLogBadHeaderAck[] = "ORVEN> SingleWrite() Bad ACK after Header";
inline constexpr char kLogBadDataAck[] = "ORVEN> SingleWrite() Bad ACK after Data";
inline constexpr char kLogBytesAfterAck[] = "ORVEN> SingleWrite() Bytes after ACK";
// Not a failure: the line gave back the frame just sent (a two-wire RS-485
// converter does), and the driver read the answer behind it. Logged at most
// once an operation.
inline constexpr char kLogEchoSetAside[] = "ORVEN> RecvStr() Line echoes: echo set aside";

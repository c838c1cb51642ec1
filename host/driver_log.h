// How the driver's lines in the host's log begin: the traces of the link
// routines and the port operations' errors, below the protocol's own
// diagnostics, so that the lowest layer that logs can name its lines too.
#pragma once

// Every frame sent or received is traced as its first 17 bytes.
constexpr int kTraceFields = 17;
#define ORVEN_TRACE_SENT "ORVEN> SendStr() Tx "
#define ORVEN_TRACE_RECEIVED "ORVEN> RecvStr() Rx "
#define ORVEN_OPEN_FAILED "ORVEN: Failed to open "
// Every driver line starts with one of these.
#define ORVEN_TRACE_PREFIX "ORVEN> "
#define ORVEN_ERROR_PREFIX "ORVEN: "

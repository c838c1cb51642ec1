// Turns the driver's 17-byte trace lines back into frames a person can read.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "trace_line.h"

struct TraceDecoder {
  int dataBytes = 2;                // announced by the last header, for the data frame
  uint8_t sent[kTraceFields] = {};  // the frame sent last, as traced: its echo shows it again
  int sentLength = 0;
};

// Decodes a SendStr/RecvStr trace line into out; false for any other line.
bool DecodeTraceLine(TraceDecoder *decoder, const char *line, char *out, size_t size);

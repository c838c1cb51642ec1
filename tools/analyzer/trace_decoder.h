// Turns the driver's 17-byte trace lines back into frames a person can read.
#pragma once

#include <stddef.h>

struct TraceDecoder {
  int dataBytes = 2;  // announced by the last header, for the data frame
};

// Decodes a SendStr/RecvStr trace line into out; false for any other line.
bool DecodeTraceLine(TraceDecoder *decoder, const char *line, char *out, size_t size);

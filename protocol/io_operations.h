// Operations 5, 6, 7 and 10: reads and writes on the line, each tried up to
// six times. They return one of the operation results of lumisar.h.
#pragma once

#include "lumisar.h"

int32_t SingleRead(RequestBlock *request);
int32_t BlockRead(RequestBlock *request);
int32_t SingleWrite(RequestBlock *request);
int32_t BlockWrite(RequestBlock *request);

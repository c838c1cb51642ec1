// Operations 1, 2, 11/12, 13 and 15: a channel's port. Each takes the
// host's RequestBlock and returns one of the operation results of
// lumisar.h.
#pragma once

#include "lumisar.h"

int32_t OpenPort(RequestBlock *request);
int32_t PurgeInput(RequestBlock *request);
// Operations 11 and 12 alike.
int32_t ClosePort(RequestBlock *request);
int32_t ReopenPort(RequestBlock *request);
int32_t ReconfigurePort(RequestBlock *request);

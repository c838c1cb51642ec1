// Every operation handler takes the host's RequestBlock and returns one of
// the operation results of lumisar.h, which ZubMain passes on unchanged.
#pragma once

#include "lumisar.h"

using OperationHandler = int32_t (*)(RequestBlock *request);

int32_t OpenPort(RequestBlock *request);
int32_t PurgeInput(RequestBlock *request);
int32_t ResolveAddress(RequestBlock *request);
int32_t ResolveBlockAddress(RequestBlock *request);
int32_t SingleRead(RequestBlock *request);
int32_t BlockRead(RequestBlock *request);
int32_t SingleWrite(RequestBlock *request);
int32_t BlockWrite(RequestBlock *request);
int32_t ClosePortAlias(RequestBlock *request);
int32_t ClosePort(RequestBlock *request);
int32_t ReopenPort(RequestBlock *request);
int32_t DescribeDriver(RequestBlock *request);
int32_t ReconfigurePort(RequestBlock *request);
int32_t EditTagFormat(RequestBlock *request);

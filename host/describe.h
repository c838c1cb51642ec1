// Operation 14: the driver's name, version and banner for the host.
#pragma once

#include "lumisar.h"

int32_t DescribeDriver(RequestBlock *request);

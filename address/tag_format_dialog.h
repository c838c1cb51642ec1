// Operation 16: the modal "Tag Format" dialog, in which a user composes a
// tag's address text.
#pragma once

#include "lumisar.h"

int32_t EditTagFormat(RequestBlock *request);

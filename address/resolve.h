// Operations 3 and 4: a tag's address text resolved into a TagAddress.
// Each call works on its own copy of the text, so channels on several
// threads may resolve at once.
#pragma once

#include "lumisar.h"

int32_t ResolveAddress(RequestBlock *request);
int32_t ResolveBlockAddress(RequestBlock *request);

// When the driver refused an address text: what the text must look like,
// and which character broke which rule, by the driver's own rules.
#pragma once

#include <stdint.h>

void ExplainAddress(const char *text, uint32_t type, bool block, int32_t count);

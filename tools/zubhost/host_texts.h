// The words and numbers zubhost prints and reads for the driver: what a
// result means, the type names, values in the buffer's place for their
// type, and, for an address text the driver refused, which character broke
// which of the driver's own rules.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The words a person reads for a result code.
const char *Meaning(int32_t result);
// The outcome of an exchange made on an open port, which can only fail by
// six attempts without a good answer; how long they took tells whether the
// limit or the line is at fault. Written into text where it needs the time.
const char *ExchangeMeaning(int32_t result, double ms, char *text, size_t size);

// word, bit, long, float -> data type code; false (message printed) for other names.
bool TypeCode(const char *name, uint32_t *code);

void PrintValue(uint32_t type, const uint8_t *values);
// The value of a write into the buffer's place for its type; false (message printed)
// for a value the type cannot hold.
bool ParseValue(uint32_t type, const char *text, uint8_t *values);

// What the text must look like, and which character broke it.
void ExplainAddress(const char *text, uint32_t type, bool block, int32_t count);

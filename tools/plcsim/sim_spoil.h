// How a noisy line spoils one frame on its way to the master: the bytes it
// adds, drops or changes. The core decides which frame and when.
#pragma once

#include <stddef.h>
#include <stdint.h>

// A small generator (xorshift): the same seed gives the same spoils, so a
// failing test can be run again as it was.
uint32_t SimRandomNext(uint32_t *state);

// Writes `frame` spoiled by `how` into `spoiled` (room for n + kSpoilJunkMost
// bytes) and returns its length. The frame's check byte is left as it was.
size_t SimSpoilFrame(int how, int amount, uint32_t *random, const uint8_t *frame, size_t n,
                     uint8_t *spoiled);
// The same at a place and with a value the caller chooses, so that every
// single-byte fault can be tried in turn: the byte at `at` changed by the
// pattern `value` (kSpoilChange; 1 to 255 give every other value) or lost
// (kSpoilLose), or `value` put in before the byte at `at`, n meaning after
// the frame (kSpoilInsert).
size_t SimSpoilFrameAt(int how, size_t at, uint8_t value, const uint8_t *frame, size_t n,
                       uint8_t *spoiled);

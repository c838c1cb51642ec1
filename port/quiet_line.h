// When a line counts as quiet: the driver waits for it before an attempt
// after a spoiled reply, and plcsim counts the gaps in its own answers
// that come near it.
#pragma once

#include <stdint.h>

// A line counts as quiet once no byte has come for this many character
// times: a reply streams at the line's pace, so a gap this long means the
// controller has finished sending.
constexpr uint32_t kQuietChars = 4;
// A quiet interval is never shorter than this: a controller's turn-round,
// and a busy PC's scheduling, take some milliseconds whatever the speed.
constexpr uint32_t kShortestQuietMs = 10;

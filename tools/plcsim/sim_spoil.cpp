// Spoiling a frame as a noisy line does. Every position and value comes from
// the simulator's seeded generator.
#include "sim_spoil.h"

#include <stdio.h>
#include <string.h>

#include "sim_core.h"

namespace {

const char *const kFrameNames[] = {"acknowledge", "header-ack", "data", "data-ack", "eot", "echo"};
static_assert(sizeof kFrameNames / sizeof kFrameNames[0] == kFrameKinds, "a name for each frame");
// Each spoil's name, and how it is written with its value, as people give it.
// clang-format off
const struct { const char *name, *written; } kSpoils[] = {
  {"none",        "none"},
  {"junk-before", "junk-before=K"},
  {"junk-inside", "junk-inside=K"},
  {"lose",        "lose"},
  {"change",      "change"},
  {"insert",      "insert"},
  {"late",        "late=MS"}};
// clang-format on
static_assert(sizeof kSpoils / sizeof kSpoils[0] == kSpoilKinds, "a row for each spoil");
// What a frame or spoil beyond them is shown as.
constexpr char kUnknownFrame[] = "?";
constexpr char kUnknownSpoil[] = "?";

uint8_t RandomByte(uint32_t *random) { return static_cast<uint8_t>(SimRandomNext(random) >> 8); }

// A random position from `low` to `high`, both included.
size_t RandomAt(uint32_t *random, size_t low, size_t high) {
  return low + SimRandomNext(random) % (high - low + 1);
}

// A random byte at a random place from `low` to `high`: the place drawn
// first, so that a seed spoils the same way whatever the compiler.
void InsertRandom(uint32_t *random, uint8_t *b, size_t *n, size_t low, size_t high) {
  size_t at = RandomAt(random, low, high);
  uint8_t value = RandomByte(random);
  memmove(b + at + 1, b + at, *n - at);
  b[at] = value;
  ++*n;
}

}  // namespace

const char *SimFrameName(int frame) {
  if (frame < 0 || frame >= kFrameKinds) return kUnknownFrame;
  return kFrameNames[frame];
}

int SimFrameByName(const char *name) {
  for (int f = 0; f < kFrameKinds; ++f)
    if (strcmp(kFrameNames[f], name) == 0) return f;
  return -1;
}

const char *SimSpoilName(int how) {
  if (how < 0 || how >= kSpoilKinds) return kUnknownSpoil;
  return kSpoils[how].name;
}

const char *SimSpoilWritten(int how) {
  if (how < 0 || how >= kSpoilKinds) return kUnknownSpoil;
  return kSpoils[how].written;
}

bool SimSpoilTakesValue(int how) { return strchr(SimSpoilWritten(how), '=') != nullptr; }

void SimSpoilList(char *list, size_t size) {
  list[0] = 0;
  for (int h = kSpoilNone + 1; h < kSpoilKinds; ++h) {
    const char *before = ", ";
    if (h == kSpoilNone + 1) before = "";
    if (h == kSpoilKinds - 1) before = " or ";
    size_t n = strlen(list);
    snprintf(list + n, size - n, "%s%s", before, kSpoils[h].written);
  }
}

int SimSpoilByName(const char *name) {
  for (int h = 1; h < kSpoilKinds; ++h)
    if (strcmp(kSpoils[h].name, name) == 0) return h;
  return kSpoilNone;
}

bool SimSpoilFits(int frame, int how) {
  if (frame < 0 || frame >= kFrameKinds || how <= kSpoilNone || how >= kSpoilKinds) return false;
  // A converter's echo loses or changes bytes; it adds none of its own.
  if (frame == kFrameEcho) return how == kSpoilLose || how == kSpoilChange;
  return how != kSpoilJunkInside || frame == kFrameAcknowledge || frame == kFrameData;
}

uint32_t SimRandomNext(uint32_t *state) {
  uint32_t x = *state ? *state : 0x2545F491u;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  *state = x;
  return x;
}

size_t SimSpoilFrame(int how, int amount, uint32_t *random, const uint8_t *frame, size_t n,
                     uint8_t *spoiled) {
  memcpy(spoiled, frame, n);
  if (n == 0) return 0;
  switch (how) {
    case kSpoilJunkBefore:
      for (int k = 0; k < amount && k < kSpoilJunkMost; ++k)
        InsertRandom(random, spoiled, &n, 0, 0);
      break;
    case kSpoilJunkInside:
      // Between the first byte and the last, wherever the junk already is.
      for (int k = 0; k < amount && k < kSpoilJunkMost && n >= 2; ++k)
        InsertRandom(random, spoiled, &n, 1, n - 1);
      break;
    case kSpoilLose: {
      size_t at = RandomAt(random, 0, n - 1);
      memmove(spoiled + at, spoiled + at + 1, n - at - 1);
      --n;
      break;
    }
    case kSpoilChange: {
      // A change by a non-zero pattern is always a different value.
      size_t at = RandomAt(random, 0, n - 1);
      spoiled[at] ^= static_cast<uint8_t>(1 + SimRandomNext(random) % 255);
      break;
    }
    case kSpoilInsert:
      InsertRandom(random, spoiled, &n, 1, n);
      break;
    default:
      break;
  }
  return n;
}

size_t SimSpoilFrameAt(int how, size_t at, uint8_t value, const uint8_t *frame, size_t n,
                       uint8_t *spoiled) {
  memcpy(spoiled, frame, n);
  if (how == kSpoilChange && at < n) spoiled[at] ^= value;
  if (how == kSpoilLose && at < n) {
    memmove(spoiled + at, spoiled + at + 1, n - at - 1);
    --n;
  }
  if (how == kSpoilInsert && at <= n) {
    memmove(spoiled + at + 1, spoiled + at, n - at);
    spoiled[at] = value;
    ++n;
  }
  return n;
}

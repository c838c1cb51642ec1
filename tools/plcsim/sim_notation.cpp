// The simulator's own notations for numbers: a PLC number in hexadecimal,
// an octal V-memory address, and the two together as "0140000". Every other
// number goes through the tools' ParseWhole.
#include <stdio.h>
#include <string.h>

#include <charconv>

#include "sim_tool.h"

namespace {

// All of `text` as digits of `base`; false for none, a stranger, or too many.
// Hexadecimal digits may be of either case.
bool Digits(const char *text, int base, size_t most, long *out) {
  size_t n = strlen(text);
  if (n == 0 || n > most) return false;
  unsigned long v = 0;
  std::from_chars_result r = std::from_chars(text, text + n, v, base);
  if (r.ec != std::errc() || r.ptr != text + n) return false;
  *out = static_cast<long>(v);
  return true;
}

}  // namespace

void SimNameList(char *list, size_t size, int first, int end, const char *(*name)(int)) {
  list[0] = 0;
  for (int k = first; k < end; ++k) {
    size_t n = strlen(list);
    snprintf(list + n, size - n, " %s", name(k));
  }
}

bool SimParseStation(const char *what, const char *text, int *station) {
  long v = 0;
  if (!Digits(text, 16, 2, &v) || v < 1) {
    Mistake("%s takes a PLC number in hexadecimal, 01 to FF (not \"%s\")", what, text);
    return false;
  }
  *station = static_cast<int>(v);
  return true;
}

bool SimParseOctal(const char *what, const char *text, long *octal) {
  long v = 0;
  if (!Digits(text, 8, 5, &v) || v >= kSimWords) {
    Mistake("%s takes an octal V-memory address, 0 to 77777 (not \"%s\")", what, text);
    return false;
  }
  *octal = v;
  return true;
}

bool SimParseAddress(const char *what, const char *text, int *station, long *octal) {
  char plc[3] = {};
  long s = 0, o = 0;
  if (strlen(text) == 7) memcpy(plc, text, 2);
  if (!Digits(plc, 16, 2, &s) || s < 1 || !Digits(text + 2, 8, 5, &o)) {
    Mistake("%s takes a PLC number in hexadecimal and an octal address, as 0140000 (not \"%s\")",
            what, text);
    return false;
  }
  *station = static_cast<int>(s);
  *octal = o;
  return true;
}

bool SimParseSpoil(const char *frameText, const char *howText, int *frame, int *how, int *amount) {
  *frame = SimFrameByName(frameText);
  if (*frame < 0) {
    char names[256];
    SimNameList(names, sizeof names, 0, kFrameKinds, SimFrameName);
    Mistake("a spoil's frame is one of:%s (not \"%s\")", names, frameText);
    return false;
  }
  char name[32];
  snprintf(name, sizeof name, "%s", howText);
  char *equals = strchr(name, '=');
  if (equals) *equals = 0;
  *how = SimSpoilByName(name);
  if (*how == kSpoilNone || SimSpoilTakesValue(*how) != (equals != nullptr)) {
    char spoils[160];
    SimSpoilList(spoils, sizeof spoils);
    Mistake("a spoil is %s (not \"%s\")", spoils, howText);
    return false;
  }
  *amount = 0;
  bool junk = *how == kSpoilJunkBefore || *how == kSpoilJunkInside;
  if (junk && !ParseWhole(SimSpoilWritten(*how), equals + 1, 1, kSpoilJunkMost, amount))
    return false;
  if (*how == kSpoilLate &&
      !ParseWhole(SimSpoilWritten(*how), equals + 1, 0, kSpoilLateMost, amount))
    return false;
  if (!SimSpoilFits(*frame, *how)) {
    Mistake("junk-inside needs a frame with an inside, acknowledge or data (not \"%s\")",
            frameText);
    return false;
  }
  return true;
}

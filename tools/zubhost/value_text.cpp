#include "value_text.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "command_line.h"
#include "lumisar.h"

namespace {

// clang-format off
const struct { const char *name; uint32_t code; } kTypes[] = {
  {"word", LUMISAR_TYPE_WORD0}, {"bit", LUMISAR_TYPE_BIT}, {"long", LUMISAR_TYPE_LONG4},
  {"float", LUMISAR_TYPE_FLOAT}};
const struct { int32_t result; const char *meaning; } kMeanings[] = {
  {LUMISAR_DONE,      "done"},
  {LUMISAR_REFUSED,   "refused (address, type or count not acceptable, or the controller said no)"},
  {LUMISAR_FAILED,    "failed (no good answer in six attempts, or the port could not be used)"},
  {LUMISAR_CANCELLED, "cancelled"}};
// clang-format on

// The range a whole value of the type takes, and its name in messages.
void Range(uint32_t type, long long *low, long long *high, const char **name) {
  *low = -32768, *high = 65535, *name = "word";
  if (type == LUMISAR_TYPE_LONG4) *low = -2147483648LL, *high = 4294967295LL, *name = "long";
  if (type == LUMISAR_TYPE_BIT) *low = 0, *high = 1, *name = "bit";
}

bool ParseFloat(const char *text, uint8_t *values) {
  char *end = nullptr;
  float f = static_cast<float>(strtod(text, &end));
  if (end == text || *end) {
    fprintf(stderr, "%s: a float value is a number such as -12.625 (not \"%s\")\n", ToolName(),
            text);
    return false;
  }
  memcpy(values, &f, 4);
  return true;
}

}  // namespace

const char *Meaning(int32_t result) {
  for (const auto &m : kMeanings)
    if (m.result == result) return m.meaning;
  return "unknown result";
}

bool TypeCode(const char *name, uint32_t *code) {
  for (const auto &t : kTypes) {
    if (strcmp(name, t.name) == 0) {
      *code = t.code;
      return true;
    }
  }
  printf("unknown type %s: the types are", name);
  for (const auto &t : kTypes) printf("%s %s", &t == kTypes ? "" : ",", t.name);
  printf("\n");
  return false;
}

void PrintValue(uint32_t type, const uint8_t *values) {
  uint32_t v;
  memcpy(&v, values, 4);
  if (type == LUMISAR_TYPE_FLOAT) {
    float f;
    memcpy(&f, values, 4);
    printf("%g (bits 0x%08X)", static_cast<double>(f), v);
  } else if (type == LUMISAR_TYPE_LONG4) {
    printf("%u (0x%08X)", v, v);
  } else {
    uint16_t w;
    memcpy(&w, values + 2, 2);
    printf(type == LUMISAR_TYPE_BIT ? "%u" : "%u (0x%04X)", w, w);
  }
}

bool ParseValue(uint32_t type, const char *text, uint8_t *values) {
  if (type == LUMISAR_TYPE_FLOAT) return ParseFloat(text, values);
  char *end = nullptr;
  long long v = strtoll(text, &end, 0), low, high;
  const char *name;
  Range(type, &low, &high, &name);
  if (end == text || *end || v < low || v > high) {
    fprintf(stderr, "%s: a %s value is a whole number from %lld to %lld (not \"%s\")\n", ToolName(),
            name, low, high, text);
    return false;
  }
  uint32_t u = static_cast<uint32_t>(v);
  uint16_t w = static_cast<uint16_t>(v);
  if (type == LUMISAR_TYPE_LONG4)
    memcpy(values, &u, 4);
  else
    memcpy(values + 2, &w, 2);
  return true;
}

#include "host_texts.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "address/address_text.h"
#include "command_line.h"
#include "lumisar.h"
#include "protocol/protocol_facts.h"

namespace {

// The number of attempts as the messages spell it.
constexpr const char *kNumberWords[] = {"no",  "one",   "two",   "three", "four", "five",
                                        "six", "seven", "eight", "nine",  "ten"};
static_assert(kAttempts < sizeof kNumberWords / sizeof kNumberWords[0], "a word for the attempts");
constexpr const char *kAttemptsWord = kNumberWords[kAttempts];

// What a failure means, written once when the program starts.
struct FailedText {
  char text[96];
};
FailedText SpellFailure() {
  FailedText f;
  snprintf(f.text, sizeof f.text,
           "failed (no good answer in %s attempts, or the port could not be used)", kAttemptsWord);
  return f;
}
const FailedText kFailure = SpellFailure();

// The types by name, and the range a whole value of each takes (a float's
// is read as a float).
struct Type {
  const char *name;
  uint32_t code;
  long long low, high;
};
// clang-format off
const Type kTypes[] = {
  {"word",  LUMISAR_TYPE_WORD0, -32768,        65535},
  {"bit",   LUMISAR_TYPE_BIT,   0,             1},
  {"long",  LUMISAR_TYPE_LONG4, -2147483648LL, 4294967295LL},
  {"float", LUMISAR_TYPE_FLOAT, 0,             0}};
const struct { int32_t result; const char *meaning; } kMeanings[] = {
  {LUMISAR_DONE,      "done"},
  {LUMISAR_REFUSED,   "refused (address, type or count not acceptable, or the controller said no)"},
  {LUMISAR_FAILED,    kFailure.text},
  {LUMISAR_CANCELLED, "cancelled"}};
// clang-format on
// What a result code beyond them means.
constexpr char kUnknownResult[] = "unknown result";

// The type of the code, with its range; a word's for any other.
const Type &TypeOf(uint32_t code) {
  for (const Type &t : kTypes)
    if (t.code == code) return t;
  return kTypes[0];
}

// A float as written; refused when a 32-bit float cannot hold it: beyond
// its largest value it would become infinity, below its smallest it would
// become 0. Infinity and not-a-number are taken only when written so.
bool ParseFloat(const char *text, uint8_t *values) {
  double d = 0;
  if (!ReadReal(text, &d)) {
    Mistake("a float value is a number such as -12.625 (not \"%s\")", text);
    return false;
  }
  const char *digits = text + (*text == '-' || *text == '+' ? 1 : 0);
  bool named = strncasecmp(digits, "inf", 3) == 0 || strncasecmp(digits, "nan", 3) == 0;
  float f = static_cast<float>(d);
  bool tooLarge = isinf(f) && !named;
  bool tooSmall = f == 0 && d != 0;
  if (tooLarge || tooSmall) {
    Mistake(
        "a float value is too %s for a 32-bit float, which holds about 1.4e-45 to 3.4e38 "
        "(not \"%s\")",
        tooLarge ? "large" : "small", text);
    return false;
  }
  memcpy(values, &f, 4);
  return true;
}

const char kAddressShape[] =
    "  an address text is two hexadecimal digits of PLC number (01..FF), five octal digits of\n"
    "  V-memory address, then L for a 32-bit integer, F for a float, or a bit digit 0..F\n";

// What the eighth character of this kind of tag must be.
const char *SuffixRule(uint32_t type, bool block) {
  if (block) return "of a block must be L or F";
  if (type == LUMISAR_TYPE_FLOAT) return "of a float must be F";
  if (type == LUMISAR_TYPE_BIT) return "of a bit must be a bit digit 0..F";
  return "of a 32-bit integer must be L";
}

const char *KindName(uint32_t type, bool block) {
  if (block) return "block";
  if (type == LUMISAR_TYPE_BIT) return "bit";
  if (IsLongType(type)) return "32-bit value";
  return "word";
}

// Words for the rule the driver's own check found broken; false when it
// names none.
bool Explain(AddressFault fault, const AddressText &t, const char *text, uint32_t type, bool block,
             int32_t count, char *why, size_t size) {
  int bad = FirstUnacceptedCharacter(t);
  switch (fault) {
    case kAddressLength:
      snprintf(why, size, "it has %zu characters; a %s takes %d", strlen(text),
               KindName(type, block), AddressLength(t, type, block));
      break;
    case kAddressCharacter:
      snprintf(why, size, "character %d ('%c') is not %s", bad + 1, text[bad],
               bad < 2 ? "a hexadecimal digit of the PLC number" : "an octal digit of the address");
      break;
    case kAddressPlcZero:
      snprintf(why, size, "PLC number 00 is not used");
      break;
    case kAddressSuffix:
      snprintf(why, size, "character 8 ('%c') %s", text[7], SuffixRule(type, block));
      break;
    case kAddressOddLong:
      snprintf(why, size, "a 32-bit value starts at an even octal address (%.5s is odd)", t.c + 2);
      break;
    case kAddressCount:
      snprintf(why, size, "a block holds 0 to %d %s (%d asked)", static_cast<int>(BlockLimit(t)),
               t.length == kAddressMaxLength ? "32-bit values" : "words", static_cast<int>(count));
      break;
    case kAddressAccepted:
    case kAddressUnknownType:
      return false;
  }
  return true;
}

}  // namespace

const char *Meaning(int32_t result) {
  for (const auto &m : kMeanings)
    if (m.result == result) return m.meaning;
  return kUnknownResult;
}

const char *ExchangeMeaning(int32_t result, double ms, char *text, size_t size) {
  if (result != LUMISAR_FAILED) return Meaning(result);
  snprintf(text, size, "failed: no good answer in %s attempts (%.1f s)", kAttemptsWord,
           ms / 1000.0);
  return text;
}

bool TypeCode(const char *name, uint32_t *code) {
  char names[64] = "";
  for (const Type &t : kTypes) {
    if (strcmp(name, t.name) == 0) {
      *code = t.code;
      return true;
    }
    size_t n = strlen(names);
    snprintf(names + n, sizeof names - n, "%s%s", n ? ", " : "", t.name);
  }
  Mistake("unknown type %s: the types are %s", name, names);
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
    if (type == LUMISAR_TYPE_BIT)
      printf("%u", w);
    else
      printf("%u (0x%04X)", w, w);
  }
}

bool ParseValue(uint32_t type, const char *text, uint8_t *values) {
  if (type == LUMISAR_TYPE_FLOAT) return ParseFloat(text, values);
  const Type &t = TypeOf(type);
  long long v = 0;
  if (!ReadWhole(text, &v) || v < t.low || v > t.high) {
    Mistake("a %s value is a whole number from %lld to %lld (not \"%s\")", t.name, t.low, t.high,
            text);
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

void ExplainAddress(const char *text, uint32_t type, bool block, int32_t count) {
  AddressText t;
  ReadAddressText(text, &t);
  AddressFault fault = kAddressAccepted;
  if (block)
    fault = CheckBlockAddress(t, count);
  else
    fault = CheckSingleAddress(t, type);
  char why[160] = "";
  if (Explain(fault, t, text, type, block, count, why, sizeof why))
    printf("  address %s refused: %s\n", text, why);
  else
    printf("  address %s refused by the driver\n", text);
  fputs(kAddressShape, stdout);
}

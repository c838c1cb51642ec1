#include "host_texts.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "address/address_text.h"
#include "command_line.h"
#include "lumisar.h"

namespace {

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
  {LUMISAR_FAILED,    "failed (no good answer in six attempts, or the port could not be used)"},
  {LUMISAR_CANCELLED, "cancelled"}};
// clang-format on

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
  char *end = nullptr;
  double d = strtod(text, &end);
  if (end == text || *end) {
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

// The text as the driver reads it: upper-cased, at most eight characters.
struct Tag {
  const char *text;
  size_t n;
  char c[kAddressMaxLength + 1];
  uint32_t type;
  bool block, wide, bit;
  int32_t count;
};

bool In(char c, const char *set) { return c && strchr(set, c); }

bool WrongLength(const Tag &t, char *why, size_t size) {
  size_t want = t.block ? (t.n == 8 ? 8 : 7) : (t.wide || t.bit ? 8 : 7);
  if (t.n == want) return false;
  const char *kind = t.block ? "block" : t.bit ? "bit" : t.wide ? "32-bit value" : "word";
  snprintf(why, size, "it has %zu characters; a %s takes %zu", t.n, kind, want);
  return true;
}

bool WrongDigit(const Tag &t, char *why, size_t size) {
  for (size_t i = 0; i < 7; ++i) {
    if (In(t.c[i], AddressCharSets[i])) continue;
    snprintf(why, size, "character %zu ('%c') is not %s", i + 1, t.text[i],
             i < 2 ? "a hexadecimal digit of the PLC number" : "an octal digit of the address");
    return true;
  }
  if (t.c[0] != '0' || t.c[1] != '0') return false;
  snprintf(why, size, "PLC number 00 is not used");
  return true;
}

bool WrongSuffix(const Tag &t, char *why, size_t size) {
  if (t.n != 8) return false;
  char s = t.c[7];
  const char *rule = nullptr;
  if (t.block && s != 'L' && s != 'F') rule = "of a block must be L or F";
  if (!t.block && t.type == LUMISAR_TYPE_FLOAT && s != 'F') rule = "of a float must be F";
  if (!t.block && t.wide && t.type != LUMISAR_TYPE_FLOAT && s != 'L')
    rule = "of a 32-bit integer must be L";
  if (!t.block && t.bit && !In(s, AddressCharSets[0])) rule = "of a bit must be a bit digit 0..F";
  if (rule) snprintf(why, size, "character 8 ('%c') %s", t.text[7], rule);
  return rule;
}

bool OddAddress(const Tag &t, char *why, size_t size) {
  bool wideValue = t.block ? t.n == 8 : t.wide;
  if (!wideValue || (t.c[6] - '0') % 2 == 0) return false;
  snprintf(why, size, "a 32-bit value starts at an even octal address (%.5s is odd)", t.c + 2);
  return true;
}

bool BlockTooLong(const Tag &t, char *why, size_t size) {
  int32_t limit = t.n == 8 ? kMaxBlockLongs : kMaxBlockWords;
  if (!t.block || (t.count >= 0 && t.count <= limit)) return false;
  snprintf(why, size, "a block holds 0 to %d %s (%d asked)", static_cast<int>(limit),
           t.n == 8 ? "32-bit values" : "words", static_cast<int>(t.count));
  return true;
}

}  // namespace

const char *Meaning(int32_t result) {
  for (const auto &m : kMeanings)
    if (m.result == result) return m.meaning;
  return "unknown result";
}

const char *ExchangeMeaning(int32_t result, double ms) {
  static char failed[80];
  if (result != LUMISAR_FAILED) return Meaning(result);
  snprintf(failed, sizeof failed, "failed: no good answer in six attempts (%.1f s)", ms / 1000.0);
  return failed;
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
    printf(type == LUMISAR_TYPE_BIT ? "%u" : "%u (0x%04X)", w, w);
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
  Tag t = {text, strlen(text), {}, type, block, false, type == LUMISAR_TYPE_BIT, count};
  t.wide = type == LUMISAR_TYPE_FLOAT || type == LUMISAR_TYPE_LONG4 || type == LUMISAR_TYPE_LONG5;
  for (size_t i = 0; i < kAddressMaxLength && i < t.n; ++i)
    t.c[i] = static_cast<char>(text[i] >= 'a' && text[i] <= 'z' ? text[i] - 32 : text[i]);
  // The rules in the order the driver applies them; the first broken one.
  bool (*const rules[])(const Tag &, char *, size_t) = {WrongLength, WrongDigit, WrongSuffix,
                                                        OddAddress, BlockTooLong};
  char why[160] = "";
  for (auto rule : rules)
    if (rule(t, why, sizeof why)) break;
  printf(why[0] ? "  address %s refused: %s\n" : "  address %s refused by the driver\n", text, why);
  fputs(kAddressShape, stdout);
}

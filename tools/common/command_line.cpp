#include "command_line.h"

#include <ctype.h>
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <charconv>

namespace {

const char *toolName = "";

const Option *Find(const Option *table, size_t count, const char *name) {
  for (size_t i = 0; i < count; ++i)
    if (strcmp(table[i].name, name) == 0) return &table[i];
  return nullptr;
}

bool ForPlatform(const Option &o, bool windows) {
  return o.platform == kAnyPlatform || (o.platform == kWindowsOnly) == windows;
}

// The row's value into its field; false for a mistake (message printed).
bool Apply(const Option &o, const char *value) {
  const OptionAction &a = o.action;
  long long n = 0;
  switch (a.kind) {
    case OptionAction::kFlag:
      *static_cast<bool *>(a.field) = true;
      return true;
    case OptionAction::kText:
      *static_cast<const char **>(a.field) = value;
      return true;
    case OptionAction::kWhole:
      if (!ParseWhole(o.name, value, a.low, a.high, &n)) return false;
      a.store(a.field, n);
      return true;
    case OptionAction::kCustom:
      return a.apply(value);
  }
  return false;
}

}  // namespace

const char *const kStopBitsNames[] = {"1", "1.5", "2"};
static_assert(sizeof kStopBitsNames / sizeof kStopBitsNames[0] == kStopBitsCodes,
              "a name for each stop bits code");
const char *const kParityNames[] = {"none", "odd", "even", "mark", "space"};
static_assert(sizeof kParityNames / sizeof kParityNames[0] == kParityCodes,
              "a name for each parity code");
// What a code beyond the driver's is shown as.
constexpr char kUnknownStopBits[] = "?";
constexpr char kUnknownParity[] = "?";

void SetToolName(const char *name) { toolName = name; }

void Mistake(const char *format, ...) {
  va_list args;
  va_start(args, format);
  fprintf(stderr, "%s: ", toolName);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
}

void UnknownOption(const char *arg) {
  Mistake("unknown option %s (%s --help lists them)", arg, toolName);
}

bool ReadWhole(const char *text, long long *out) {
  if (!text) return false;
  bool negative = *text == '-';
  const char *p = text;
  if (*p == '-' || *p == '+') ++p;
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  const char *end = p + strlen(p);
  // Unsigned, from_chars takes no sign of its own: "-0x-5" is refused.
  unsigned long long magnitude = 0;
  std::from_chars_result r = std::from_chars(p, end, magnitude, base);
  if (r.ec != std::errc() || r.ptr != end) return false;
  constexpr unsigned long long kMost = static_cast<unsigned long long>(LLONG_MAX);
  if (magnitude > kMost + (negative ? 1 : 0)) return false;
  if (negative && magnitude == kMost + 1)
    *out = LLONG_MIN;
  else if (negative)
    *out = -static_cast<long long>(magnitude);
  else
    *out = static_cast<long long>(magnitude);
  return true;
}

bool ReadReal(const char *text, double *out) {
  // strtod would skip the spaces that ReadWhole refuses.
  if (!text || !*text || isspace(static_cast<unsigned char>(*text))) return false;
  char *end = nullptr;
  *out = strtod(text, &end);
  return *end == 0;
}

bool ReadHexadecimal(const char *text, long long *out) {
  if (!text) return false;
  const char *end = text + strlen(text);
  unsigned long long v = 0;
  std::from_chars_result r = std::from_chars(text, end, v, 16);
  if (r.ec != std::errc() || r.ptr != end || v > static_cast<unsigned long long>(LLONG_MAX))
    return false;
  *out = static_cast<long long>(v);
  return true;
}

bool ParseWhole(const char *what, const char *text, long long low, long long high, long long *out) {
  long long v = 0;
  if (!ReadWhole(text, &v) || v < low || v > high) {
    Mistake("%s takes a whole number from %lld to %lld (not \"%s\")", what, low, high,
            text ? text : "");
    return false;
  }
  *out = v;
  return true;
}

bool ParseWhole(const char *what, const char *text, long low, long high, long *out) {
  long long v = 0;
  if (!ParseWhole(what, text, static_cast<long long>(low), static_cast<long long>(high), &v))
    return false;
  *out = static_cast<long>(v);
  return true;
}

bool NextListItem(const char *what, const char *example, const char *list, const char **at,
                  char *item, size_t size) {
  size_t n = strcspn(*at, ",");
  if (n == 0) {
    Mistake("%s takes one or more values, such as %s (not \"%s\")", what, example, list);
    return false;
  }
  if (n >= size) {
    Mistake("%s takes values of at most %u characters (not \"%.40s...\")", what,
            static_cast<unsigned>(size - 1), *at);
    return false;
  }
  memcpy(item, *at, n);
  item[n] = 0;
  *at = (*at)[n] == ',' ? *at + n + 1 : nullptr;
  return true;
}

bool ParseParity(const char *what, const char *text, unsigned *code) {
  for (unsigned i = 0; i < sizeof kParityNames / sizeof kParityNames[0]; ++i) {
    if (strcmp(text, kParityNames[i]) == 0) {
      *code = i;
      return true;
    }
  }
  Mistake("%s takes none, odd, even, mark or space (not \"%s\")", what, text);
  return false;
}

bool ParseStopBits(const char *what, const char *text, unsigned *code) {
  for (unsigned i = 0; i < sizeof kStopBitsNames / sizeof kStopBitsNames[0]; ++i) {
    if (strcmp(text, kStopBitsNames[i]) == 0) {
      *code = i;
      return true;
    }
  }
  Mistake("%s takes 1, 1.5 or 2 stop bits (not \"%s\")", what, text);
  return false;
}

bool ParseStopBits(const char *what, const char *text, uint16_t *code) {
  unsigned n = 0;
  if (!ParseStopBits(what, text, &n)) return false;
  *code = static_cast<uint16_t>(n);
  return true;
}

const char *StopBitsWords(unsigned code) {
  if (code >= kStopBitsCodes) return kUnknownStopBits;
  return kStopBitsNames[code];
}

const char *ParityWords(unsigned code) {
  if (code >= kParityCodes) return kUnknownParity;
  return kParityNames[code];
}

int TakeOption(const Option *table, size_t count, bool windows, const char *elsewhere, int argc,
               char **argv, int k) {
  const char *arg = argv[k];
  const char *equals = strchr(arg, '=');
  char name[32];
  size_t length = equals ? static_cast<size_t>(equals - arg) : strlen(arg);
  if (length >= sizeof name) return 0;
  memcpy(name, arg, length);
  name[length] = 0;
  const Option *o = Find(table, count, name);
  if (!o) return 0;
  if (!ForPlatform(*o, windows)) {
    Mistake("%s is for the %s %s; %s", name, windows ? "Linux" : "Windows", toolName, elsewhere);
    return -1;
  }
  if (!o->value && equals) {
    Mistake("%s takes no value (not \"%s\")", name, arg);
    return -1;
  }
  if (o->value && !equals && k + 1 >= argc) {
    Mistake("%s needs a value: %s %s", name, name, o->value);
    return -1;
  }
  const char *value = nullptr;
  if (o->value) value = equals ? equals + 1 : argv[k + 1];
  if (!Apply(*o, value)) return -1;
  return o->value && !equals ? 2 : 1;
}

bool ApplyDefaults(const Option *table, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (table[i].defaultValue && !Apply(table[i], table[i].defaultValue)) return false;
  return true;
}

bool ParseOptions(const Option *table, size_t count, bool windows, const char *elsewhere, int argc,
                  char **argv, int *next) {
  while (*next < argc && strncmp(argv[*next], "--", 2) == 0) {
    int taken = TakeOption(table, count, windows, elsewhere, argc, argv, *next);
    if (taken == 0) {
      UnknownOption(argv[*next]);
      return false;
    }
    if (taken < 0) return false;
    *next += taken;
  }
  return true;
}

void PrintOptions(FILE *to, const Option *table, size_t count, bool windows, int indent) {
  for (size_t i = 0; i < count; ++i) {
    const Option &o = table[i];
    if (!ForPlatform(o, windows)) continue;
    char head[40];
    if (o.value)
      snprintf(head, sizeof head, "%s %s", o.name, o.value);
    else
      snprintf(head, sizeof head, "%s", o.name);
    fprintf(to, "%*s%-22s %s", indent, "", head, o.help);
    if (o.defaultValue) fprintf(to, " (default %s)", o.defaultValue);
    fputc('\n', to);
  }
}

void PrintRepeatedOptionRule(FILE *to) {
  fputs("  An option given twice keeps its last value, unless it says \"again for more\".\n", to);
}

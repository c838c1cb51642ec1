// The command lines of zubhost and plcsim: options read from a table, which
// also gives the usage text, and the numbers and line settings both tools
// take. Every mistake is named, with the values accepted, in one wording.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// The name messages start with: "zubhost", "plcsim".
void SetToolName(const char *name);
// Names a mistake (or a file that cannot be had) on standard error, as
// "TOOL: what was wrong".
__attribute__((format(printf, 1, 2))) void Mistake(const char *format, ...);
// An argument the tool takes for no option of its own, named as a mistake.
void UnknownOption(const char *arg);

// The one reading of a whole number in both tools: decimal, or hexadecimal
// after 0x, with an optional sign; a leading zero is still decimal. False
// for anything else, or a number beyond 64 bits.
bool ReadWhole(const char *text, long long *out);
// The one reading of a number with a fraction or an exponent ("-12.625",
// "1e-3", "inf"): the whole text, and, as for whole numbers, no space
// before it; false for anything else.
bool ReadReal(const char *text, double *out);
// Hexadecimal digits alone, as station numbers are written ("7F"); false
// for anything else: a sign, a 0x, a space.
bool ReadHexadecimal(const char *text, long long *out);
// A whole number from low to high, or a mistake named as
// "WHAT takes a whole number from LOW to HIGH (not "TEXT")".
bool ParseWhole(const char *what, const char *text, long long low, long long high, long long *out);
bool ParseWhole(const char *what, const char *text, long low, long high, long *out);
// none, odd, even, mark, space: the parity codes 0 to 4.
constexpr unsigned kParityCodes = 5;
extern const char *const kParityNames[kParityCodes];
bool ParseParity(const char *what, const char *text, unsigned *code);
// The name of a parity code, "?" for one beyond them.
const char *ParityWords(unsigned code);
// The same into a field of another width.
template <typename T>
bool ParseWhole(const char *what, const char *text, long low, long high, T *out) {
  long n;
  if (!ParseWhole(what, text, low, high, &n)) return false;
  *out = static_cast<T>(n);
  return true;
}
template <typename T>
bool ParseParity(const char *what, const char *text, T *code) {
  unsigned n;
  if (!ParseParity(what, text, &n)) return false;
  *code = static_cast<T>(n);
  return true;
}

// The one reading of a list "A,B,C" in both tools. Copies the item at *at
// into item and moves *at past it and its comma, to null after the last.
// An empty item ("", "1,", ",1", "1,,2") is a mistake, named with the
// example as "WHAT takes one or more values, such as EXAMPLE (not "LIST")";
// so is one of size characters or more.
bool NextListItem(const char *what, const char *example, const char *list, const char **at,
                  char *item, size_t size);
// Calls take(item) for each item in order; false at the first mistake.
template <typename Take>
bool EachListItem(const char *what, const char *example, const char *list, Take take) {
  char item[256];
  for (const char *at = list; at;)
    if (!NextListItem(what, example, list, &at, item, sizeof item) || !take(item)) return false;
  return true;
}

// The line settings' ranges both tools accept.
constexpr long kDataBitsLow = 5, kDataBitsHigh = 8;
// Stop bits as a person counts them, "1", "1.5" or "2", everywhere the
// tools read or print them; the driver's codes 0, 1, 2 inside.
constexpr unsigned kStopBitsCodes = 3;
extern const char *const kStopBitsNames[kStopBitsCodes];
bool ParseStopBits(const char *what, const char *text, uint16_t *code);
bool ParseStopBits(const char *what, const char *text, unsigned *code);
const char *StopBitsWords(unsigned code);

enum Platform { kAnyPlatform, kLinuxOnly, kWindowsOnly };

// What an option row does with its value; made by Flag, Text, Whole or
// Custom, each typed by the field it sets.
struct OptionAction {
  enum Kind { kFlag, kText, kWhole, kCustom } kind;
  void *field;                              // the flag's bool, the text's pointer, the number
  void (*store)(void *field, long long n);  // a whole number, at its field's width
  long long low, high;                      // a whole number's range
  bool (*apply)(const char *value);         // a custom row's: false for a mistake (printed)
};
template <typename T>
void StoreWhole(void *field, long long n) {
  *static_cast<T *>(field) = static_cast<T>(n);
}
// A flag, set when given; it takes no value.
constexpr OptionAction Flag(bool *flag) { return {OptionAction::kFlag, flag}; }
// A text, kept as given.
constexpr OptionAction Text(const char **text) { return {OptionAction::kText, text}; }
// A whole number from low to high, read by ParseWhole with the option's name.
template <typename T>
constexpr OptionAction Whole(T *field, long long low, long long high) {
  return {OptionAction::kWhole, field, StoreWhole<T>, low, high};
}
// Any other value: the tool's own function reads it and names its mistakes.
constexpr OptionAction Custom(bool (*apply)(const char *value)) {
  return {OptionAction::kCustom, nullptr, nullptr, 0, 0, apply};
}

struct Option {
  const char *name;   // "--baud"
  const char *value;  // what it takes, for the usage text; null for a flag
  Platform platform;
  OptionAction action;
  const char *help;
  // Taken before the command line by ApplyDefaults, and named in the usage
  // text; null where the tool sets its default itself.
  const char *defaultValue = nullptr;
};

// The option at argv[k], as "--name", "--name value" or "--name=value",
// applied when the table holds it: the number of arguments it took (1 or
// 2); 0 when the table does not hold it; -1 for a mistake (message printed).
int TakeOption(const Option *table, size_t count, bool windows, const char *elsewhere, int argc,
               char **argv, int k);
// Reads the options from argv[*next] on while they start with "--", and
// leaves *next at the first argument that does not. False for a mistake
// (message printed): an unknown option, a missing value, an option of the
// other platform (`elsewhere` says what to use instead), a bad value.
bool ParseOptions(const Option *table, size_t count, bool windows, const char *elsewhere, int argc,
                  char **argv, int *next);
// Applies each option's default value, as if given first; false for a
// default its own option refuses (message printed).
bool ApplyDefaults(const Option *table, size_t count);
// The options of this platform, one a line, after `indent` spaces.
void PrintOptions(FILE *to, const Option *table, size_t count, bool windows, int indent);
// What an option given twice does, once under all of a tool's options.
void PrintRepeatedOptionRule(FILE *to);

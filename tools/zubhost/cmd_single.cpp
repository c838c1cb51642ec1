// resolve, read, write, repeat: single values.
#include "commands.h"

namespace {

void PrintOutcome(bool write, const char *text, const char *typeName, const char *valueText,
                  uint32_t type, const uint8_t *values, int32_t result, double ms) {
  printf("%-5s %-9s %-5s ", write ? "write" : "read", text, typeName);
  if (result == LUMISAR_DONE && write) printf("= %s  ", valueText);
  if (result == LUMISAR_DONE && !write) {
    printf("= ");
    PrintValue(type, values);
    printf("  ");
  }
  char meaning[80];
  printf("%s\n", ExchangeMeaning(result, ms, meaning, sizeof meaning));
}

// One single-value transfer; prints its outcome unless quiet.
int32_t Single(bool write, const char *text, const char *typeName, const char *valueText,
               bool quiet) {
  uint32_t type;
  if (!TypeCode(typeName, &type)) return kUsageError;
  uint8_t values[8] = {};
  if (write && !ParseValue(type, valueText, values)) return kUsageError;
  IoRequest io;
  int32_t result = PrepareIo(&io, text, type, false, 1, values);
  if (result != LUMISAR_DONE) {
    printf("%s %s %s: refused\n", write ? "write" : "read", text, typeName);
    ExplainAddress(text, type, false, 1);
    return result;
  }
  if (!OpenChannel()) return LUMISAR_FAILED;
  double start = NowMs();
  result = Call(write ? LUMISAR_OP_SINGLE_WRITE : LUMISAR_OP_SINGLE_READ, &io);
  if (!quiet) PrintOutcome(write, text, typeName, valueText, type, values, result, NowMs() - start);
  return result;
}

}  // namespace

int32_t ReadCommand(char **args) { return Single(false, args[0], args[1], nullptr, false); }
int32_t WriteCommand(char **args) { return Single(true, args[0], args[1], args[2], false); }

bool CheckRead(char **args) {
  uint32_t type;
  return TypeCode(args[1], &type);
}
bool CheckWrite(char **args) {
  uint32_t type;
  uint8_t values[8] = {};
  return TypeCode(args[1], &type) && ParseValue(type, args[2], values);
}
bool CheckRepeat(char **args) {
  long n;
  return ParseWhole("repeat", args[0], 1, 10000000, &n) && CheckRead(args + 1);
}

int32_t RepeatCommand(char **args) {
  long n;
  if (!ParseWhole("repeat", args[0], 1, 10000000, &n)) return kUsageError;
  double start = NowMs();
  int32_t worst = LUMISAR_DONE;
  for (long k = 0; k < n; ++k) {
    int32_t result = Single(false, args[1], args[2], nullptr, true);
    if (result < 0) return result;
    if (result > worst) worst = result;
    if (result != LUMISAR_DONE && !host.channelOpen) break;
  }
  double ms = NowMs() - start;
  printf("repeat %ld reads of %s %s: %.0f ms, %.0f exchanges per second, %s\n", n, args[1], args[2],
         ms, ms > 0 ? n * 1000.0 / ms : 0.0, Meaning(worst));
  return worst;
}

namespace {

// TYPE of resolve: a type's name, or block:COUNT; false for a mistake (message printed).
bool ResolveType(const char *typeName, bool *block, uint32_t *type, long *count) {
  *block = strncmp(typeName, "block:", 6) == 0;
  *type = 0;
  *count = 1;
  if (*block) return ParseWhole("block:COUNT", typeName + 6, INT32_MIN, INT32_MAX, count);
  return TypeCode(typeName, type);
}

}  // namespace

bool CheckResolve(char **args) {
  bool block;
  uint32_t type;
  long count;
  return ResolveType(args[1], &block, &type, &count);
}

int32_t ResolveCommand(char **args) {
  const char *text = args[0], *typeName = args[1];
  bool block;
  uint32_t type;
  long count;
  if (!ResolveType(typeName, &block, &type, &count)) return kUsageError;
  TagAddress a;
  int32_t result = ResolveTag(text, type, block, static_cast<int32_t>(count), &a);
  printf("resolve %-9s %-9s ", text, typeName);
  // A 32-bit tag's address counts 32-bit values, not words; its first word
  // is the one the header names.
  if (result == LUMISAR_DONE && a.width == 32) {
    printf("-> PLC %u, 32-bit value number %u (word address %u), bit %u, width %u\n", a.plcNumber,
           a.wordAddress, 2 * a.wordAddress - 1, a.bitNumber, a.width);
  } else if (result == LUMISAR_DONE) {
    printf("-> PLC %u, word address %u, bit %u, width %u\n", a.plcNumber, a.wordAddress,
           a.bitNumber, a.width);
  } else {
    printf("-> %s\n", Meaning(result));
    ExplainAddress(text, type, block, static_cast<int32_t>(count));
  }
  return result;
}

// resolve, read, write, repeat: single values.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands.h"
#include "host_session.h"

namespace {

// The value of a write, in the buffer's place for its type.
bool ParseValue(uint32_t type, const char *text, uint8_t *values) {
  char *end = nullptr;
  if (type == LUMISAR_TYPE_FLOAT) {
    float f = static_cast<float>(strtod(text, &end));
    if (end == text || *end) {
      fprintf(stderr, "zubhost: a float value is a number such as -12.625 (not \"%s\")\n", text);
      return false;
    }
    memcpy(values, &f, 4);
    return true;
  }
  long long v = strtoll(text, &end, 0);
  long long low = type == LUMISAR_TYPE_LONG4 ? -2147483648LL
                  : type == LUMISAR_TYPE_BIT ? 0
                                             : -32768;
  long long high = type == LUMISAR_TYPE_LONG4 ? 4294967295LL : type == LUMISAR_TYPE_BIT ? 1 : 65535;
  if (end == text || *end || v < low || v > high) {
    fprintf(stderr, "zubhost: a %s value is a whole number from %lld to %lld (not \"%s\")\n",
            type == LUMISAR_TYPE_LONG4 ? "long"
            : type == LUMISAR_TYPE_BIT ? "bit"
                                       : "word",
            low, high, text);
    return false;
  }
  if (type == LUMISAR_TYPE_LONG4) {
    uint32_t u = static_cast<uint32_t>(v);
    memcpy(values, &u, 4);
  } else {
    uint16_t w = static_cast<uint16_t>(v);
    memcpy(values + 2, &w, 2);
  }
  return true;
}

// One single-value transfer; prints its outcome unless quiet.
int32_t Single(bool write, const char *text, const char *typeName, const char *valueText,
               bool quiet) {
  uint32_t type;
  if (!TypeCode(typeName, &type)) return kUsageError;
  uint8_t values[8] = {};
  if (write && !ParseValue(type, valueText, values)) return kUsageError;
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.addressText = text;
  io.dataType = type;
  io.count = 1;
  io.values = values;
  int32_t result = ResolveTag(text, type, false, 1, &io.address);
  if (result != 0) {
    printf("%s %s %s: refused\n", write ? "write" : "read", text, typeName);
    ExplainAddress(text, type, false, 1);
    return result;
  }
  if (!OpenChannel()) return LUMISAR_FAILED;
  result = Call(write ? LUMISAR_OP_SINGLE_WRITE : LUMISAR_OP_SINGLE_READ, &io);
  if (quiet) return result;
  printf("%-5s %-9s %-5s ", write ? "write" : "read", text, typeName);
  if (result == 0) {
    if (write) printf("= %s  ", valueText);
    if (!write) {
      printf("= ");
      PrintValue(type, values);
      printf("  ");
    }
  }
  printf("%s\n", Meaning(result));
  return result;
}

}  // namespace

int32_t ReadCommand(char **args) { return Single(false, args[0], args[1], nullptr, false); }
int32_t WriteCommand(char **args) { return Single(true, args[0], args[1], args[2], false); }

int32_t RepeatCommand(char **args) {
  long n;
  if (!ParseNumber("repeat", args[0], 1, 10000000, &n)) return kUsageError;
  double start = NowMs();
  int32_t worst = 0;
  for (long k = 0; k < n; ++k) {
    int32_t result = Single(false, args[1], args[2], nullptr, true);
    if (result == kUsageError) return result;
    if (result > worst) worst = result;
    if (result != 0 && !host.channelOpen) break;
  }
  double ms = NowMs() - start;
  printf("repeat %ld reads of %s %s: %.0f ms, %.0f exchanges per second, %s\n", n, args[1], args[2],
         ms, ms > 0 ? n * 1000.0 / ms : 0.0, Meaning(worst));
  return worst;
}

int32_t ResolveCommand(char **args) {
  const char *text = args[0], *typeName = args[1];
  TagAddress a;
  int32_t result;
  bool block = strncmp(typeName, "block:", 6) == 0;
  uint32_t type = 0;
  long count = 1;
  if (block) {
    if (!ParseNumber("block:COUNT", typeName + 6, -2147483647L - 1, 2147483647L, &count))
      return kUsageError;
    result = ResolveTag(text, 0, true, static_cast<int32_t>(count), &a);
  } else {
    if (!TypeCode(typeName, &type)) return kUsageError;
    result = ResolveTag(text, type, false, 1, &a);
  }
  printf("resolve %-9s %-9s ", text, typeName);
  if (result == 0) {
    printf("-> PLC %u, word address %u, bit %u, width %u\n", a.plcNumber, a.wordAddress,
           a.bitNumber, a.width);
  } else {
    printf("-> %s\n", Meaning(result));
    ExplainAddress(text, type, block, static_cast<int32_t>(count));
  }
  return result;
}

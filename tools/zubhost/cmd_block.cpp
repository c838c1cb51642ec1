// read-block, write-block: up to 128 words or 64 32-bit values in one exchange.
#include <stdlib.h>

#include "address/address_text.h"
#include "commands.h"

namespace {

// "1,2,0x1234,...": the values of a write, into the buffer; their number,
// or -1 for a mistake (message printed).
long ParseBlockValues(const char *arg, bool wide, uint8_t *values) {
  long count = 0, limit = wide ? kMaxBlockLongs : kMaxBlockWords;
  long long low = wide ? INT32_MIN : INT16_MIN, high = wide ? UINT32_MAX : UINT16_MAX;
  bool taken = EachListItem("write-block", "1,2,0x1234", arg, [&](const char *item) {
    long long v = 0;
    if (!ReadWhole(item, &v) || v < low || v > high) {
      Mistake("write-block takes values such as 1,2,0x1234 (%s each; at \"%s\")",
              wide ? "32-bit" : "16-bit", item);
      return false;
    }
    if (count == limit) {
      Mistake("write-block takes at most %ld %s", limit, wide ? "32-bit values" : "words");
      return false;
    }
    uint32_t u = static_cast<uint32_t>(v);
    memcpy(values + (wide ? 4 : 2) * count++, &u, wide ? 4 : 2);
    return true;
  });
  return taken ? count : -1;
}

void PrintBlock(const uint8_t *values, long count, bool wide) {
  for (long i = 0; i < count; ++i) {
    uint32_t v = 0;
    memcpy(&v, values + i * (wide ? 4 : 2), wide ? 4 : 2);
    printf(i % 8 == 0 ? "    %0*X" : " %0*X", wide ? 8 : 4, v);
    if (i % 8 == 7 || i == count - 1) printf("\n");
  }
}

// The block's count, and for a write its values; -1 for a mistake (message printed).
long ParseBlock(bool write, const char *text, const char *arg, uint8_t *values) {
  bool wide = strlen(text) == 8;
  if (write) return ParseBlockValues(arg, wide, values);
  long count = 0;
  if (!ParseWhole("read-block COUNT", arg, 0, wide ? kMaxBlockLongs : kMaxBlockWords, &count))
    return -1;
  return count;
}

int32_t Block(bool write, const char *text, const char *arg) {
  uint8_t values[256] = {};
  bool wide = strlen(text) == 8;
  const char *name = write ? "write-block" : "read-block";
  long count = ParseBlock(write, text, arg, values);
  if (count < 0) return kUsageError;
  IoRequest io;
  int32_t result = PrepareIo(&io, text, 0, true, static_cast<int32_t>(count), values);
  if (result != LUMISAR_DONE) {
    printf("%s %s, %ld elements: refused\n", name, text, count);
    ExplainAddress(text, 0, true, io.count);
    return result;
  }
  // A header for no bytes is no exchange: the address alone is checked.
  if (count == 0) {
    printf("%s %s, 0 elements: address accepted, nothing sent\n", name, text);
    return result;
  }
  if (!OpenChannel()) return LUMISAR_FAILED;
  double start = NowMs();
  result = Call(write ? LUMISAR_OP_BLOCK_WRITE : LUMISAR_OP_BLOCK_READ, &io);
  printf("%s %s, %ld %s: %s\n", name, text, count, wide ? "32-bit values" : "words",
         ExchangeMeaning(result, NowMs() - start));
  if (result == LUMISAR_DONE && !write) PrintBlock(values, count, wide);
  return result;
}

}  // namespace

int32_t ReadBlockCommand(char **args) { return Block(false, args[0], args[1]); }
int32_t WriteBlockCommand(char **args) { return Block(true, args[0], args[1]); }

bool CheckReadBlock(char **args) {
  uint8_t values[256];
  return ParseBlock(false, args[0], args[1], values) >= 0;
}
bool CheckWriteBlock(char **args) {
  uint8_t values[256];
  return ParseBlock(true, args[0], args[1], values) >= 0;
}

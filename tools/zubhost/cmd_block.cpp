// read-block, write-block: up to 128 words or 64 32-bit values (integers
// or floats) in one exchange.
#include <stdlib.h>

#include "address/address_text.h"
#include "commands.h"

namespace {

// What a block holds, by its text: words, or with eight characters 32-bit
// values, floats when the eighth is F. A float block's values are taken
// and printed as floats, as single float tags are.
enum BlockKind { kWords, kLongs, kFloats };
constexpr size_t kBlockKinds = kFloats + 1;
const char *const kElementNames[] = {"words", "32-bit values", "floats"};
static_assert(sizeof kElementNames / sizeof kElementNames[0] == kBlockKinds,
              "a name for each kind of block");

BlockKind KindOf(const char *text) {
  if (strlen(text) != 8) return kWords;
  if (text[7] == 'F') return kFloats;
  return kLongs;
}

// One value of a write into its place; false for a mistake (message printed).
bool ParseElement(const char *item, BlockKind kind, uint8_t *place) {
  if (kind == kFloats) return ParseValue(LUMISAR_TYPE_FLOAT, item, place);
  bool wide = kind == kLongs;
  long long low = wide ? INT32_MIN : INT16_MIN, high = wide ? UINT32_MAX : UINT16_MAX;
  long long v = 0;
  if (!ReadWhole(item, &v) || v < low || v > high) {
    Mistake("write-block takes values such as 1,2,0x1234 (%s each; at \"%s\")",
            wide ? "32-bit" : "16-bit", item);
    return false;
  }
  uint32_t u = static_cast<uint32_t>(v);
  memcpy(place, &u, wide ? 4 : 2);
  return true;
}

// "1,2,0x1234,...": the values of a write, into the buffer; their number,
// or -1 for a mistake (message printed).
long ParseBlockValues(const char *arg, BlockKind kind, uint8_t *values) {
  long count = 0, limit = kind == kWords ? kMaxBlockWords : kMaxBlockLongs;
  size_t size = kind == kWords ? 2 : 4;
  bool taken = EachListItem("write-block", "1,2,0x1234", arg, [&](const char *item) {
    if (count == limit) {
      Mistake("write-block takes at most %ld %s", limit, kElementNames[kind]);
      return false;
    }
    uint8_t *place = values + size * count;
    ++count;
    return ParseElement(item, kind, place);
  });
  return taken ? count : -1;
}

void PrintElement(const uint8_t *values, long i, BlockKind kind) {
  uint32_t v = 0;
  switch (kind) {
    case kFloats:
      PrintValue(LUMISAR_TYPE_FLOAT, values + 4 * i);
      break;
    case kLongs:
      memcpy(&v, values + 4 * i, 4);
      printf("%08X", v);
      break;
    case kWords:
      memcpy(&v, values + 2 * i, 2);
      printf("%04X", v);
      break;
  }
}

// Words and 32-bit integers in hexadecimal, eight a line; floats as
// numbers with their bits beside them, four a line.
void PrintBlock(const uint8_t *values, long count, BlockKind kind) {
  long perLine = 8;
  const char *gap = " ";
  if (kind == kFloats) {
    perLine = 4;
    gap = "   ";
  }
  for (long i = 0; i < count; ++i) {
    fputs(i % perLine == 0 ? "    " : gap, stdout);
    PrintElement(values, i, kind);
    if (i % perLine == perLine - 1 || i == count - 1) fputs("\n", stdout);
  }
}

// The block's count, and for a write its values; -1 for a mistake (message printed).
long ParseBlock(bool write, const char *text, const char *arg, uint8_t *values) {
  BlockKind kind = KindOf(text);
  if (write) return ParseBlockValues(arg, kind, values);
  long count = 0;
  long most = kind == kWords ? kMaxBlockWords : kMaxBlockLongs;
  if (!ParseWhole("read-block COUNT", arg, 0, most, &count)) return -1;
  return count;
}

int32_t Block(bool write, const char *text, const char *arg) {
  uint8_t values[256] = {};
  BlockKind kind = KindOf(text);
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
  char meaning[80];
  printf("%s %s, %ld %s: %s\n", name, text, count, kElementNames[kind],
         ExchangeMeaning(result, NowMs() - start, meaning, sizeof meaning));
  if (result == LUMISAR_DONE && !write) PrintBlock(values, count, kind);
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

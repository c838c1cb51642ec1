#include "host_session.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "trace_decoder.h"

HostSession host;

namespace {

TraceDecoder decoder;

bool IsEnquiryTrace(const char *line) {
  return strncmp(line, "ORVEN> SendStr() Tx 4E", 22) == 0 && strncmp(line + 25, " 05 ", 4) == 0;
}

// Why Windows will not open the port: the host asks it again itself, since
// the driver reports every failed open as the same result.
void SayWhyOpenFailed(const char *port) {
  HANDLE h = CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    printf(
        "  %s opens, but refused the line settings: check --baud, --data, --stop and --parity\n"
        "  (a pseudo-terminal takes parity none only)\n",
        port);
    return;
  }
  DWORD e = GetLastError();
  if (e == ERROR_FILE_NOT_FOUND)
    printf(
        "  Windows says there is no such port (error 2): check the name; COM10 and up are "
        "written \\\\.\\COM10\n");
  else if (e == ERROR_ACCESS_DENIED)
    printf(
        "  Windows says the port is in use or not allowed (error 5): close the other program "
        "that holds %s\n",
        port);
  else
    printf("  Windows error %lu\n", static_cast<unsigned long>(e));
}

const char kAddressShape[] =
    "  an address text is two hexadecimal digits of PLC number (01..FF), five octal digits of\n"
    "  V-memory address, then L for a 32-bit integer, F for a float, or a bit digit 0..F\n";

bool In(char c, const char *set) { return c && strchr(set, c); }

}  // namespace

const char kTypeNames[] = "word, bit, long, float";

void OnDriverLog(int level, const char *line) {
  if (IsEnquiryTrace(line)) host.enquiriesSeen++;
  if (host.logFile) {
    char stamp[40];
    WallClock(stamp, sizeof stamp);
    fprintf(host.logFile, "%s %d %s\n", stamp, level, line);
  }
  if (host.showLog) printf("    log %2d  %s\n", level, line);
  // The driver's errors are shown even without --log.
  else if (level == 32)
    printf("    driver says: %s\n", line);
  if (host.decode) {
    char text[256];
    if (DecodeTraceLine(&decoder, line, text, sizeof text)) printf("    %s\n", text);
  }
}

const char *Meaning(int32_t result) {
  switch (result) {
    case 0:
      return "done";
    case 1:
      return "refused (address, type or count not acceptable, or the controller said no)";
    case 2:
      return "failed (no good answer in six attempts, or the port could not be used)";
    case 53:
      return "cancelled";
    default:
      return "unknown result";
  }
}

int32_t Call(uint32_t operation, void *params) {
  RequestBlock r;
  memset(&r, 0, sizeof r);
  r.context = &host.channel;
  r.operation = operation;
  r.params = params;
  return host.zub(&r);
}

bool OpenChannel() {
  if (host.channelOpen) return true;
  memset(&host.channel, 0, sizeof host.channel);
  OpenRequest r;
  memset(&r, 0, sizeof r);
  snprintf(r.deviceName, sizeof r.deviceName, "%s", host.settings.port);
  r.enabled = 1;
  r.replyTimeout = host.settings.timeout;
  r.settings = host.settings.line;
  if (Call(LUMISAR_OP_OPEN_PORT, &r) != 0) {
    printf("open %s: the port could not be opened\n", host.settings.port);
    SayWhyOpenFailed(host.settings.port);
    return false;
  }
  host.channelOpen = true;
  return true;
}

int32_t ResolveTag(const char *text, uint32_t type, bool block, int32_t count, TagAddress *a) {
  ResolveRequest r;
  memset(&r, 0, sizeof r);
  r.addressText = text;
  r.dataType = type;
  r.count = count;
  int32_t result = Call(block ? LUMISAR_OP_RESOLVE_BLOCK_ADDRESS : LUMISAR_OP_RESOLVE_ADDRESS, &r);
  *a = r.address;
  return result;
}

void ExplainAddress(const char *text, uint32_t type, bool block, int32_t count) {
  size_t n = strlen(text);
  bool wide =
      type == LUMISAR_TYPE_FLOAT || type == LUMISAR_TYPE_LONG4 || type == LUMISAR_TYPE_LONG5;
  char c[9] = {};
  for (size_t i = 0; i < 8 && i < n; ++i)
    c[i] = static_cast<char>(text[i] >= 'a' && text[i] <= 'z' ? text[i] - 32 : text[i]);
  char why[160] = "";
  size_t want = block ? (n == 8 ? 8 : 7) : (wide || type == LUMISAR_TYPE_BIT ? 8 : 7);
  if (n != want) {
    snprintf(why, sizeof why, "it has %zu characters; a %s takes %zu", n,
             block                      ? "block"
             : type == LUMISAR_TYPE_BIT ? "bit"
             : wide                     ? "32-bit value"
                                        : "word",
             want);
  } else {
    for (size_t i = 0; i < 7 && !why[0]; ++i) {
      bool ok = i < 2 ? In(c[i], "0123456789ABCDEF") : In(c[i], "01234567");
      if (!ok)
        snprintf(why, sizeof why, "character %zu ('%c') is not %s", i + 1, text[i],
                 i < 2 ? "a hexadecimal digit of the PLC number" : "an octal digit of the address");
    }
  }
  if (!why[0] && c[0] == '0' && c[1] == '0') snprintf(why, sizeof why, "PLC number 00 is not used");
  bool evenRule = block ? n == 8 : wide;
  if (!why[0] && n == 8) {
    char s = c[7];
    if (block && s != 'L' && s != 'F')
      snprintf(why, sizeof why, "character 8 ('%c') of a block must be L or F", text[7]);
    else if (!block && type == LUMISAR_TYPE_FLOAT && s != 'F')
      snprintf(why, sizeof why, "character 8 ('%c') of a float must be F", text[7]);
    else if (!block && wide && type != LUMISAR_TYPE_FLOAT && s != 'L')
      snprintf(why, sizeof why, "character 8 ('%c') of a 32-bit integer must be L", text[7]);
    else if (!block && type == LUMISAR_TYPE_BIT && !In(s, "0123456789ABCDEF"))
      snprintf(why, sizeof why, "character 8 ('%c') of a bit must be a bit digit 0..F", text[7]);
  }
  if (!why[0] && evenRule && (c[6] - '0') % 2 != 0)
    snprintf(why, sizeof why, "a 32-bit value starts at an even octal address (%.5s is odd)",
             c + 2);
  if (!why[0] && block) {
    int limit = n == 8 ? 64 : 128;
    if (count < 0 || count > limit)
      snprintf(why, sizeof why, "a block holds 0 to %d %s (%d asked)", limit,
               n == 8 ? "32-bit values" : "words", count);
  }
  if (why[0])
    printf("  address %s refused: %s\n", text, why);
  else
    printf("  address %s refused by the driver\n", text);
  fputs(kAddressShape, stdout);
}

bool TypeCode(const char *name, uint32_t *code) {
  struct {
    const char *name;
    uint32_t code;
  } types[] = {{"word", 0}, {"bit", 6}, {"long", 4}, {"float", 3}};
  for (const auto &t : types) {
    if (strcmp(name, t.name) == 0) {
      *code = t.code;
      return true;
    }
  }
  printf("unknown type %s: the types are %s\n", name, kTypeNames);
  return false;
}

void PrintValue(uint32_t type, const uint8_t *values) {
  if (type == 3) {
    float f;
    memcpy(&f, values, 4);
    uint32_t bits;
    memcpy(&bits, values, 4);
    printf("%g (bits 0x%08X)", static_cast<double>(f), bits);
  } else if (type == 4) {
    uint32_t v;
    memcpy(&v, values, 4);
    printf("%u (0x%08X)", v, v);
  } else {
    uint16_t w;
    memcpy(&w, values + 2, 2);
    printf(type == 6 ? "%u" : "%u (0x%04X)", w, w);
  }
}

bool ParseNumber(const char *what, const char *text, long low, long high, long *out) {
  char *end = nullptr;
  long v = text && *text ? strtol(text, &end, 0) : 0;
  if (!text || !*text || *end || v < low || v > high) {
    fprintf(stderr, "zubhost: %s takes a whole number from %ld to %ld (not \"%s\")\n", what, low,
            high, text ? text : "");
    return false;
  }
  *out = v;
  return true;
}

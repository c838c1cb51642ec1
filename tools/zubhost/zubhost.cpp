// zubhost: a command-line SCADA host for LUMISAR.DLL. It loads the driver
// as a host does, opens a channel and runs the commands given, in order, in
// one process.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_platform.h"
#include "trace_decoder.h"

namespace {

const char kUsage[] =
    "usage: zubhost [options] COMMAND [ARGS] [COMMAND [ARGS]]...\n"
    "options:\n"
    "  --port NAME         serial device: COM1..COM9, \\\\.\\COM10 and up, NUL (default COM1)\n"
    "  --map NAME=PATH     native build: let NAME open the tty or pty at PATH\n"
    "  --baud N            line speed (default 19200)\n"
    "  --data N            data bits (default 8)\n"
    "  --stop 0|1|2        one, one and a half, two stop bits (default 0)\n"
    "  --parity P          none, odd, even, mark or space (default odd)\n"
    "  --timeout UNITS     reply time limit in units of 10 ms (default 100)\n"
    "  --log               print every line the driver logs\n"
    "  --decode            print traced frames decoded into their fields\n"
    "commands:\n"
    "  describe                         the driver's description and banner\n"
    "  resolve TEXT TYPE                TYPE: word, bit, long, float, or block:COUNT\n"
    "  read TEXT TYPE                   read one value\n"
    "  write TEXT TYPE VALUE            write one value\n"
    "  read-block TEXT COUNT            read COUNT words (or 32-bit values: TEXT ends in L or F)\n"
    "  write-block TEXT V1,V2,...       write a block\n"
    "  poll CYCLES MS TEXT:TYPE,...     read tags every MS milliseconds, with statistics\n"
    "  note TEXT                        print a heading\n"
    "  decode on|off                    decode traced frames from here on\n"
    "  repeat N TEXT TYPE               read a tag N times and print the rate\n";

ZubMainFn zub;
PortContext channel;
bool channelOpen;
bool showLog, decode;
int enquiriesSeen;
TraceDecoder decoder;

struct Settings {
  char port[LUMISAR_DEVICE_NAME_SIZE] = "COM1";
  SerialSettings line = {19200, 8, 0, 1};
  uint32_t timeout = 100;
} settings;

void OnLog(int level, const char *line) {
  if (strncmp(line, "ORVEN> SendStr() Tx 4E", 22) == 0 && strstr(line, " 05 ") == line + 25)
    enquiriesSeen++;
  if (showLog) printf("    log %2d  %s\n", level, line);
  if (decode) {
    char text[256];
    if (DecodeTraceLine(&decoder, line, text, sizeof text)) printf("    %s\n", text);
  }
}

const char *Meaning(int32_t result) {
  switch (result) {
    case 0: return "done";
    case 1: return "refused (address, type or count not acceptable, or the controller said no)";
    case 2: return "failed (no good answer in six attempts, or the port could not be used)";
    case 53: return "cancelled";
    default: return "unknown result";
  }
}

int32_t Call(uint32_t operation, void *params) {
  RequestBlock r;
  memset(&r, 0, sizeof r);
  r.context = &channel;
  r.operation = operation;
  r.params = params;
  return zub(&r);
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
  return false;
}

// Latin box drawing of the banner, code page 437 to UTF-8.
void PrintCp437(const char *text) {
  static const struct {
    unsigned char cp;
    const char *utf8;
  } map[] = {{0xC9, "\u2554"}, {0xCD, "\u2550"}, {0xBB, "\u2557"}, {0xBA, "\u2551"},
             {0xC8, "\u255A"}, {0xBC, "\u255D"}, {0xDB, "\u2588"}, {0xB2, "\u2593"},
             {0xB1, "\u2592"}, {0xB0, "\u2591"}};
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    if (*p < 0x80) {
      putchar(*p);
      continue;
    }
    const char *out = "?";
    for (const auto &m : map)
      if (m.cp == *p) out = m.utf8;
    fputs(out, stdout);
  }
}

bool OpenChannel() {
  if (channelOpen) return true;
  memset(&channel, 0, sizeof channel);
  OpenRequest r;
  memset(&r, 0, sizeof r);
  snprintf(r.deviceName, sizeof r.deviceName, "%s", settings.port);
  r.enabled = 1;
  r.replyTimeout = settings.timeout;
  r.settings = settings.line;
  int32_t result = Call(LUMISAR_OP_OPEN_PORT, &r);
  if (result != 0) {
    printf("open %s: %s\n", settings.port, Meaning(result));
    return false;
  }
  channelOpen = true;
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

// One single-value transfer; prints its outcome. Returns the result.
int32_t Single(bool write, const char *text, const char *typeName, const char *valueText,
               bool quiet = false) {
  uint32_t type;
  if (!TypeCode(typeName, &type)) {
    printf("unknown type %s (word, bit, long, float)\n", typeName);
    return 1;
  }
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.addressText = text;
  io.dataType = type;
  io.count = 1;
  uint8_t values[8] = {};
  io.values = values;
  int32_t result = ResolveTag(text, type, false, 1, &io.address);
  if (result != 0) {
    printf("%s %s %s: address refused by the driver\n", write ? "write" : "read", text, typeName);
    return result;
  }
  if (write) {
    if (type == 3) {
      float f = static_cast<float>(strtod(valueText, nullptr));
      memcpy(values, &f, 4);
    } else if (type == 4) {
      uint32_t v = static_cast<uint32_t>(strtoul(valueText, nullptr, 0));
      memcpy(values, &v, 4);
    } else {
      uint16_t w = static_cast<uint16_t>(strtoul(valueText, nullptr, 0));
      memcpy(values + 2, &w, 2);
    }
  }
  if (!OpenChannel()) return 2;
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

int32_t Block(bool write, const char *text, const char *arg) {
  uint8_t values[256] = {};
  int32_t count = 0;
  size_t textLength = strlen(text);
  bool wide = textLength == 8;
  if (write) {
    char copy[2048];
    snprintf(copy, sizeof copy, "%s", arg);
    for (char *p = strtok(copy, ","); p && count < 128; p = strtok(nullptr, ",")) {
      uint32_t v = static_cast<uint32_t>(strtoul(p, nullptr, 0));
      if (wide)
        memcpy(values + 4 * count, &v, 4);
      else
        memcpy(values + 2 * count, &v, 2);
      count++;
    }
  } else {
    count = atoi(arg);
  }
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.addressText = text;
  io.count = count;
  io.values = values;
  int32_t result = ResolveTag(text, 0, true, count, &io.address);
  if (result != 0) {
    printf("%s %s, %d elements: refused by the driver\n", write ? "write-block" : "read-block", text,
           count);
    return result;
  }
  if (!OpenChannel()) return 2;
  result = Call(write ? LUMISAR_OP_BLOCK_WRITE : LUMISAR_OP_BLOCK_READ, &io);
  printf("%s %s, %d %s: %s\n", write ? "write-block" : "read-block", text, count,
         wide ? "32-bit values" : "words", Meaning(result));
  if (result == 0 && !write) {
    for (int i = 0; i < count; ++i) {
      uint32_t v = 0;
      memcpy(&v, values + i * (wide ? 4 : 2), wide ? 4 : 2);
      printf(i % 8 == 0 ? "    %0*X" : " %0*X", wide ? 8 : 4, v);
      if (i % 8 == 7 || i == count - 1) printf("\n");
    }
  }
  return result;
}

int32_t Poll(int cycles, unsigned intervalMs, const char *list) {
  char copy[1024];
  snprintf(copy, sizeof copy, "%s", list);
  char *tags[16][2];
  int n = 0;
  for (char *p = strtok(copy, ","); p && n < 16; p = strtok(nullptr, ",")) {
    char *colon = strchr(p, ':');
    if (!colon) continue;
    *colon = 0;
    tags[n][0] = p;
    tags[n][1] = colon + 1;
    n++;
  }
  unsigned exchanges = 0, retries = 0, failures = 0;
  double last = 0, total = 0;
  int32_t worst = 0;
  for (int c = 0; c < cycles; ++c) {
    printf("cycle %d:", c + 1);
    for (int t = 0; t < n; ++t) {
      uint32_t type = 0;
      if (!TypeCode(tags[t][1], &type)) {
        printf("  %s: unknown type %s", tags[t][0], tags[t][1]);
        failures++;
        continue;
      }
      IoRequest io;
      memset(&io, 0, sizeof io);
      uint8_t values[8] = {};
      io.addressText = tags[t][0];
      io.dataType = type;
      io.count = 1;
      io.values = values;
      if (ResolveTag(tags[t][0], type, false, 1, &io.address) != 0 || !OpenChannel()) {
        failures++;
        continue;
      }
      enquiriesSeen = 0;
      double start = NowMs();
      int32_t result = Call(LUMISAR_OP_SINGLE_READ, &io);
      last = NowMs() - start;
      total += last;
      exchanges++;
      if (enquiriesSeen > 1) retries += static_cast<unsigned>(enquiriesSeen - 1);
      printf("  %s=", tags[t][0]);
      if (result == 0)
        PrintValue(type, values);
      else
        printf("(%s)", result == 1 ? "refused" : "failed");
      if (result) {
        failures++;
        worst = result > worst ? result : worst;
      }
    }
    printf("\n  exchanges %u  retries %u  failures %u  last %.1f ms  mean %.1f ms\n", exchanges,
           retries, failures, last, exchanges ? total / exchanges : 0.0);
    fflush(stdout);
    if (c + 1 < cycles) SleepMs(intervalMs);
  }
  return worst;
}

int32_t Repeat(int n, const char *text, const char *typeName) {
  double start = NowMs();
  int32_t worst = 0;
  for (int k = 0; k < n; ++k) {
    int32_t result = Single(false, text, typeName, nullptr, true);
    if (result > worst) worst = result;
  }
  double ms = NowMs() - start;
  printf("repeat %d reads of %s %s: %.0f ms, %.0f exchanges per second, %s\n", n, text, typeName,
         ms, ms > 0 ? n * 1000.0 / ms : 0.0, Meaning(worst));
  return worst;
}

int32_t Describe() {
  DriverInfo info;
  memset(&info, 0, sizeof info);
  int32_t result = Call(LUMISAR_OP_DESCRIBE_DRIVER, &info);
  printf("vendor      %s\n", info.vendorText ? info.vendorText : "");
  printf("context     %u bytes per channel\n", info.contextSize);
  printf("defaults    %u baud, %u data bits, stop-bits code %u, parity code %u\n",
         info.defaultSettings.baudRate, info.defaultSettings.dataBits,
         info.defaultSettings.stopBits, info.defaultSettings.parity);
  if (info.bannerText) PrintCp437(info.bannerText);
  return result;
}

int32_t ResolveCommand(const char *text, const char *typeName) {
  TagAddress a;
  int32_t result;
  if (strncmp(typeName, "block:", 6) == 0) {
    result = ResolveTag(text, 0, true, atoi(typeName + 6), &a);
  } else {
    uint32_t type;
    if (!TypeCode(typeName, &type)) type = 0xFFFF;
    result = ResolveTag(text, type, false, 1, &a);
  }
  printf("resolve %-9s %-9s ", text, typeName);
  if (result == 0)
    printf("-> PLC %u, word address %u, bit %u, width %u\n", a.plcNumber, a.wordAddress,
           a.bitNumber, a.width);
  else
    printf("-> %s\n", Meaning(result));
  return result;
}

bool ParseParity(const char *p, uint16_t *code) {
  const char *names[] = {"none", "odd", "even", "mark", "space"};
  for (uint16_t i = 0; i < 5; ++i) {
    if (strcmp(p, names[i]) == 0) {
      *code = i;
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    const char *o = argv[i];
    const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (strcmp(o, "--log") == 0) {
      showLog = true;
    } else if (strcmp(o, "--decode") == 0) {
      decode = true;
    } else if (!v) {
      fputs(kUsage, stderr);
      return 2;
    } else if (strcmp(o, "--port") == 0) {
      snprintf(settings.port, sizeof settings.port, "%s", v), ++i;
    } else if (strcmp(o, "--map") == 0) {
      char copy[512];
      snprintf(copy, sizeof copy, "%s", v);
      char *eq = strchr(copy, '=');
      if (eq) {
        *eq = 0;
        MapDevice(copy, eq + 1);
      }
      ++i;
    } else if (strcmp(o, "--baud") == 0) {
      settings.line.baudRate = static_cast<uint16_t>(atoi(v)), ++i;
    } else if (strcmp(o, "--data") == 0) {
      settings.line.dataBits = static_cast<uint16_t>(atoi(v)), ++i;
    } else if (strcmp(o, "--stop") == 0) {
      settings.line.stopBits = static_cast<uint16_t>(atoi(v)), ++i;
    } else if (strcmp(o, "--parity") == 0) {
      if (!ParseParity(v, &settings.line.parity)) {
        fputs(kUsage, stderr);
        return 2;
      }
      ++i;
    } else if (strcmp(o, "--timeout") == 0) {
      settings.timeout = static_cast<uint32_t>(atoi(v)), ++i;
    } else {
      fputs(kUsage, stderr);
      return 2;
    }
  }
  if (i >= argc) {
    fputs(kUsage, stderr);
    return 2;
  }
  zub = LoadDriver();
  if (!zub) return 3;
  SetLogSink(OnLog);

  int failures = 0;
  while (i < argc) {
    const char *command = argv[i++];
    auto need = [&](int n) {
      if (i + n > argc) {
        fprintf(stderr, "zubhost: %s needs %d argument(s)\n", command, n);
        exit(2);
      }
    };
    int32_t result = 0;
    if (strcmp(command, "describe") == 0) {
      result = Describe();
    } else if (strcmp(command, "note") == 0) {
      need(1);
      printf("\n== %s\n", argv[i++]);
    } else if (strcmp(command, "decode") == 0) {
      need(1);
      decode = strcmp(argv[i++], "on") == 0;
    } else if (strcmp(command, "resolve") == 0) {
      need(2);
      result = ResolveCommand(argv[i], argv[i + 1]);
      i += 2;
    } else if (strcmp(command, "read") == 0) {
      need(2);
      result = Single(false, argv[i], argv[i + 1], nullptr);
      i += 2;
    } else if (strcmp(command, "write") == 0) {
      need(3);
      result = Single(true, argv[i], argv[i + 1], argv[i + 2]);
      i += 3;
    } else if (strcmp(command, "read-block") == 0) {
      need(2);
      result = Block(false, argv[i], argv[i + 1]);
      i += 2;
    } else if (strcmp(command, "write-block") == 0) {
      need(2);
      result = Block(true, argv[i], argv[i + 1]);
      i += 2;
    } else if (strcmp(command, "repeat") == 0) {
      need(3);
      result = Repeat(atoi(argv[i]), argv[i + 1], argv[i + 2]);
      i += 3;
    } else if (strcmp(command, "poll") == 0) {
      need(3);
      result = Poll(atoi(argv[i]), static_cast<unsigned>(atoi(argv[i + 1])), argv[i + 2]);
      i += 3;
    } else {
      fprintf(stderr, "zubhost: unknown command %s\n%s", command, kUsage);
      return 2;
    }
    if (result != 0) failures++;
    fflush(stdout);
  }
  if (channelOpen) Call(LUMISAR_OP_CLOSE_PORT, nullptr);
  return failures ? 1 : 0;
}

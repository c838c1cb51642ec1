// describe, note, decode, --version: the commands that make no exchange.
#include "commands.h"
#include "lumisar_version.h"

namespace {

// Latin box drawing of the banner, code page 437 to UTF-8.
void PrintCp437(const char *text) {
  static const struct {
    unsigned char cp;
    const char *utf8;
  } map[] = {{0xC9, "\u2554"}, {0xCD, "\u2550"}, {0xBB, "\u2557"}, {0xBA, "\u2551"},
             {0xC8, "\u255A"}, {0xBC, "\u255D"}, {0xDB, "\u2588"}, {0xB2, "\u2593"},
             {0xB1, "\u2592"}, {0xB0, "\u2591"}};
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    const char *out = "?";
    for (const auto &m : map)
      if (m.cp == *p) out = m.utf8;
    if (*p < 0x80)
      putchar(*p);
    else
      fputs(out, stdout);
  }
}

}  // namespace

int32_t DescribeCommand(char **) {
  DriverInfo info = {};
  int32_t result = Call(LUMISAR_OP_DESCRIBE_DRIVER, &info);
  printf("vendor      %s\n", info.vendorText ? info.vendorText : "");
  printf("context     %u bytes per channel\n", info.contextSize);
  const SerialSettings &d = info.defaultSettings;
  printf("defaults    %u baud, %u data bits, %s stop bit%s, parity %s\n", d.baudRate, d.dataBits,
         StopBitsWords(d.stopBits), d.stopBits == 0 ? "" : "s", ParityWords(d.parity));
  if (info.bannerText) PrintCp437(info.bannerText);
  return result;
}

int32_t NoteCommand(char **args) {
  printf("\n== %s\n", args[0]);
  return 0;
}

bool CheckDecode(char **args) {
  if (strcmp(args[0], "on") == 0 || strcmp(args[0], "off") == 0) return true;
  Mistake("decode takes on or off (not \"%s\")", args[0]);
  return false;
}

int32_t DecodeCommand(char **args) {
  if (!CheckDecode(args)) return kUsageError;
  host.decode = strcmp(args[0], "on") == 0;
  return 0;
}

// Which zubhost this is, and which driver file it loaded: an integrator with
// several LUMISAR.DLL files on a PC asks this first.
int32_t VersionCommand(char **) {
  printf("zubhost %s\n", LUMISAR_VERSION_TEXT);
  char version[64], path[260];
  if (DriverFileVersion(version, sizeof version, path, sizeof path))
    printf("LUMISAR.DLL %s (%s)\n", version, path);
  else
    printf("LUMISAR.DLL: no version resource found (%s)\n", path);
  return 0;
}

// zubhost: a command-line SCADA host for LUMISAR.DLL. It loads the driver
// as a host does, opens a channel and runs the commands given, in order, in
// one process. Each command lives in a file of its own; this is the table.
#include "commands.h"
#include "output_file.h"

namespace {

struct Command {
  const char *name;
  int arguments;  // -1: all that follow
  bool needsDriver;
  int32_t (*run)(char **args);
  bool (*check)(char **args);  // null: any arguments will do
  const char *usage;
  void (*options)(FILE *to) = nullptr;  // the command's own options
};

// clang-format off
const Command kCommands[] = {
  {"describe",    0, true,  DescribeCommand,   nullptr,         "describe                         the driver's description and banner"},
  {"resolve",     2, true,  ResolveCommand,    CheckResolve,    "resolve TEXT TYPE                TYPE: word, bit, long, float, or block:COUNT"},
  {"read",        2, true,  ReadCommand,       CheckRead,       "read TEXT TYPE                   read one value"},
  {"write",       3, true,  WriteCommand,      CheckWrite,      "write TEXT TYPE VALUE            write one value"},
  {"read-block",  2, true,  ReadBlockCommand,  CheckReadBlock,  "read-block TEXT COUNT            read COUNT words, or 32-bit values when TEXT ends in L or F (floats);\n"
   "                                   COUNT 0 checks the address and sends nothing"},
  {"write-block", 2, true,  WriteBlockCommand, CheckWriteBlock, "write-block TEXT V1,V2,...       write a block; floats when TEXT ends in F"},
  {"poll",        3, true,  PollCommand,       CheckPoll,       "poll CYCLES MS TEXT:TYPE,...     read tags every MS milliseconds, with statistics"},
  {"repeat",      3, true,  RepeatCommand,     CheckRepeat,     "repeat N TEXT TYPE               read a tag N times and print the rate"},
  {"note",        1, false, NoteCommand,       nullptr,         "note TEXT                        print a heading"},
  {"decode",      1, false, DecodeCommand,     CheckDecode,     "decode on|off                    decode traced frames from here on"},
  {"analyze",    -1, false, AnalyzeCommand,    CheckAnalyze,    "analyze [--json] [--svg FILE] [--html FILE [--title TEXT]] LOGFILE... | analyze --follow LOGFILE\n"
   "                                   rebuild the operations of a driver log (- for standard input)", PrintAnalyzeOptions},
  {"scan",       -1, true,  ScanCommand,       CheckScan,       "scan [--stations FIRST-LAST] [--bauds LIST] [--parities LIST] [--all] [--json]\n"
   "                                   find the stations that answer, and at which line settings", PrintScanOptions},
};
const struct { ExitCode code; const char *meaning; } kExitCodes[] = {
  {kExitDone,        "every command done"},
  {kExitNotDone,     "a command refused or failed, or a scan found no station"},
  {kExitUsage,       "a mistake on the command line"},
  {kExitNoDriver,    "LUMISAR.DLL could not be loaded"},
  {kExitCannotRead,  "a log file could not be read"},
  {kExitCannotWrite, "output could not be written: a file, standard output, the log file"},
};
// clang-format on

void Usage(FILE *to) {
  fputs(
      "usage: zubhost [options] COMMAND [ARGS] [COMMAND [ARGS]]...\n"
      "       (options may stand anywhere, as --name VALUE or --name=VALUE)\n"
      "       zubhost --version\noptions:\n",
      to);
  PrintHostOptions(to);
  PrintRepeatedOptionRule(to);
  fputs("commands:\n", to);
  for (const Command &c : kCommands) {
    fprintf(to, "  %s\n", c.usage);
    if (c.options) c.options(to);
  }
  fputs("numbers: decimal, or hexadecimal after 0x; a leading zero is decimal (0100 is 100)\n", to);
  fputs("exit codes:\n", to);
  for (const auto &e : kExitCodes) fprintf(to, "  %d  %s\n", e.code, e.meaning);
}

const Command *Find(const char *name) {
  for (const Command &c : kCommands)
    if (strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

// How many single-character edits make one name the other.
size_t EditDistance(const char *a, const char *b) {
  size_t n = strlen(b), row[32];
  if (n >= sizeof row / sizeof row[0]) return n;
  for (size_t j = 0; j <= n; ++j) row[j] = j;
  for (size_t i = 1; a[i - 1]; ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= n; ++j) {
      size_t replaced = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      diagonal = row[j];
      row[j] = replaced;
      if (row[j - 1] + 1 < row[j]) row[j] = row[j - 1] + 1;
      if (diagonal + 1 < row[j]) row[j] = diagonal + 1;
    }
  }
  return row[n];
}

// An unknown command named, with the nearest command when it is a slip of
// a key or two, and where the list is.
void UnknownCommand(const char *name) {
  const Command *nearest = nullptr;
  size_t best = 3;
  for (const Command &c : kCommands) {
    size_t d = EditDistance(name, c.name);
    if (d < best) {
      best = d;
      nearest = &c;
    }
  }
  if (nearest)
    Mistake("unknown command \"%s\"; did you mean \"%s\"? (zubhost --help lists them)", name,
            nearest->name);
  else
    Mistake("unknown command \"%s\" (zubhost --help lists them)", name);
}

int Arguments(const Command &c, int at, int argc) {
  return c.arguments < 0 ? argc - at - 1 : c.arguments;
}

// Takes zubhost's options wherever they stand, before or after a command
// and its arguments, as getopt-style tools do, and closes up the commands
// and their arguments in order from argv[1]; *argc becomes their end. An
// option zubhost does not know is left to a command that reads options of
// its own (scan, analyze); anywhere else it is a mistake. After "--" every
// argument is a command's.
bool GatherOptions(int *argc, char **argv) {
  int kept = 1, left = 0;  // left: arguments the last command still takes; -1 all
  bool options = true;
  for (int k = 1; k < *argc;) {
    const char *a = argv[k];
    if (options && strcmp(a, "--") == 0) {
      options = false;
      ++k;
      continue;
    }
    if (options && strncmp(a, "--", 2) == 0) {
      int taken = TakeHostOption(*argc, argv, k);
      if (taken < 0) return false;
      if (taken > 0) {
        k += taken;
        continue;
      }
      if (left >= 0) {
        UnknownOption(a);
        return false;
      }
    } else if (left > 0) {
      --left;
    } else if (left == 0) {
      const Command *c = Find(a);
      left = c ? c->arguments : 0;
    }
    argv[kept] = argv[k];
    kept += 1;
    k += 1;
  }
  argv[kept] = nullptr;
  *argc = kept;
  return true;
}

// Checks the whole command line before the first exchange; *driver: a command needs it.
bool CheckCommands(int argc, char **argv, int first, bool *driver) {
  for (int k = first; k < argc;) {
    const Command *c = Find(argv[k]);
    if (!c) {
      UnknownCommand(argv[k]);
      return false;
    }
    int n = Arguments(*c, k, argc);
    // The usage's first words, up to where its explanation starts.
    int synopsis = static_cast<int>(strcspn(c->usage, "\n"));
    const char *gap = strstr(c->usage, "  ");
    if (gap && gap - c->usage < synopsis) synopsis = static_cast<int>(gap - c->usage);
    if (k + 1 + n > argc) {
      Mistake("%s takes %d argument%s: %.*s", c->name, n, n == 1 ? "" : "s", synopsis, c->usage);
      return false;
    }
    if (c->check && !c->check(argv + k + 1)) return false;
    *driver = *driver || c->needsDriver;
    k += 1 + n;
  }
  return true;
}

// --log-file's file, opened once the command line is known to be good, by
// the rule for every file zubhost writes.
bool OpenLogFile() {
  const char *reason = "";
  host.logFile = OpenOutput(host.logFileName, "a", &reason);
  if (!host.logFile)
    Mistake("--log-file cannot open \"%s\" for writing: %s", host.logFileName, reason);
  return host.logFile != nullptr;
}

// Runs the commands in order; the exit code they come to.
int RunCommands(int argc, char **argv, int first) {
  int exitCode = kExitDone;
  for (int i = first; i < argc;) {
    const Command *c = Find(argv[i]);
    int32_t result = c->run(argv + i + 1);
    i += 1 + Arguments(*c, i, argc);
    if (!OutputsWritten()) return kExitCannotWrite;
    if (result < 0) return -result;
    if (result != LUMISAR_DONE) exitCode = kExitNotDone;
  }
  return exitCode;
}

}  // namespace

int main(int argc, char **argv) {
  SetToolName("zubhost");
  int first = 1;
  if (!GatherOptions(&argc, argv)) return kExitUsage;
  if (host.help || (first >= argc && !host.version)) {
    Usage(host.help ? stdout : stderr);
    if (!host.help) return kExitUsage;
    return OutputsWritten() ? kExitDone : kExitCannotWrite;
  }
  bool driver = host.version;
  if (!CheckCommands(argc, argv, first, &driver)) return kExitUsage;
  if (host.logFileName && !OpenLogFile()) return kExitCannotWrite;
  if (driver) {
    host.zub = LoadDriver();
    if (!host.zub) return kExitNoDriver;
    SetLogSink(OnDriverLog);
  }
  if (host.version) VersionCommand(nullptr);
  int exitCode = RunCommands(argc, argv, first);
  if (host.channelOpen) Call(LUMISAR_OP_CLOSE_PORT, nullptr);
  // Closing the port logs too: what it wrote must reach the file as well.
  if (exitCode != kExitCannotWrite && !OutputsWritten()) exitCode = kExitCannotWrite;
  if (host.logFile) fclose(host.logFile);
  return exitCode;
}

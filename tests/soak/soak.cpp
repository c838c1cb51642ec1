// Soak: thousands of exchanges of every kind against plcsim processes over
// ptys, with a random single fault injected before many of them. After
// each exchange a result of 0 must have brought the simulator's true values;
// at the end each simulator's memory must hold exactly what was written
// with result 0. With several channels, each runs on its own thread with
// its own line, simulator and station, as a SCADA host runs its channels,
// and no channel's frame may reach another's line.
//   soak PLCSIM [EXCHANGES per channel] [SEED] [CHANNELS] [BAUD] [echo]
// With BAUD the simulators pace their lines at that speed, as a real line
// delivers a reply a character at a time, so that the rest of a spoiled
// reply arrives after the driver has given up on it; with "echo" as well,
// their lines echo what the driver sends, as a two-wire RS-485 line does.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <winsub.h>

#include <thread>

#include "lumisar.h"
#include "quarne_control.h"
#include "sim_core.h"
#include "soak_run.h"
#include "support/driver_api.h"
#include "support/sim_process.h"

namespace {

constexpr int kMaxChannels = 8;

// With LUMISAR_SOAK_LOG set, every line the driver logs also goes to that
// file as a host would keep it (time stamp, level, text), for zubhost
// analyze.
FILE *logFile;
void LogLine(int level, const char *line) {
  SoakCountLogLine(level, line);
  if (!logFile) return;
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  fprintf(logFile, "%s.%03ld %d %s\n", stamp, ts.tv_nsec / 1000000, level, line);
}

void Command(void *user, const char *lines) {
  SimProcessCommand(static_cast<SimProcess *>(user), lines);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: soak PLCSIM [EXCHANGES] [SEED] [CHANNELS] [BAUD] [echo]\n");
    return 2;
  }
  int total = argc > 2 ? atoi(argv[2]) : 2000;
  uint32_t seed = argc > 3 ? static_cast<uint32_t>(strtoul(argv[3], nullptr, 0)) : 0x2545F491u;
  int channels = argc > 4 ? atoi(argv[4]) : 1;
  if (channels < 1 || channels > kMaxChannels) channels = 1;
  const char *baud = argc > 5 ? argv[5] : nullptr;
  bool echo = argc > 6 && strcmp(argv[6], "echo") == 0;

  static SimProcess sims[kMaxChannels];
  static PortContext contexts[kMaxChannels];
  static SoakChannel runs[kMaxChannels];
  if (const char *path = getenv("LUMISAR_SOAK_LOG")) logFile = fopen(path, "w");
  QuarneSetSink(LogLine);
  bool ready = true;
  for (int k = 0; k < channels && ready; ++k) {
    // Channel k talks to station k+1, and its simulator plays that one only.
    char station[8];
    snprintf(station, sizeof station, "%02X", k + 1);
    // The limit is what stands between a simulator that a loaded machine
    // holds up for a moment and an attempt lost to no fault: 200 ms on an
    // instant pty, four channels and their simulators on two busy cores
    // included. A paced line adds the wire time of every frame and of its
    // echo, and a compiler beside it has been seen to hold the simulator
    // up for 300 ms: 500 ms there. (That the bound starts once a long frame
    // has crossed the line is the transaction tables' to show, on their
    // own clock.) A delayed reply comes 30 ms late.
    uint32_t limitUnits = baud ? 50 : 20;
    char delay[16];
    snprintf(delay, sizeof delay, "%u", limitUnits * 10 + 30);
    const char *const unpaced[] = {"--station", station, "--delay", delay, nullptr};
    const char *const paced[] = {"--station", station,  "--delay",
                                 delay,       "--baud", baud,
                                 "--parity",  "none",   echo ? "--echo" : nullptr,
                                 nullptr};
    const char *const *options = baud ? paced : unpaced;
    if (!SimProcessStart(&sims[k], argv[1], options)) {
      fprintf(stderr, "soak: simulator %d did not start\n", k);
      return 1;
    }
    char port[8];
    snprintf(port, sizeof port, "COM%d", 5 + k);
    WinsubMapDevice(port, sims[k].link);
    OpenRequest open;
    memset(&open, 0, sizeof open);
    snprintf(open.deviceName, sizeof open.deviceName, "%s", port);
    open.enabled = 1;
    open.replyTimeout = limitUnits;
    open.settings = SerialSettings{static_cast<uint16_t>(baud ? atoi(baud) : 19200), 8, 0, 0};
    ready = Call(LUMISAR_OP_OPEN_PORT, &contexts[k], &open) == 0;
    runs[k].context = &contexts[k];
    runs[k].station = k + 1;
    runs[k].command = Command;
    runs[k].user = &sims[k];
    runs[k].seed = seed + static_cast<uint32_t>(k) * 0x9E3779B9u;
    runs[k].exchanges = total;
    runs[k].limitMs = limitUnits * 10;
  }
  if (!ready) fprintf(stderr, "soak: cannot open a simulator's pty\n");

  if (ready && channels == 1) {
    SoakRun(&runs[0]);
  } else if (ready) {
    std::thread threads[kMaxChannels];
    for (int k = 0; k < channels; ++k) threads[k] = std::thread(SoakRun, &runs[k]);
    for (int k = 0; k < channels; ++k) threads[k].join();
  }

  bool pass = ready;
  for (int k = 0; k < channels; ++k) {
    // The controller's memory, compared whole with what was written.
    char dump[160], command[256];
    snprintf(dump, sizeof dump, "/tmp/lumisar-soak-dump-%d-%d", getpid(), k);
    snprintf(command, sizeof command, "clear\ndump %02X %s\n", k + 1, dump);
    SimProcessCommand(&sims[k], command);
    static uint16_t memory[kSimWords];
    size_t got = SoakReadDump(dump, memory, 10000);
    unlink(dump);
    unsigned mismatches = SoakMemoryMismatches(&runs[k], memory, static_cast<int>(got));
    Call(LUMISAR_OP_CLOSE_PORT, &contexts[k], nullptr);
    // The simulator prints its statistics as it stops.
    char stats[512];
    SimProcessStop(&sims[k], stats, sizeof stats);
    SoakSimCounts counts = {};
    bool counted = SoakSimStats(stats, &counts);
    if (!counted) printf("soak: station %02X: FAIL: no statistics from the simulator\n", k + 1);
    pass = SoakVerdict(&runs[k], mismatches, counts, stdout) && counted && pass;
  }
  if (logFile) fclose(logFile);
  printf("%d passed, %d failed, 0 skipped\n", pass ? 1 : 0, pass ? 0 : 1);
  return pass ? 0 : 1;
}

// What the Wine suite's runner set up: COM5 is the controller simulator,
// COM6 a peer that echoes every byte, and the simulator's control FIFO.
#pragma once

#include <stddef.h>

constexpr const char *kSimPort = "COM5";
constexpr const char *kEchoPort = "COM6";

// "Z:" + the FIFO's Unix path, or null when the runner gave none.
const char *SimControlPath();
// Writes one command line to the simulator and gives it time to act.
void SimCommand(const char *command);
// The same for simulator 1 (COM5) or 2 (COM7), waiting waitMs after it.
void SimCommandTo(int sim, const char *command, int waitMs);
// The runner says this machine runs i386 programs under qemu emulation.
bool Emulated();
// A file of the runner's folder, as a Unix path; false without a runner.
bool RunnerPath(const char *name, char *out, size_t size);
// Asks the runner to do `what` (kill, kill-later, start: the second
// simulator) and waits until it has, at most timeoutMs.
bool RunnerRequest(const char *what, int timeoutMs);

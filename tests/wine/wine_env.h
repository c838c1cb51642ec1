// What the Wine suite's runner set up: COM5 is the controller simulator,
// COM6 a peer that echoes every byte, and the simulator's control FIFO.
#pragma once

constexpr const char *kSimPort = "COM5";
constexpr const char *kEchoPort = "COM6";

// "Z:" + the FIFO's Unix path, or null when the runner gave none.
const char *SimControlPath();
// Writes one command line to the simulator and gives it time to act.
void SimCommand(const char *command);

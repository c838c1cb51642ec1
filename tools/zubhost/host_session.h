// What every zubhost command shares: the line settings, the one channel the
// host opens, the driver's entry point and the way results are printed.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "host_platform.h"
#include "lumisar.h"

struct HostSettings {
  char port[LUMISAR_DEVICE_NAME_SIZE] = "COM1";
  SerialSettings line = {19200, 8, 0, 1};
  uint32_t timeout = 100;
};

struct HostSession {
  HostSettings settings;
  ZubMainFn zub = nullptr;
  PortContext channel = {};
  bool channelOpen = false;
  bool showLog = false;
  bool decode = false;
  FILE *logFile = nullptr;  // --log-file: every logged line, time-stamped
  int enquiriesSeen = 0;    // enquiries sent since the counter was reset
};

extern HostSession host;

// Routes the driver's log lines to the screen, the decoder and the log file.
void OnDriverLog(int level, const char *line);

// The words a person reads for a result code.
const char *Meaning(int32_t result);
int32_t Call(uint32_t operation, void *params);
// Opens the channel on first use; says why when it cannot.
bool OpenChannel();
int32_t ResolveTag(const char *text, uint32_t type, bool block, int32_t count, TagAddress *a);
// When the driver refused an address text: what the text must look like,
// and which character broke it.
void ExplainAddress(const char *text, uint32_t type, bool block, int32_t count);

// word, bit, long, float -> data type code; false for any other name.
bool TypeCode(const char *name, uint32_t *code);
extern const char kTypeNames[];
void PrintValue(uint32_t type, const uint8_t *values);

// Numbers from the command line, whole and in range, or a message naming
// what was given and what is accepted.
bool ParseNumber(const char *what, const char *text, long low, long high, long *out);

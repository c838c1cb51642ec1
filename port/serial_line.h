// The serial line layer: the only code that touches the communications
// device. It keeps no state; the caller holds the handle.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "lumisar.h"

// Results of the line layer; 0 is success. The port operations turn any
// failure into the operation result 2, the link routines into 0.
enum LineResult : int {
  kLineOk = 0,
  kLineOpenFailed = 1,      // open or time-outs failed; purge's last read failed
  kLineShortWrite = 2,      // fewer bytes written than asked
  kLineGetStateFailed = 4,  // reading the line state failed
  kLineSetStateFailed = 5,  // setting the line state failed
  kLineIoFailed = 7,        // read, write or close failed; a read got no byte
};

// The read limit an open sets, and what a limit of 0 is applied as: a read
// must never wait for ever on a controller that does not answer.
constexpr uint32_t kDefaultReadLimitUnits = 100;  // 1000 ms
constexpr uint32_t kPurgeReadLimitUnits = 5;      // 50 ms while draining
constexpr DWORD kQueueSize = 1200;
constexpr DWORD kPurgeChunk = 512;

int SerialOpen(const char *deviceName, const SerialSettings &settings, uint16_t lineControl,
               HANDLE *out);
uint32_t SerialSetReplyTimeout(HANDLE line, uint32_t units);
int SerialPurge(HANDLE line);
int SerialWrite(HANDLE line, const uint8_t *bytes, DWORD count, DWORD *written);
int SerialRead(HANDLE line, uint8_t *buffer, DWORD count, DWORD *received);
int SerialClose(HANDLE line);

// DTR and RTS modes selected by a PortSpec's lineControl flags.
int DtrMode(uint16_t lineControl);
int RtsMode(uint16_t lineControl);

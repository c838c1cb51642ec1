// The serial line layer: the only code that touches the communications
// device. It keeps no state; the caller holds the handle.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "lumisar.h"
#include "quiet_line.h"

// Results of the line layer; 0 is success. Every Serial* call that can
// fail reports through them (SerialCharMicros, DtrMode and RtsMode cannot
// fail), and a value it has to give goes through an out parameter. The
// port operations turn any failure into the operation result 2, the link
// routines into false.
//
//   SerialOpen             kLineOk, kLineOpenFailed, kLineGetStateFailed,
//                          kLineSetStateFailed
//   SerialSetReplyTimeout  kLineOk, kLineIoFailed
//   SerialPurge            kLineOk, kLineIoFailed
//   SerialWrite            kLineOk, kLineShortWrite, kLineIoFailed
//   SerialRead             kLineOk, kLineIoFailed
//   SerialReadReply        kLineOk, kLineIoFailed (no byte came), kLineTooSlow
//   SerialReadReplyOn      kLineOk, kLineIoFailed, kLineTooSlow (also when nothing came)
//   SerialWaiting          kLineOk, kLineIoFailed
//   SerialAwaitQuiet       kLineOk, kLineIoFailed
//   SerialByteWithin       kLineOk (whether a byte came in *came), kLineIoFailed
//   SerialClose            kLineOk, kLineIoFailed
enum LineResult : int {
  kLineOk = 0,
  kLineOpenFailed = 1,      // the device would not open, or took no time-outs
  kLineShortWrite = 2,      // fewer bytes written than asked
  kLineGetStateFailed = 4,  // reading the line state failed
  kLineSetStateFailed = 5,  // setting the line state failed
  kLineIoFailed = 7,        // a call on the open device failed (read, write, close, its
                            // time-outs or its status), a read got no byte, or a purge's
                            // read failed
  kLineTooSlow = 8,         // a reply begun but still incomplete when its time was up:
                            // the rest of it may yet arrive
};

// The read limit an open sets, and what a limit of 0 is applied as: a read
// must never wait for ever on a controller that does not answer.
constexpr uint32_t kDefaultReadLimitUnits = 100;  // 1000 ms
constexpr uint32_t kPurgeReadLimitUnits = 5;      // 50 ms while draining
constexpr DWORD kQueueSize = 1200;
constexpr DWORD kPurgeChunk = 512;
// A purge reads at most this many chunks: more than the receive queue can
// hold, so a line that keeps delivering cannot hold the caller for ever.
constexpr int kPurgeMaxReads = kQueueSize / kPurgeChunk + 2;
// SerialReadReply's margin that leaves a reply unbounded, as SerialRead is.
constexpr DWORD kNoReplyBound = 0xFFFFFFFF;
// Character times are reckoned at no less than this speed, so that a line
// set to 0 baud still has finite waits.
constexpr uint32_t kSlowestBaud = 50;

LineResult SerialOpen(const char *deviceName, const SerialSettings &settings, uint16_t lineControl,
                      HANDLE *out);
// Sets the read limit in units of 10 ms; the limit it replaces goes to
// *previous (rounded down to whole units) when that is not null.
LineResult SerialSetReplyTimeout(HANDLE line, uint32_t units, uint32_t *previous);
LineResult SerialPurge(HANDLE line);
LineResult SerialWrite(HANDLE line, const uint8_t *bytes, DWORD count, DWORD *written);
LineResult SerialRead(HANDLE line, uint8_t *buffer, DWORD count, DWORD *received);
// SerialRead for a reply. Its first byte may come laterMs after the read
// limit (the frame it answers is still on its way to the controller), and
// once that limit and laterMs and marginMs more have passed since the call,
// a reply still incomplete ends with kLineTooSlow: each wait bounds only
// the gap before the next bytes, so a controller trickling its reply would
// otherwise hold the line for a limit per byte. A reply that began and then
// stopped ends with kLineTooSlow too; kLineIoFailed means no byte came.
LineResult SerialReadReply(HANDLE line, uint8_t *buffer, DWORD count, DWORD *received,
                           DWORD laterMs, DWORD marginMs);
// Goes on with a reply SerialReadReply began at `start` (SerialNow's time)
// with the same laterMs and marginMs: the reply has begun, so every wait is
// cut to what its bound has left, and a wait that brings nothing ends with
// kLineTooSlow. An echo and the answer behind it are read this way within
// the one bound that started with the frame.
LineResult SerialReadReplyOn(HANDLE line, DWORD start, uint8_t *buffer, DWORD count,
                             DWORD *received, DWORD laterMs, DWORD marginMs);
// The clock the line layer's bounds are reckoned on, in ms.
DWORD SerialNow();
// The number of bytes waiting in the receive queue, without reading them.
LineResult SerialWaiting(HANDLE line, DWORD *waiting);
// Discards what arrives until nothing has come for quietMs (graceMs more
// at first), or until one read limit and marginMs have passed: the rest of
// a reply the driver gave up on must not be read as the start of the next.
LineResult SerialAwaitQuiet(HANDLE line, DWORD quietMs, DWORD graceMs, DWORD marginMs);
// Whether a byte comes within waitMs, in *came; it is read and thrown away.
LineResult SerialByteWithin(HANDLE line, DWORD waitMs, bool *came);
// Time on the wire of one character at these settings (start bit, data
// bits, parity bit, stop bits), in microseconds.
uint32_t SerialCharMicros(const SerialSettings &settings);
LineResult SerialClose(HANDLE line);

// DTR and RTS modes selected by a PortSpec's lineControl flags.
int DtrMode(uint16_t lineControl);
int RtsMode(uint16_t lineControl);

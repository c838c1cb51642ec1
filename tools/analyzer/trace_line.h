// Reads the lines LUMISAR.DLL writes into a host's log: finds the driver's
// text behind whatever the host put before it, decodes a traced frame's 17
// fields with strict hexadecimal, decodes a header, and names the cause a
// diagnostic line stands for. The log analyser, the trace decoder and poll
// all read the driver's lines through it.
#pragma once

#include <stdint.h>

#include "protocol/protocol_facts.h"

enum TraceKind {
  kTraceOther,       // not a line of the driver's
  kTraceSent,        // SendStr: a frame the driver sent
  kTraceReceived,    // RecvStr: the reply buffer after a receive
  kTraceDiagnostic,  // a transaction's diagnostic
  kTraceEcho,        // the line echoed a frame and the driver set the echo aside: no failure
  kTraceOpenFailed,  // a port that would not open
  kTraceUnknown,     // a driver line of no known kind
};

struct TraceLine {
  TraceKind kind;
  const char *text;  // where the driver's text starts in the line
  bool damaged;      // a trace whose fields are not 17 hexadecimal pairs
  uint8_t bytes[kTraceFields];
  int cause;  // a diagnostic's cause, or kCauseCount when the bytes tell it
};

// Whether a received trace shows the frame `sent` traced just before it:
// the line's echo, which the driver traces and sets aside. `length` is the
// frame's length as SentLength tells it.
bool ShowsEcho(const uint8_t *received, const uint8_t *sent, int length);
// The length of a frame the driver sent, from its trace (up to 17 bytes
// of it), given the data bytes the last header announced.
int SentLength(const uint8_t *sent, int dataBytes);

// Reads one line of a host's log (without its line end).
TraceLine ReadTraceLine(const char *line);

// The driver's version from its banner, where a host printed the banner
// into its log ("... serial driver Version 1.2.3 ..."); false on any other line.
bool ReadBannerVersion(const char *line, char *version, int size);

// The port a line of a port that would not open names ("COM5"), or null.
const char *OpenFailedPort(const TraceLine &t);

// Two hexadecimal digits, upper or lower case; -1 when either is not one.
int Hex2(const uint8_t *p);

// The fields of a read or write header frame from its first 13 bytes (an
// enquiry's trace shows no more of the header behind it); false when any of
// them is not hexadecimal.
struct TracedHeader {
  int plc;
  bool write;
  uint32_t wordAddress;  // counted from 1: V-memory address + 1
  int bytes;
};
bool DecodeHeader(const uint8_t *frame, TracedHeader *out);
// Whether a header frame asks for a write (its direction character).
bool HeaderWrites(const uint8_t *frame);

// The V-memory address (shown in octal) a header's word address names: the
// header counts words from 1, so V0 is word 1, within its 16 bits.
inline uint32_t VMemoryAddress(uint32_t wordAddress) { return (wordAddress + 0xFFFFu) & 0xFFFFu; }

// The enquiry 'N', station byte, ENQ. EnquiryPlc reads the PLC number from
// the station byte of an enquiry, or of the acknowledge that answers it.
bool IsEnquiry(const uint8_t *frame);
int EnquiryPlc(const uint8_t *frame);

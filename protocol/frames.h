// The Transparent Byte Protocol's byte level: control bytes, frame builders
// and the XOR check byte, plus the two traced routines every byte goes
// through.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "address/address_text.h"
#include "lumisar.h"

constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ENQ = 0x05;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;  // a controller's no, where ACK would be its yes
constexpr uint8_t ETB = 0x17;
constexpr uint8_t kEnquiryStart = 'N';
constexpr uint8_t kStationOffset = 0x20;

constexpr int kEnquiryLength = 3;
constexpr int kAcknowledgeLength = 3;
constexpr int kHeaderLength = 17;
constexpr int kMaxDataBytes = 256;
constexpr int kFrameOverhead = 3;  // STX, ETX and the check byte

// Check byte: XOR of the bytes between the start byte and the terminator
// of a frame of `length` bytes (the check byte last).
inline uint8_t CalcLrc(const uint8_t *frame, int length) {
  uint8_t lrc = 0;
  for (int i = 1; i <= length - 3; ++i) lrc ^= frame[i];
  return lrc;
}
// Whether the frame's last byte is its check byte.
bool CheckLrc(const uint8_t *frame, int length);

void MakeReadHeader(PortContext *context, const IoRequest *io);
void MakeBlockReadHeader(PortContext *context, const IoRequest *io);
void MakeWriteFrames(PortContext *context, const IoRequest *io);
void MakeBlockWriteFrames(PortContext *context, const IoRequest *io);

// Bytes of data one element takes on the line.
inline int ElementBytes(uint32_t width) { return width == 32 ? 4 : 2; }

// Sends n bytes that lie in the context's frame buffers, after draining the
// receive queue; traces 17 bytes from the frame. Whether all n were
// written.
bool SendStr(PortContext *context, const uint8_t *bytes, int n);
// How the read of a reply ended.
enum class Reception {
  Complete,  // all the bytes asked for came
  Nothing,   // no byte came within the limit, or the port failed
  Partial,   // the reply began but was not complete when its time was up
};
// Reads n bytes into buffer (capacity bytes long) and traces 17 bytes from
// it. A reply to the `answering` bytes just sent may begin that much wire
// time later than the limit: a controller answers a frame only once it has
// crossed the line, and a write returns before it has.
Reception RecvStr(PortContext *context, uint8_t *buffer, int n, size_t capacity, int answering = 0);
// What an operation has learnt of its line: whether it echoes. It lives on
// the operation's stack, for the length of one operation.
struct EchoNote {
  bool heard;  // an echo was set aside, and the log has said so
};
// Reads the n-byte reply to the `length` bytes of `sent`, just sent, as
// RecvStr does. On a line that echoes, the bytes that come back first are
// the frame itself: when they begin like it, the rest of the frame is read
// too and traced; the whole frame, byte for byte, is set aside (the log
// says so once an operation) and the reply read behind it within the same
// bound; anything less is a reply spoiled in part.
Reception RecvAfter(PortContext *context, const uint8_t *sent, int length, uint8_t *buffer, int n,
                    size_t capacity, EchoNote *note);
// After the `length` bytes of a frame that nothing answers, on a line
// known to echo: takes the frame's echo from the line, so that the next
// exchange does not read it ahead of its own.
void TakeLastEcho(PortContext *context, int length, const EchoNote *note);
// After a reply that was not what the dialogue expected: lets the rest of
// it arrive and discards it, so that the next attempt starts on a quiet
// line instead of reading that rest as its own reply. The controller's
// answer to the last `answering` bytes sent cannot begin before they have
// crossed the line, so the first quiet interval waits for them too; `rest`
// is the most the controller may still send in this dialogue.
void LetLineFallQuiet(PortContext *context, int answering, int rest);
// Whether bytes wait beyond what the dialogue has read so far; with
// `expectMore`, also whether one comes within a quiet interval. A line
// that cannot tell counts as having them.
bool BytesBeyond(PortContext *context, bool expectMore);

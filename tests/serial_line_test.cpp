// The serial line layer against an instrumented in-memory port: the Win32
// calls it makes, in which order, with which values, and what each failure
// gives.
#include "port/serial_line.h"

#include <gtest/gtest.h>
#include <winsub.h>

#include <initializer_list>

namespace {

const SerialSettings kOdd8N1 = {19200, 8, 0, 1};

// The line's clock alone: the waits a test counts must not grow by the
// moments a loaded or emulated machine takes between two reads.
WinsubMemDevice *FreshPort() {
  WinsubReset();
  WinsubLineClockOnly(1);
  return WinsubAddMemoryDevice("COM3");
}

// The limit SerialSetReplyTimeout replaced, in units, or -1 when it failed.
int64_t Replaced(HANDLE h, uint32_t units) {
  uint32_t previous = 0;
  if (SerialSetReplyTimeout(h, units, &previous) != kLineOk) return -1;
  return previous;
}

HANDLE OpenOk(WinsubMemDevice *dev, uint16_t lineControl = 8) {
  HANDLE h = nullptr;
  EXPECT_EQ(SerialOpen("COM3", kOdd8N1, lineControl, &h), kLineOk);
  WinsubMemClearLog(dev);
  return h;
}

}  // namespace

TEST(SerialLine, OpenConfiguresTheLineMemberByMember) {
  WinsubMemDevice *dev = FreshPort();
  DCB before = dev->dcb;
  HANDLE h = nullptr;
  EXPECT_EQ(SerialOpen("COM3", kOdd8N1, 8, &h), kLineOk);
  EXPECT_TRUE(h != nullptr && h != INVALID_HANDLE_VALUE);
  const int order[] = {WINSUB_CREATE, WINSUB_GET_STATE, WINSUB_SET_TIMEOUTS, WINSUB_SET_STATE,
                       WINSUB_SETUP};
  EXPECT_EQ(dev->callCount, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(dev->calls[i], order[i]);
  const DCB &d = dev->dcb;
  EXPECT_EQ(d.DCBlength, 28);
  EXPECT_EQ(d.BaudRate, 19200);
  EXPECT_EQ(d.fBinary, 1);
  EXPECT_EQ(d.fParity, 1);
  EXPECT_EQ(d.fOutxCtsFlow, 0);
  EXPECT_EQ(d.fOutxDsrFlow, 0);
  EXPECT_EQ(d.fDtrControl, DTR_CONTROL_DISABLE);
  EXPECT_EQ(d.fDsrSensitivity, 0);
  EXPECT_EQ(d.fOutX, 0);
  EXPECT_EQ(d.fInX, 0);
  EXPECT_EQ(d.fErrorChar, 0);
  EXPECT_EQ(d.fNull, 0);
  EXPECT_EQ(d.fRtsControl, RTS_CONTROL_DISABLE);
  EXPECT_EQ(d.fAbortOnError, 0);
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, ODDPARITY);
  EXPECT_EQ(d.StopBits, ONESTOPBIT);
  EXPECT_EQ(static_cast<uint8_t>(d.ErrorChar), 0xFC);
  // Left as read.
  EXPECT_EQ(d.fTXContinueOnXoff, before.fTXContinueOnXoff);
  EXPECT_EQ(d.XonLim, before.XonLim);
  EXPECT_EQ(d.XoffLim, before.XoffLim);
  EXPECT_EQ(d.XonChar, before.XonChar);
  EXPECT_EQ(d.XoffChar, before.XoffChar);
  EXPECT_EQ(d.EofChar, before.EofChar);
  EXPECT_EQ(d.EvtChar, before.EvtChar);
  EXPECT_EQ(d.wReserved1, before.wReserved1);
  const COMMTIMEOUTS &t = dev->timeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, 0);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 0);
  EXPECT_EQ(dev->inQueueSize, 1200);
  EXPECT_EQ(dev->outQueueSize, 1200);
}

TEST(SerialLine, OpenTakesOnlyTheLowBytesOfTheSettings) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h;
  const SerialSettings odd = {65535, 0x0107, 0x0202, 0x0300};
  EXPECT_EQ(SerialOpen("COM3", odd, 8, &h), kLineOk);
  EXPECT_EQ(dev->dcb.BaudRate, 65535);
  EXPECT_EQ(dev->dcb.ByteSize, 7);
  EXPECT_EQ(dev->dcb.StopBits, 2);
  EXPECT_EQ(dev->dcb.Parity, 0);
}

TEST(SerialLine, LineControlSelectsDtrAndRts) {
  struct Row {
    uint16_t flags;
    int dtr, rts;
  };
  const Row rows[] = {
      {0x0000, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
      {0x0008, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
      {0x0001, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {0x0100, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {0x8001, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {0x8000, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE},
      {0x0002, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
      {0x0200, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
      {0x3200, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
      {0x1000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
      {0x3000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
      {0x2000, DTR_CONTROL_DISABLE, RTS_CONTROL_TOGGLE},
      {0xA103, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
  };
  for (const Row &row : rows) {
    WinsubMemDevice *dev = FreshPort();
    HANDLE h;
    EXPECT_EQ(SerialOpen("COM3", kOdd8N1, row.flags, &h), kLineOk);
    EXPECT_EQ(dev->dcb.fDtrControl, row.dtr);
    EXPECT_EQ(dev->dcb.fRtsControl, row.rts);
  }
}

TEST(SerialLine, OpenFailuresCloseWhatWasOpened) {
  struct Row {
    int WinsubMemDevice::*fault;
    int result;
  };
  const Row rows[] = {{&WinsubMemDevice::failCreate, kLineOpenFailed},
                      {&WinsubMemDevice::failGetState, kLineGetStateFailed},
                      {&WinsubMemDevice::failSetTimeouts, kLineOpenFailed},
                      {&WinsubMemDevice::failSetState, kLineSetStateFailed}};
  for (const Row &row : rows) {
    WinsubMemDevice *dev = FreshPort();
    dev->*row.fault = 1;
    HANDLE h = nullptr;
    EXPECT_EQ(SerialOpen("COM3", kOdd8N1, 8, &h), row.result);
    EXPECT_EQ(dev->openHandles, 0);
    EXPECT_EQ(WinsubOpenHandleCount(), 0);
  }
  FreshPort();
  HANDLE h = nullptr;
  EXPECT_EQ(SerialOpen("COM9", kOdd8N1, 8, &h), kLineOpenFailed);
  EXPECT_TRUE(h == INVALID_HANDLE_VALUE);
}

TEST(SerialLine, SecondOpenOfABusyPortIsRefused) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE first, second;
  EXPECT_EQ(SerialOpen("COM3", kOdd8N1, 8, &first), kLineOk);
  EXPECT_EQ(SerialOpen("COM3", kOdd8N1, 8, &second), kLineOpenFailed);
  EXPECT_EQ(dev->openHandles, 1);
  EXPECT_EQ(SerialClose(first), kLineOk);
  EXPECT_EQ(dev->openHandles, 0);
}

TEST(SerialLine, NulOpensWithoutConfigurationButOtherCasesDoNot) {
  FreshPort();
  HANDLE h = nullptr;
  EXPECT_EQ(SerialOpen("NUL", kOdd8N1, 8, &h), kLineOk);
  EXPECT_EQ(SerialClose(h), kLineOk);
  // "nul" is an ordinary name: /dev/null has no line state to read.
  WinsubMapDevice("nul", "/dev/null");
  EXPECT_EQ(SerialOpen("nul", kOdd8N1, 8, &h), kLineGetStateFailed);
  EXPECT_EQ(WinsubOpenHandleCount(), 0);
}

TEST(SerialLine, ReplyTimeoutArithmetic) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  EXPECT_EQ(Replaced(h, 250), 100);
  EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, 2500);
  // The limit already in force: nothing written.
  int writes = dev->setTimeoutsCount;
  EXPECT_EQ(Replaced(h, 250), 250);
  EXPECT_EQ(dev->setTimeoutsCount, writes);
  // A previous limit that is no whole number of units rounds down; one
  // below 10 ms reports 0.
  dev->timeouts.ReadTotalTimeoutConstant = 1239;
  EXPECT_EQ(Replaced(h, 1), 123);
  dev->timeouts.ReadTotalTimeoutConstant = 9;
  EXPECT_EQ(Replaced(h, 7), 0);
  EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, 70);
  // Other members stay as read.
  dev->timeouts.ReadIntervalTimeout = 3;
  Replaced(h, 8);
  EXPECT_EQ(dev->timeouts.ReadIntervalTimeout, 3);
  dev->failGetTimeouts = 1;
  EXPECT_EQ(Replaced(h, 9), -1);
  dev->failGetTimeouts = 0;
  dev->failSetTimeouts = 1;
  EXPECT_EQ(Replaced(h, 9), -1);
}

TEST(SerialLine, AZeroReplyTimeoutNeverLeavesReadsWithoutALimit) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  Replaced(h, 0);
  EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, 1000);
  // Nor does a limit so large that ten times it would wrap round to a short
  // one: the largest whole limit below the wrap is applied instead.
  const DWORD capped = 0xFFFFFFFEu / 10 * 10;
  for (uint32_t units : {0xFFFFFFFFu, 429496730u}) {
    Replaced(h, 0);
    Replaced(h, units);
    EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, capped);
  }
  // A limit just below the cap goes to the line as it is.
  Replaced(h, 429496728u);
  EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, 4294967280u);
}

TEST(SerialLine, PurgeOnAQuietLineReadsNothing) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  EXPECT_EQ(SerialPurge(h), kLineOk);
  EXPECT_EQ(dev->callCount, 1);
  EXPECT_EQ(dev->calls[0], WINSUB_CLEAR_ERROR);
}

TEST(SerialLine, PurgeDrainsInChunksAndRestoresTheLimit) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  Replaced(h, 37);
  uint8_t junk[600];
  for (int i = 0; i < 600; ++i) junk[i] = static_cast<uint8_t>(i);
  WinsubMemPush(dev, junk, sizeof junk);
  WinsubMemClearLog(dev);
  EXPECT_EQ(SerialPurge(h), kLineOk);
  EXPECT_EQ(dev->readCount, 2);
  EXPECT_EQ(dev->readSizes[0], 512);
  EXPECT_EQ(dev->readGot[0], 512);
  EXPECT_EQ(dev->readGot[1], 88);
  EXPECT_EQ(WinsubMemWaiting(dev), 0);
  EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, 370);
  // Drained at the short limit (the wait of the last, short read).
  EXPECT_EQ(dev->waitedMs, 50);
}

TEST(SerialLine, PurgeAfterAFailedStatusQueryStillDrains) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  dev->failClearError = 1;
  EXPECT_EQ(SerialPurge(h), kLineOk);
  EXPECT_EQ(dev->readCount, 1);
  dev->failRead = 1;
  EXPECT_EQ(SerialPurge(h), kLineIoFailed);
  EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, 1000);
}

TEST(SerialLine, WriteResults) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  const uint8_t frame[5] = {0x02, 0x34, 0x12, 0x03, 0x26};
  DWORD written = 99;
  EXPECT_EQ(SerialWrite(h, frame, 5, &written), kLineOk);
  EXPECT_EQ(written, 5);
  EXPECT_EQ(memcmp(dev->tx, frame, 5), 0);
  dev->shortWriteBy = 2;
  EXPECT_EQ(SerialWrite(h, frame, 5, &written), kLineShortWrite);
  EXPECT_EQ(written, 3);
  dev->failWrite = 1;
  written = 42;
  EXPECT_EQ(SerialWrite(h, frame, 5, &written), kLineIoFailed);
  EXPECT_EQ(written, 42);
  EXPECT_EQ(SerialWrite(h, frame, 5, nullptr), kLineIoFailed);
}

TEST(SerialLine, ReadTakesExactlyTheCountOrReportsWhatCame) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  uint8_t buf[8] = {};
  DWORD got = 77;
  EXPECT_EQ(SerialRead(h, buf, 3, &got), kLineIoFailed);
  EXPECT_EQ(got, 0);
  // Two bytes in time, the third after the first wait.
  const uint8_t ack[3] = {0x4E, 0x21, 0x06};
  WinsubMemPush(dev, ack, 2);
  WinsubMemPushLater(dev, ack + 2, 1);
  WinsubMemClearLog(dev);
  EXPECT_EQ(SerialRead(h, buf, 3, &got), kLineOk);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(memcmp(buf, ack, 3), 0);
  EXPECT_EQ(dev->readCount, 2);
  // Two bytes and then silence: 7, with the count telling what is there.
  WinsubMemPush(dev, ack, 2);
  EXPECT_EQ(SerialRead(h, buf, 3, &got), kLineIoFailed);
  EXPECT_EQ(got, 2);
  dev->failRead = 1;
  EXPECT_EQ(SerialRead(h, buf, 1, nullptr), kLineIoFailed);
}

TEST(SerialLine, CloseReportsFailureAndKeepsTheHandle) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  dev->failClose = 1;
  EXPECT_EQ(SerialClose(h), kLineIoFailed);
  EXPECT_EQ(dev->openHandles, 1);
  dev->failClose = 0;
  EXPECT_EQ(SerialClose(h), kLineOk);
  EXPECT_EQ(SerialClose(h), kLineIoFailed);
}

// A reply with 1000 ms, 20 more for its first byte and 5 of margin: nothing
// at all is silence; a reply that began and stopped, or trickled past its
// time, is too slow. The line's own limit is back after each.
TEST(SerialLine, AReplyThatBeganButDidNotEndIsTooSlow) {
  // clang-format off
  const struct {
    int now, later;
    LineResult result;
    DWORD got, waitedMs;
  } rows[] = {{0, 0, kLineIoFailed, 0, 1020}, {3, 0, kLineOk, 3, 0}, {1, 0, kLineTooSlow, 1, 1025},
              {1, 1, kLineTooSlow, 2, 1025},  {2, 1, kLineOk, 3, 1020}};
  // clang-format on
  for (const auto &row : rows) {
    WinsubMemDevice *dev = FreshPort();
    HANDLE h = OpenOk(dev);
    WinsubMemPush(dev, "N!\x06", row.now);
    WinsubMemPushLater(dev, &"N!\x06"[row.now], row.later);
    uint8_t buf[3];
    DWORD got = 9;
    EXPECT_EQ(SerialReadReply(h, buf, 3, &got, 20, 5), row.result);
    EXPECT_EQ(got, row.got);
    EXPECT_EQ(dev->waitedMs, row.waitedMs);
    EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, 1000);
  }
}

// A byte within a wait is told apart from none, and both from a failure;
// quiet comes once a wait (the first with its grace) brings nothing.
TEST(SerialLine, AByteWithinAndQuietAreAnswersNotFailures) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  bool came = true;
  EXPECT_EQ(SerialByteWithin(h, 7, &came), kLineOk);
  EXPECT_FALSE(came);
  uint8_t junk[600] = {};
  WinsubMemPush(dev, junk, sizeof junk);
  WinsubMemPushLater(dev, junk, 2);
  EXPECT_EQ(SerialByteWithin(h, 7, &came), kLineOk);
  EXPECT_TRUE(came);
  EXPECT_EQ(SerialAwaitQuiet(h, 10, 5, 100), kLineOk);
  EXPECT_EQ(WinsubMemWaiting(dev), 0);
  EXPECT_EQ(dev->waitedMs, 7 + 3 * 10);
  EXPECT_EQ(dev->timeouts.ReadTotalTimeoutConstant, 1000);
  dev->failSetTimeouts = 1;
  EXPECT_EQ(SerialAwaitQuiet(h, 10, 5, 100), kLineIoFailed);
  EXPECT_EQ(SerialByteWithin(h, 7, &came), kLineIoFailed);
  dev->failSetTimeouts = 0;
  dev->failRead = 1;
  EXPECT_EQ(SerialByteWithin(h, 7, &came), kLineIoFailed);
}

TEST(SerialLine, ACharactersWireTimeCountsParityAndStopBits) {
  // clang-format off
  const struct {
    SerialSettings settings;
    uint32_t micros;
  } rows[] = {{{19200, 8, ONESTOPBIT, NOPARITY}, 521},    {{19200, 8, ONESTOPBIT, ODDPARITY}, 573},
              {{1200, 8, TWOSTOPBITS, EVENPARITY}, 10000}, {{9600, 7, ONE5STOPBITS, ODDPARITY}, 1094},
              {{0, 8, ONESTOPBIT, NOPARITY}, 200000},      {{300, 0x0109, ONESTOPBIT, NOPARITY}, 33334}};
  // clang-format on
  for (const auto &row : rows) EXPECT_EQ(SerialCharMicros(row.settings), row.micros);
}

// The serial line layer against an instrumented in-memory port: the Win32
// calls it makes, in which order, with which values, and what each failure
// gives.
#include "port/serial_line.h"

#include <winsub.h>

#include <initializer_list>

#include "support/check.h"

namespace {

const SerialSettings kOdd8N1 = {19200, 8, 0, 1};

WinsubMemDevice *FreshPort() {
  WinsubReset();
  return WinsubAddMemoryDevice("COM3");
}

HANDLE OpenOk(WinsubMemDevice *dev, uint16_t lineControl = 8) {
  HANDLE h = nullptr;
  CHECK_EQ(SerialOpen("COM3", kOdd8N1, lineControl, &h), kLineOk);
  WinsubMemClearLog(dev);
  return h;
}

}  // namespace

TEST(OpenConfiguresTheLineMemberByMember) {
  WinsubMemDevice *dev = FreshPort();
  DCB before = dev->dcb;
  HANDLE h = nullptr;
  CHECK_EQ(SerialOpen("COM3", kOdd8N1, 8, &h), kLineOk);
  CHECK(h != nullptr && h != INVALID_HANDLE_VALUE);
  const int order[] = {WINSUB_CREATE, WINSUB_GET_STATE, WINSUB_SET_TIMEOUTS, WINSUB_SET_STATE,
                       WINSUB_SETUP};
  CHECK_EQ(dev->callCount, 5);
  for (int i = 0; i < 5; ++i) CHECK_EQ(dev->calls[i], order[i]);
  const DCB &d = dev->dcb;
  CHECK_EQ(d.DCBlength, 28);
  CHECK_EQ(d.BaudRate, 19200);
  CHECK_EQ(d.fBinary, 1);
  CHECK_EQ(d.fParity, 1);
  CHECK_EQ(d.fOutxCtsFlow, 0);
  CHECK_EQ(d.fOutxDsrFlow, 0);
  CHECK_EQ(d.fDtrControl, DTR_CONTROL_DISABLE);
  CHECK_EQ(d.fDsrSensitivity, 0);
  CHECK_EQ(d.fOutX, 0);
  CHECK_EQ(d.fInX, 0);
  CHECK_EQ(d.fErrorChar, 0);
  CHECK_EQ(d.fNull, 0);
  CHECK_EQ(d.fRtsControl, RTS_CONTROL_DISABLE);
  CHECK_EQ(d.fAbortOnError, 0);
  CHECK_EQ(d.ByteSize, 8);
  CHECK_EQ(d.Parity, ODDPARITY);
  CHECK_EQ(d.StopBits, ONESTOPBIT);
  CHECK_EQ(static_cast<uint8_t>(d.ErrorChar), 0xFC);
  // Left as read.
  CHECK_EQ(d.fTXContinueOnXoff, before.fTXContinueOnXoff);
  CHECK_EQ(d.XonLim, before.XonLim);
  CHECK_EQ(d.XoffLim, before.XoffLim);
  CHECK_EQ(d.XonChar, before.XonChar);
  CHECK_EQ(d.XoffChar, before.XoffChar);
  CHECK_EQ(d.EofChar, before.EofChar);
  CHECK_EQ(d.EvtChar, before.EvtChar);
  CHECK_EQ(d.wReserved1, before.wReserved1);
  const COMMTIMEOUTS &t = dev->timeouts;
  CHECK_EQ(t.ReadIntervalTimeout, 0);
  CHECK_EQ(t.ReadTotalTimeoutMultiplier, 0);
  CHECK_EQ(t.ReadTotalTimeoutConstant, 1000);
  CHECK_EQ(t.WriteTotalTimeoutMultiplier, 0);
  CHECK_EQ(t.WriteTotalTimeoutConstant, 0);
  CHECK_EQ(dev->inQueueSize, 1200);
  CHECK_EQ(dev->outQueueSize, 1200);
}

TEST(OpenTakesOnlyTheLowBytesOfTheSettings) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h;
  const SerialSettings odd = {65535, 0x0107, 0x0202, 0x0300};
  CHECK_EQ(SerialOpen("COM3", odd, 8, &h), kLineOk);
  CHECK_EQ(dev->dcb.BaudRate, 65535);
  CHECK_EQ(dev->dcb.ByteSize, 7);
  CHECK_EQ(dev->dcb.StopBits, 2);
  CHECK_EQ(dev->dcb.Parity, 0);
}

TEST(LineControlSelectsDtrAndRts) {
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
    CHECK_EQ(SerialOpen("COM3", kOdd8N1, row.flags, &h), kLineOk);
    CHECK_EQ(dev->dcb.fDtrControl, row.dtr);
    CHECK_EQ(dev->dcb.fRtsControl, row.rts);
  }
}

TEST(OpenFailuresCloseWhatWasOpened) {
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
    CHECK_EQ(SerialOpen("COM3", kOdd8N1, 8, &h), row.result);
    CHECK_EQ(dev->openHandles, 0);
    CHECK_EQ(WinsubOpenHandleCount(), 0);
  }
  FreshPort();
  HANDLE h = nullptr;
  CHECK_EQ(SerialOpen("COM9", kOdd8N1, 8, &h), kLineOpenFailed);
  CHECK(h == INVALID_HANDLE_VALUE);
}

TEST(SecondOpenOfABusyPortIsRefused) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE first, second;
  CHECK_EQ(SerialOpen("COM3", kOdd8N1, 8, &first), kLineOk);
  CHECK_EQ(SerialOpen("COM3", kOdd8N1, 8, &second), kLineOpenFailed);
  CHECK_EQ(dev->openHandles, 1);
  CHECK_EQ(SerialClose(first), kLineOk);
  CHECK_EQ(dev->openHandles, 0);
}

TEST(NulOpensWithoutConfigurationButOtherCasesDoNot) {
  FreshPort();
  HANDLE h = nullptr;
  CHECK_EQ(SerialOpen("NUL", kOdd8N1, 8, &h), kLineOk);
  CHECK_EQ(SerialClose(h), kLineOk);
  // "nul" is an ordinary name: /dev/null has no line state to read.
  WinsubMapDevice("nul", "/dev/null");
  CHECK_EQ(SerialOpen("nul", kOdd8N1, 8, &h), kLineGetStateFailed);
  CHECK_EQ(WinsubOpenHandleCount(), 0);
}

TEST(ReplyTimeoutArithmetic) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  CHECK_EQ(SerialSetReplyTimeout(h, 250), 100);
  CHECK_EQ(dev->timeouts.ReadTotalTimeoutConstant, 2500);
  // The limit already in force: nothing written.
  int writes = dev->setTimeoutsCount;
  CHECK_EQ(SerialSetReplyTimeout(h, 250), 250);
  CHECK_EQ(dev->setTimeoutsCount, writes);
  // A previous limit that is no whole number of units rounds down; one
  // below 10 ms reports 0.
  dev->timeouts.ReadTotalTimeoutConstant = 1239;
  CHECK_EQ(SerialSetReplyTimeout(h, 1), 123);
  dev->timeouts.ReadTotalTimeoutConstant = 9;
  CHECK_EQ(SerialSetReplyTimeout(h, 7), 0);
  CHECK_EQ(dev->timeouts.ReadTotalTimeoutConstant, 70);
  // Other members stay as read.
  dev->timeouts.ReadIntervalTimeout = 3;
  SerialSetReplyTimeout(h, 8);
  CHECK_EQ(dev->timeouts.ReadIntervalTimeout, 3);
  dev->failGetTimeouts = 1;
  CHECK_EQ(SerialSetReplyTimeout(h, 9), 0);
  dev->failGetTimeouts = 0;
  dev->failSetTimeouts = 1;
  CHECK_EQ(SerialSetReplyTimeout(h, 9), 0);
}

TEST(AZeroReplyTimeoutNeverLeavesReadsWithoutALimit) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  SerialSetReplyTimeout(h, 0);
  CHECK_EQ(dev->timeouts.ReadTotalTimeoutConstant, 1000);
  // Nor does a limit so large that ten times it would wrap round to a short
  // one: the largest whole limit below the wrap is applied instead.
  const DWORD capped = 0xFFFFFFFEu / 10 * 10;
  for (uint32_t units : {0xFFFFFFFFu, 429496730u}) {
    SerialSetReplyTimeout(h, 0);
    SerialSetReplyTimeout(h, units);
    CHECK_EQ(dev->timeouts.ReadTotalTimeoutConstant, capped);
  }
  // The last limit that does not wrap goes to the line as it is.
  SerialSetReplyTimeout(h, 429496729u);
  CHECK_EQ(dev->timeouts.ReadTotalTimeoutConstant, 4294967290u);
}

TEST(PurgeOnAQuietLineReadsNothing) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  CHECK_EQ(SerialPurge(h), kLineOk);
  CHECK_EQ(dev->callCount, 1);
  CHECK_EQ(dev->calls[0], WINSUB_CLEAR_ERROR);
}

TEST(PurgeDrainsInChunksAndRestoresTheLimit) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  SerialSetReplyTimeout(h, 37);
  uint8_t junk[600];
  for (int i = 0; i < 600; ++i) junk[i] = static_cast<uint8_t>(i);
  WinsubMemPush(dev, junk, sizeof junk);
  WinsubMemClearLog(dev);
  CHECK_EQ(SerialPurge(h), kLineOk);
  CHECK_EQ(dev->readCount, 2);
  CHECK_EQ(dev->readSizes[0], 512);
  CHECK_EQ(dev->readGot[0], 512);
  CHECK_EQ(dev->readGot[1], 88);
  CHECK_EQ(WinsubMemWaiting(dev), 0);
  CHECK_EQ(dev->timeouts.ReadTotalTimeoutConstant, 370);
  // Drained at the short limit (the wait of the last, short read).
  CHECK_EQ(dev->waitedMs, 50);
}

TEST(PurgeAfterAFailedStatusQueryStillDrains) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  dev->failClearError = 1;
  CHECK_EQ(SerialPurge(h), kLineOk);
  CHECK_EQ(dev->readCount, 1);
  dev->failRead = 1;
  CHECK_EQ(SerialPurge(h), kLineOpenFailed);
  CHECK_EQ(dev->timeouts.ReadTotalTimeoutConstant, 1000);
}

TEST(WriteResults) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  const uint8_t frame[5] = {0x02, 0x34, 0x12, 0x03, 0x26};
  DWORD written = 99;
  CHECK_EQ(SerialWrite(h, frame, 5, &written), kLineOk);
  CHECK_EQ(written, 5);
  CHECK_MEM(dev->tx, frame, 5);
  dev->shortWriteBy = 2;
  CHECK_EQ(SerialWrite(h, frame, 5, &written), kLineShortWrite);
  CHECK_EQ(written, 3);
  dev->failWrite = 1;
  written = 42;
  CHECK_EQ(SerialWrite(h, frame, 5, &written), kLineIoFailed);
  CHECK_EQ(written, 42);
  CHECK_EQ(SerialWrite(h, frame, 5, nullptr), kLineIoFailed);
}

TEST(ReadTakesExactlyTheCountOrReportsWhatCame) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  uint8_t buf[8] = {};
  DWORD got = 77;
  CHECK_EQ(SerialRead(h, buf, 3, &got), kLineIoFailed);
  CHECK_EQ(got, 0);
  // Two bytes in time, the third after the first wait.
  const uint8_t ack[3] = {0x4E, 0x21, 0x06};
  WinsubMemPush(dev, ack, 2);
  WinsubMemPushLater(dev, ack + 2, 1);
  WinsubMemClearLog(dev);
  CHECK_EQ(SerialRead(h, buf, 3, &got), kLineOk);
  CHECK_EQ(got, 3);
  CHECK_MEM(buf, ack, 3);
  CHECK_EQ(dev->readCount, 2);
  // Two bytes and then silence: 7, with the count telling what is there.
  WinsubMemPush(dev, ack, 2);
  CHECK_EQ(SerialRead(h, buf, 3, &got), kLineIoFailed);
  CHECK_EQ(got, 2);
  dev->failRead = 1;
  CHECK_EQ(SerialRead(h, buf, 1, nullptr), kLineIoFailed);
}

TEST(CloseReportsFailureAndKeepsTheHandle) {
  WinsubMemDevice *dev = FreshPort();
  HANDLE h = OpenOk(dev);
  dev->failClose = 1;
  CHECK_EQ(SerialClose(h), kLineIoFailed);
  CHECK_EQ(dev->openHandles, 1);
  dev->failClose = 0;
  CHECK_EQ(SerialClose(h), kLineOk);
  CHECK_EQ(SerialClose(h), kLineIoFailed);
}

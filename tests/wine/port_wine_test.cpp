// The real Win32 comm API under Wine against pseudo-terminals: the line
// layer on its own, and the port operations through LUMISAR.DLL.
#include <string.h>
#include <windows.h>

#include "port/serial_line.h"
#include "support/check.h"
#include "support/driver_api.h"
#include "wine_env.h"

namespace {

const SerialSettings k8N1 = {19200, 8, 0, 0};

OpenRequest OpenOf(const char *name, uint32_t timeout) {
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, name);
  r.enabled = 1;
  r.replyTimeout = timeout;
  r.settings = k8N1;
  return r;
}

}  // namespace

TEST(WineLineLayerWritesReadsAndPurges) {
  HANDLE h = nullptr;
  CHECK_EQ(SerialOpen(kEchoPort, k8N1, 8, &h), kLineOk);
  if (!h || h == INVALID_HANDLE_VALUE) return;
  SerialSetReplyTimeout(h, 50);
  // The echo peer returns every byte, the awkward ones included.
  uint8_t bytes[64];
  for (int i = 0; i < 64; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 0x0A);
  const uint8_t awkward[] = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0xFF};
  memcpy(bytes, awkward, sizeof awkward);
  CHECK_EQ(SerialWrite(h, bytes, 64, nullptr), kLineOk);
  uint8_t back[64] = {};
  DWORD got = 0;
  CHECK_EQ(SerialRead(h, back, 64, &got), kLineOk);
  CHECK_EQ(got, 64);
  CHECK_MEM(back, bytes, 64);
  // The read limit, measured: 10 units on a silent line.
  CHECK_EQ(SerialSetReplyTimeout(h, 10), 50);
  DWORD start = GetTickCount();
  CHECK_EQ(SerialRead(h, back, 3, &got), kLineIoFailed);
  DWORD took = GetTickCount() - start;
  CHECK_EQ(got, 0);
  CHECK(took >= 80);
  CHECK(took < 3000);
  // 600 bytes come back and wait; a purge throws them away.
  uint8_t many[600];
  memset(many, 0x55, sizeof many);
  CHECK_EQ(SerialWrite(h, many, 600, nullptr), kLineOk);
  Sleep(300);
  CHECK_EQ(SerialPurge(h), kLineOk);
  CHECK_EQ(SerialRead(h, back, 1, &got), kLineIoFailed);
  CHECK_EQ(got, 0);
  CHECK_EQ(SerialSetReplyTimeout(h, 10), 10);
  CHECK_EQ(SerialClose(h), kLineOk);
}

TEST(WineNulAndMissingDevices) {
  HANDLE h = nullptr;
  CHECK_EQ(SerialOpen("NUL", k8N1, 8, &h), kLineOk);
  CHECK_EQ(SerialClose(h), kLineOk);
  CHECK_EQ(SerialOpen("COM77", k8N1, 8, &h), kLineOpenFailed);
  LogReset();
  PortContext context;
  memset(&context, 0, sizeof context);
  OpenRequest r = OpenOf("COM77", 10);
  CHECK_EQ(Call(LUMISAR_OP_OPEN_PORT, &context, &r), LUMISAR_FAILED);
  CHECK_EQ(LogCount(), 1);
  CHECK_EQ(LogLevel(0), 32);
  CHECK_STR(LogText(0), "ORVEN: Failed to open COM77");
  r = OpenOf("NUL", 10);
  CHECK_EQ(Call(LUMISAR_OP_OPEN_PORT, &context, &r), LUMISAR_DONE);
  CHECK_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
}

TEST(WinePortOperationsThroughTheDriver) {
  PortContext context;
  memset(&context, 0, sizeof context);
  OpenRequest r = OpenOf(kEchoPort, 25);
  CHECK_EQ(Call(LUMISAR_OP_OPEN_PORT, &context, &r), LUMISAR_DONE);
  CHECK(context.port != nullptr);
  CHECK_EQ(context.spec.lineControl, 8);
  CHECK_EQ(context.replyTimeout, 25);
  COMMTIMEOUTS t;
  CHECK(GetCommTimeouts(context.port, &t));
  CHECK_EQ(t.ReadTotalTimeoutConstant, 250);
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  CHECK(GetCommState(context.port, &dcb));
  CHECK_EQ(dcb.ByteSize, 8);
  CHECK_EQ(dcb.Parity, NOPARITY);
  CHECK_EQ(Call(LUMISAR_OP_PURGE_INPUT, &context, nullptr), LUMISAR_DONE);

  // Reconfigure with nothing new on a closed channel: stored settings and
  // the stored limit come back.
  CHECK_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  CHECK(context.port == nullptr);
  ReconfigureRequest change;
  memset(&change, 0, sizeof change);
  strcpy(change.deviceName, kEchoPort);
  CHECK_EQ(Call(LUMISAR_OP_RECONFIGURE_PORT, &context, &change), LUMISAR_DONE);
  CHECK(GetCommTimeouts(context.port, &t));
  CHECK_EQ(t.ReadTotalTimeoutConstant, 250);
  // To another device: the old port is closed first.
  strcpy(change.deviceName, kSimPort);
  change.replyTimeout = 30;
  CHECK_EQ(Call(LUMISAR_OP_RECONFIGURE_PORT, &context, &change), LUMISAR_DONE);
  CHECK_STR(context.spec.deviceName, kSimPort);
  CHECK_EQ(context.replyTimeout, 30);
  CHECK_EQ(Call(LUMISAR_OP_CLOSE_PORT_2, &context, nullptr), LUMISAR_DONE);
  // Reopen after close: the open limit of one second, not the stored one.
  CHECK_EQ(Call(LUMISAR_OP_REOPEN_PORT, &context, nullptr), LUMISAR_DONE);
  CHECK(GetCommTimeouts(context.port, &t));
  CHECK_EQ(t.ReadTotalTimeoutConstant, 1000);
  CHECK_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  CHECK_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
}

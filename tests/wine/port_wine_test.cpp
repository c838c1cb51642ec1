// The real Win32 comm API under Wine against pseudo-terminals: the line
// layer on its own, and the port operations through LUMISAR.DLL.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include "port/serial_line.h"
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

TEST(WinePort, WineLineLayerWritesReadsAndPurges) {
  HANDLE h = nullptr;
  EXPECT_EQ(SerialOpen(kEchoPort, k8N1, 8, &h), kLineOk);
  ASSERT_TRUE(h && h != INVALID_HANDLE_VALUE);
  SerialSetReplyTimeout(h, 50, nullptr);
  // The echo peer returns every byte, the awkward ones included.
  uint8_t bytes[64];
  for (int i = 0; i < 64; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 0x0A);
  const uint8_t awkward[] = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0xFF};
  memcpy(bytes, awkward, sizeof awkward);
  EXPECT_EQ(SerialWrite(h, bytes, 64, nullptr), kLineOk);
  uint8_t back[64] = {};
  DWORD got = 0;
  EXPECT_EQ(SerialRead(h, back, 64, &got), kLineOk);
  EXPECT_EQ(got, 64);
  EXPECT_EQ(memcmp(back, bytes, 64), 0);
  // The read limit, measured: 10 units on a silent line.
  uint32_t before = 0;
  EXPECT_EQ(SerialSetReplyTimeout(h, 10, &before), kLineOk);
  EXPECT_EQ(before, 50);
  DWORD start = GetTickCount();
  EXPECT_EQ(SerialRead(h, back, 3, &got), kLineIoFailed);
  DWORD took = GetTickCount() - start;
  EXPECT_EQ(got, 0);
  EXPECT_TRUE(took >= 80);
  EXPECT_TRUE(took < 3000);
  // 600 bytes come back and wait; a purge throws them away.
  uint8_t many[600];
  memset(many, 0x55, sizeof many);
  EXPECT_EQ(SerialWrite(h, many, 600, nullptr), kLineOk);
  Sleep(300);
  EXPECT_EQ(SerialPurge(h), kLineOk);
  EXPECT_EQ(SerialRead(h, back, 1, &got), kLineIoFailed);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(SerialSetReplyTimeout(h, 10, &before), kLineOk);
  EXPECT_EQ(before, 10);
  EXPECT_EQ(SerialClose(h), kLineOk);
}

TEST(WinePort, WineNulAndMissingDevices) {
  HANDLE h = nullptr;
  EXPECT_EQ(SerialOpen("NUL", k8N1, 8, &h), kLineOk);
  EXPECT_EQ(SerialClose(h), kLineOk);
  EXPECT_EQ(SerialOpen("COM77", k8N1, 8, &h), kLineOpenFailed);
  LogReset();
  PortContext context;
  memset(&context, 0, sizeof context);
  OpenRequest r = OpenOf("COM77", 10);
  EXPECT_EQ(Call(LUMISAR_OP_OPEN_PORT, &context, &r), LUMISAR_FAILED);
  EXPECT_EQ(LogCount(), 1);
  EXPECT_EQ(LogLevel(0), 32);
  EXPECT_STREQ(LogText(0), "ORVEN: Failed to open COM77");
  r = OpenOf("NUL", 10);
  EXPECT_EQ(Call(LUMISAR_OP_OPEN_PORT, &context, &r), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
}

TEST(WinePort, WinePortOperationsThroughTheDriver) {
  PortContext context;
  memset(&context, 0, sizeof context);
  OpenRequest r = OpenOf(kEchoPort, 25);
  EXPECT_EQ(Call(LUMISAR_OP_OPEN_PORT, &context, &r), LUMISAR_DONE);
  EXPECT_TRUE(context.port != nullptr);
  EXPECT_EQ(context.spec.lineControl, 8);
  EXPECT_EQ(context.replyTimeout, 25);
  COMMTIMEOUTS t;
  EXPECT_TRUE(GetCommTimeouts(context.port, &t));
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 250);
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  EXPECT_TRUE(GetCommState(context.port, &dcb));
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(Call(LUMISAR_OP_PURGE_INPUT, &context, nullptr), LUMISAR_DONE);

  // Reconfigure with nothing new on a closed channel: stored settings and
  // the stored limit come back.
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_TRUE(context.port == nullptr);
  ReconfigureRequest change;
  memset(&change, 0, sizeof change);
  strcpy(change.deviceName, kEchoPort);
  EXPECT_EQ(Call(LUMISAR_OP_RECONFIGURE_PORT, &context, &change), LUMISAR_DONE);
  EXPECT_TRUE(GetCommTimeouts(context.port, &t));
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 250);
  // To another device: the old port is closed first.
  strcpy(change.deviceName, kSimPort);
  change.replyTimeout = 30;
  EXPECT_EQ(Call(LUMISAR_OP_RECONFIGURE_PORT, &context, &change), LUMISAR_DONE);
  EXPECT_STREQ(context.spec.deviceName, kSimPort);
  EXPECT_EQ(context.replyTimeout, 30);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT_2, &context, nullptr), LUMISAR_DONE);
  // Reopen after close: the open limit of one second, not the stored one.
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_TRUE(GetCommTimeouts(context.port, &t));
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
}

// Operations 1, 2, 11-13 and 15 through ZubMain: which context fields each
// writes, and what a host sees when the port misbehaves.
#include <gtest/gtest.h>
#include <string.h>
#include <winsub.h>

#include "support/driver_api.h"

namespace {

struct Channel {
  PortContext context;
  WinsubMemDevice *com3;
  WinsubMemDevice *com4;
};

void Fresh(Channel *c) {
  WinsubReset();
  LogReset();
  memset(&c->context, 0, sizeof c->context);
  c->com3 = WinsubAddMemoryDevice("COM3");
  c->com4 = WinsubAddMemoryDevice("COM4");
}

OpenRequest OpenOf(const char *name, uint32_t enabled = 1, uint32_t timeout = 25) {
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strncpy(r.deviceName, name, sizeof r.deviceName);
  r.enabled = enabled;
  r.replyTimeout = timeout;
  r.settings = SerialSettings{9600, 8, 0, 0};
  return r;
}

ReconfigureRequest ChangeOf(const char *name, uint32_t timeout, SerialSettings s) {
  ReconfigureRequest r;
  memset(&r, 0, sizeof r);
  strncpy(r.deviceName, name, sizeof r.deviceName);
  r.replyTimeout = timeout;
  r.settings = s;
  return r;
}

int32_t Open(Channel *c, OpenRequest r) { return Call(LUMISAR_OP_OPEN_PORT, &c->context, &r); }
int32_t Reconfigure(Channel *c, ReconfigureRequest r) {
  return Call(LUMISAR_OP_RECONFIGURE_PORT, &c->context, &r);
}

}  // namespace

TEST(PortOperations, OpenStoresHandlePortSpecAndTimeout) {
  Channel c;
  Fresh(&c);
  c.context.spec.lineControl = 0xFFFF;
  EXPECT_EQ(Open(&c, OpenOf("COM3", 1, 250)), LUMISAR_DONE);
  EXPECT_TRUE(c.context.port != nullptr);
  EXPECT_EQ(c.context.enabled, 1);
  EXPECT_EQ(c.context.replyTimeout, 250);
  EXPECT_STREQ(c.context.spec.deviceName, "COM3");
  EXPECT_EQ(c.context.spec.settings.baudRate, 9600);
  EXPECT_EQ(c.context.spec.lineControl, 8);
  EXPECT_EQ(c.com3->timeouts.ReadTotalTimeoutConstant, 2500);
  EXPECT_EQ(c.com3->dcb.fDtrControl, DTR_CONTROL_DISABLE);
  EXPECT_EQ(LogCount(), 0);
}

TEST(PortOperations, OpenDisabledOnlyStoresTheFlag) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3")), LUMISAR_DONE);
  PortContext before = c.context;
  EXPECT_EQ(Open(&c, OpenOf("COM4", 0)), LUMISAR_DONE);
  EXPECT_EQ(c.context.enabled, 0);
  c.context.enabled = before.enabled;
  EXPECT_EQ(memcmp(&c.context, &before, sizeof before), 0);
  EXPECT_EQ(c.com3->openHandles, 1);
  EXPECT_EQ(c.com4->callCount, 0);
}

TEST(PortOperations, OpenFailureLogsTheNameAndKeepsTheChannel) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3", 1, 40)), LUMISAR_DONE);
  PortContext before = c.context;
  EXPECT_EQ(Open(&c, OpenOf("COM8", 5, 90)), LUMISAR_FAILED);
  EXPECT_EQ(LogCount(), 1);
  EXPECT_EQ(LogLevel(0), 32);
  EXPECT_STREQ(LogText(0), "ORVEN: Failed to open COM8");
  EXPECT_EQ(c.context.enabled, 5);
  c.context.enabled = before.enabled;
  EXPECT_EQ(memcmp(&c.context, &before, sizeof before), 0);
  // A port whose line state cannot be set is refused the same way.
  c.com4->failSetState = 1;
  EXPECT_EQ(Open(&c, OpenOf("COM4")), LUMISAR_FAILED);
  EXPECT_EQ(c.com4->openHandles, 0);
  EXPECT_STREQ(LogText(1), "ORVEN: Failed to open COM4");
}

// The longest name a host can give: 11 characters, the terminator in the
// twelfth byte, as \\.\COM1234 for a port numbered above 9.
TEST(PortOperations, ANameOfElevenCharactersOpensAndReconfigures) {
  Channel c;
  Fresh(&c);
  const char name[] = "\\\\.\\COM1234";
  static_assert(sizeof name == LUMISAR_DEVICE_NAME_SIZE, "11 characters and the terminator");
  WinsubAddMemoryDevice(name);
  EXPECT_EQ(Open(&c, OpenOf(name)), LUMISAR_DONE);
  EXPECT_STREQ(c.context.spec.deviceName, name);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &c.context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Reconfigure(&c, ChangeOf(name, 0, SerialSettings{19200, 8, 0, 1})), LUMISAR_DONE);
  EXPECT_TRUE(c.context.port != nullptr);
  EXPECT_EQ(c.context.spec.settings.baudRate, 19200);
  EXPECT_EQ(Reconfigure(&c, ChangeOf("COM3", 0, SerialSettings{0, 0, 0, 0})), LUMISAR_DONE);
  EXPECT_EQ(Reconfigure(&c, ChangeOf(name, 0, SerialSettings{0, 0, 0, 0})), LUMISAR_DONE);
  EXPECT_STREQ(c.context.spec.deviceName, name);
}

TEST(PortOperations, OpenRefusesANameWithoutTerminator) {
  Channel c;
  Fresh(&c);
  OpenRequest r = OpenOf("COM3");
  memcpy(r.deviceName, "COM3XXXXXXXX", 12);
  EXPECT_EQ(Open(&c, r), LUMISAR_FAILED);
  EXPECT_EQ(c.com3->callCount, 0);
  EXPECT_STREQ(LogText(0), "ORVEN: Failed to open COM3XXXXXXX");
  EXPECT_TRUE(c.context.port == nullptr);
}

TEST(PortOperations, OpenOfAnotherDeviceClosesTheReplacedPort) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3")), LUMISAR_DONE);
  EXPECT_EQ(Open(&c, OpenOf("COM4")), LUMISAR_DONE);
  EXPECT_EQ(c.com3->openHandles, 0);
  EXPECT_EQ(c.com4->openHandles, 1);
  EXPECT_EQ(WinsubOpenHandleCount(), 1);
  // A port that admits several opens: the second open replaces the first.
  c.com4->allowSharing = 1;
  HANDLE first = c.context.port;
  EXPECT_EQ(Open(&c, OpenOf("COM4")), LUMISAR_DONE);
  EXPECT_TRUE(c.context.port != first);
  EXPECT_EQ(c.com4->openHandles, 1);
}

TEST(PortOperations, OpenOfTheSameBusyPortFailsAndKeepsIt) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3")), LUMISAR_DONE);
  HANDLE held = c.context.port;
  EXPECT_EQ(Open(&c, OpenOf("COM3")), LUMISAR_FAILED);
  EXPECT_TRUE(c.context.port == held);
  EXPECT_EQ(c.com3->openHandles, 1);
}

TEST(PortOperations, PurgeAndCloseOnChannelsWithAndWithoutPort) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Call(LUMISAR_OP_PURGE_INPUT, &c.context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Open(&c, OpenOf("COM3")), LUMISAR_DONE);
  const uint8_t junk[3] = {1, 2, 3};
  WinsubMemPush(c.com3, junk, 3);
  EXPECT_EQ(Call(LUMISAR_OP_PURGE_INPUT, &c.context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(WinsubMemWaiting(c.com3), 0);
  c.com3->failClose = 1;
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &c.context, nullptr), LUMISAR_FAILED);
  EXPECT_TRUE(c.context.port != nullptr);
  c.com3->failClose = 0;
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT_2, &c.context, nullptr), LUMISAR_DONE);
  EXPECT_TRUE(c.context.port == nullptr);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &c.context, nullptr), LUMISAR_DONE);
  EXPECT_STREQ(c.context.spec.deviceName, "COM3");
  EXPECT_EQ(c.context.enabled, 1);
}

TEST(PortOperations, ReopenUsesTheStoredPortSpecAndTheOpenLimit) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3", 1, 250)), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &c.context, nullptr), LUMISAR_DONE);
  c.context.enabled = 0;
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &c.context, nullptr), LUMISAR_DONE);
  EXPECT_TRUE(c.context.port != nullptr);
  EXPECT_EQ(c.context.enabled, 1);
  EXPECT_EQ(c.com3->timeouts.ReadTotalTimeoutConstant, 1000);
  EXPECT_EQ(c.context.replyTimeout, 250);
  // Again while it is open: the port refuses a second open.
  HANDLE held = c.context.port;
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &c.context, nullptr), LUMISAR_FAILED);
  EXPECT_TRUE(c.context.port == held);
}

TEST(PortOperations, ReopenWithoutAPortSpecFails) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &c.context, nullptr), LUMISAR_FAILED);
  memset(c.context.spec.deviceName, 'C', sizeof c.context.spec.deviceName);
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &c.context, nullptr), LUMISAR_FAILED);
  EXPECT_TRUE(c.context.port == nullptr);
  EXPECT_EQ(c.context.enabled, 0);
}

TEST(PortOperations, ReconfigureOnAClosedChannelKeepsWhatTheRequestLeavesOut) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3", 1, 250)), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &c.context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Reconfigure(&c, ChangeOf("COM3", 0, SerialSettings{0, 7, 2, 2})), LUMISAR_DONE);
  EXPECT_EQ(c.context.spec.settings.baudRate, 9600);
  EXPECT_EQ(c.context.spec.settings.dataBits, 8);
  EXPECT_EQ(c.context.spec.settings.parity, 0);
  EXPECT_EQ(c.context.replyTimeout, 250);
  EXPECT_EQ(c.com3->timeouts.ReadTotalTimeoutConstant, 2500);
  EXPECT_EQ(c.com3->dcb.BaudRate, 9600);
}

TEST(PortOperations, ReconfigureToAnotherDeviceClosesTheOldPortFirst) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3")), LUMISAR_DONE);
  EXPECT_EQ(Reconfigure(&c, ChangeOf("COM4", 30, SerialSettings{4800, 7, 2, 2})), LUMISAR_DONE);
  EXPECT_EQ(c.com3->openHandles, 0);
  EXPECT_EQ(c.com4->openHandles, 1);
  EXPECT_EQ(c.com4->dcb.BaudRate, 4800);
  EXPECT_EQ(c.com4->dcb.Parity, EVENPARITY);
  EXPECT_EQ(c.com4->timeouts.ReadTotalTimeoutConstant, 300);
  EXPECT_EQ(c.context.replyTimeout, 30);
  EXPECT_STREQ(c.context.spec.deviceName, "COM4");
  // The new device fails: no port, but the request's values stay.
  c.com3->failCreate = 1;
  EXPECT_EQ(Reconfigure(&c, ChangeOf("COM3", 40, SerialSettings{2400, 8, 0, 0})), LUMISAR_FAILED);
  EXPECT_TRUE(c.context.port == nullptr);
  EXPECT_EQ(c.com4->openHandles, 0);
  EXPECT_EQ(c.context.replyTimeout, 40);
  EXPECT_STREQ(c.context.spec.deviceName, "COM3");
  EXPECT_EQ(c.context.spec.settings.baudRate, 2400);
  EXPECT_EQ(LogCount(), 0);
}

TEST(PortOperations, ReconfigureOfTheSameOpenDeviceFailsAndKeepsThePort) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3", 1, 25)), LUMISAR_DONE);
  HANDLE held = c.context.port;
  EXPECT_EQ(Reconfigure(&c, ChangeOf("COM3", 60, SerialSettings{1200, 8, 0, 0})), LUMISAR_FAILED);
  EXPECT_TRUE(c.context.port == held);
  EXPECT_EQ(c.com3->dcb.BaudRate, 9600);
  EXPECT_EQ(c.com3->timeouts.ReadTotalTimeoutConstant, 250);
  EXPECT_EQ(c.context.replyTimeout, 60);
  EXPECT_EQ(c.context.spec.settings.baudRate, 1200);
}

TEST(PortOperations, ReconfigureRefusesANameWithoutTerminator) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3", 1, 25)), LUMISAR_DONE);
  PortContext before = c.context;
  ReconfigureRequest r = ChangeOf("COM4", 60, SerialSettings{1200, 8, 0, 0});
  memset(r.deviceName, 'Z', sizeof r.deviceName);
  EXPECT_EQ(Reconfigure(&c, r), LUMISAR_FAILED);
  EXPECT_EQ(memcmp(&c.context, &before, sizeof before), 0);
}

TEST(PortOperations, OpenWithAZeroTimeoutReadsWithTheOpenLimit) {
  Channel c;
  Fresh(&c);
  EXPECT_EQ(Open(&c, OpenOf("COM3", 1, 0)), LUMISAR_DONE);
  EXPECT_EQ(c.context.replyTimeout, 0);
  EXPECT_EQ(c.com3->timeouts.ReadTotalTimeoutConstant, 1000);
}

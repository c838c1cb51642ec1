// Hostile host input, row by row: each gets its defined result and harms
// nothing (the sanitizer build reports any stray access).
#include <gtest/gtest.h>
#include <string.h>
#include <winsub.h>

#include "support/driver_api.h"

namespace {

PortContext Fresh() {
  WinsubReset();
  LogReset();
  PortContext c;
  memset(&c, 0, sizeof c);
  return c;
}

}  // namespace

TEST(HostileInput, NullRecordsAreRefused) {
  PortContext c = Fresh();
  const uint32_t needParams[] = {1, 5, 6, 7, 10, 14, 15};
  for (uint32_t op : needParams) EXPECT_EQ(Call(op, &c, nullptr), 2);
  EXPECT_EQ(Call(3, nullptr, nullptr), 1);
  EXPECT_EQ(Call(4, nullptr, nullptr), 1);
  EXPECT_EQ(Call(16, nullptr, nullptr), 53);
  uint16_t v[2];
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.values = v;
  const uint32_t needContext[] = {1, 5, 6, 7, 10, 13, 15};
  for (uint32_t op : needContext) EXPECT_EQ(Call(op, nullptr, &io), 2);
  EXPECT_EQ(Call(2, nullptr, nullptr), 0);
  EXPECT_EQ(Call(11, nullptr, nullptr), 0);
}

TEST(HostileInput, UnterminatedDeviceNames) {
  PortContext c = Fresh();
  OpenRequest open;
  memset(&open, 'A', sizeof open.deviceName);
  open.enabled = 1;
  open.replyTimeout = 10;
  open.settings = SerialSettings{19200, 8, 0, 0};
  EXPECT_EQ(Call(1, &c, &open), 2);
  EXPECT_STREQ(LogText(0), "ORVEN: Failed to open AAAAAAAAAAA");
  ReconfigureRequest change;
  memset(&change, 0, sizeof change);
  memset(change.deviceName, 0xFF, sizeof change.deviceName);
  EXPECT_EQ(Call(15, &c, &change), 2);
  memset(c.spec.deviceName, 'B', sizeof c.spec.deviceName);
  EXPECT_EQ(Call(13, &c, nullptr), 2);
  EXPECT_TRUE(c.port == nullptr);
}

TEST(HostileInput, OverlongAndNonAsciiAddressTexts) {
  char longText[4096];
  memset(longText, '1', sizeof longText - 1);
  longText[sizeof longText - 1] = 0;
  for (uint32_t type = 0; type < 8; ++type) EXPECT_EQ(Resolve(longText, type, nullptr), 1);
  EXPECT_EQ(ResolveBlock(longText, 1, nullptr), 1);
  const char *texts[] = {"\xE9\xE9\x34\x30\x30\x30\x30", "01\xB7\x30\x30\x30\x30", "0140000\xCC",
                         "\x80\x80\x80\x80\x80\x80\x80\x80", "\x01"};
  for (const char *t : texts) {
    for (uint32_t type = 0; type < 8; ++type) EXPECT_EQ(Resolve(t, type, nullptr), 1);
    EXPECT_EQ(ResolveBlock(t, 1, nullptr), 1);
  }
}

TEST(HostileInput, TransfersOnChannelsThatNeverOpened) {
  PortContext c = Fresh();
  uint8_t values[256] = {};
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.values = values;
  io.count = 1;
  Resolve("0140000", 0, &io.address);
  EXPECT_EQ(Call(5, &c, &io), 2);
  EXPECT_EQ(Call(7, &c, &io), 2);
  // Widths the frames cannot carry.
  const uint32_t widths[] = {0, 8, 15, 17, 31, 33, 64, 0xFFFFFFFF};
  const uint32_t transfers[] = {5, 6, 7, 10};
  for (uint32_t w : widths) {
    io.address.width = w;
    for (uint32_t op : transfers) EXPECT_EQ(Call(op, &c, &io), 1);
  }
  for (uint8_t b : values) EXPECT_EQ(b, 0);
}

// The real DLL against the controller simulator over a pty under Wine:
// every data type written and read back, blocks at their limits, bit writes.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include "lumisar_version.h"
#include "support/driver_api.h"
#include "wine_env.h"

namespace {

PortContext channel;

bool OpenSimChannel() {
  memset(&channel, 0, sizeof channel);
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, kSimPort);
  r.enabled = 1;
  r.replyTimeout = 20;
  r.settings = SerialSettings{19200, 8, 0, 0};
  return Call(LUMISAR_OP_OPEN_PORT, &channel, &r) == LUMISAR_DONE;
}

int32_t Io(uint32_t op, const char *text, uint32_t type, int32_t count, void *values, bool block,
           IoRequest *keep = nullptr) {
  IoRequest io = TagRequest(text, type, count, values, block);
  int32_t result = Call(op, &channel, &io);
  if (keep) *keep = io;
  return result;
}

}  // namespace

TEST(WineRoundTrip, WineRoundTripsOfEveryType) {
  EXPECT_TRUE(OpenSimChannel());
  uint16_t w[2] = {0xAAAA, 0x0D0A};
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_WRITE, "0140000", 0, 1, w, false), 0);
  w[1] = 0;
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_READ, "0140000", 0, 1, w, false), 0);
  EXPECT_EQ(w[1], 0x0D0A);
  EXPECT_EQ(w[0], 0xAAAA);
  uint32_t l = 0x11130AFF;
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_WRITE, "0140002L", 4, 1, &l, false), 0);
  l = 0;
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_READ, "0140002L", 4, 1, &l, false), 0);
  EXPECT_EQ(l, 0x11130AFF);
  float f = -123.456f, g = 0;
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_WRITE, "0140004F", 3, 1, &f, false), 0);
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_READ, "0140004F", 3, 1, &g, false), 0);
  EXPECT_EQ(memcmp(&f, &g, 4), 0);
}

TEST(WineRoundTrip, WineBlocksAtTheirLimits) {
  uint16_t words[128], wordsBack[128];
  for (int i = 0; i < 128; ++i) words[i] = static_cast<uint16_t>(0x1300 + i);
  EXPECT_EQ(Io(LUMISAR_OP_BLOCK_WRITE, "0100200", 0, 128, words, true), 0);
  memset(wordsBack, 0, sizeof wordsBack);
  EXPECT_EQ(Io(LUMISAR_OP_BLOCK_READ, "0100200", 0, 128, wordsBack, true), 0);
  EXPECT_EQ(memcmp(wordsBack, words, sizeof words), 0);
  uint32_t longs[64], longsBack[64];
  for (int i = 0; i < 64; ++i) longs[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x10101);
  EXPECT_EQ(Io(LUMISAR_OP_BLOCK_WRITE, "0101000L", 0, 64, longs, true), 0);
  memset(longsBack, 0, sizeof longsBack);
  EXPECT_EQ(Io(LUMISAR_OP_BLOCK_READ, "0101000L", 0, 64, longsBack, true), 0);
  EXPECT_EQ(memcmp(longsBack, longs, sizeof longs), 0);
  EXPECT_EQ(Io(LUMISAR_OP_BLOCK_READ, "0100200", 0, 129, wordsBack, true), 1);
}

TEST(WineRoundTrip, WineBitWritesKeepTheOtherBits) {
  uint16_t w[2] = {0, 0x0100};
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_WRITE, "0140010", 0, 1, w, false), 0);
  uint16_t bit[2] = {0x4242, 1};
  IoRequest io;
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_WRITE, "01400103", 6, 1, bit, false, &io), 0);
  EXPECT_EQ(bit[1], 1);
  EXPECT_EQ(bit[0], 0x4242);
  EXPECT_EQ(io.address.bitNumber, 3);
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_READ, "0140010", 0, 1, w, false), 0);
  EXPECT_EQ(w[1], 0x0108);
  bit[1] = 0;
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_WRITE, "01400108", 6, 1, bit, false), 0);
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_READ, "0140010", 0, 1, w, false), 0);
  EXPECT_EQ(w[1], 0x0008);
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_READ, "01400103", 6, 1, bit, false), 0);
  EXPECT_EQ(bit[1], 1);
}

TEST(WineRoundTrip, WineRetriesAndRefusals) {
  if (!SimControlPath()) GTEST_SKIP() << "the runner gave no control path to the simulator";
  LogReset();
  SimCommand("fault bad-lrc 2\n");
  uint16_t w[2] = {0, 0};
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_READ, "0140010", 0, 1, w, false), 0);
  EXPECT_EQ(w[1], 0x0008);
  EXPECT_EQ(LogLinesEqual("ORVEN> SingleRead() Bad LRC in Data msg"), 2);
  SimCommand("fault no-ack -1\n");
  EXPECT_EQ(Io(LUMISAR_OP_SINGLE_WRITE, "0140010", 0, 1, w, false), 1);
  SimCommand("clear\n");
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &channel, nullptr), LUMISAR_DONE);
}

// The file a host loaded says which release it is, as Explorer shows it.
TEST(WineRoundTrip, WineDriverCarriesItsVersionResource) {
  HMODULE driver = GetModuleHandleA("LUMISAR.DLL");
  EXPECT_TRUE(driver != nullptr);
  char path[MAX_PATH] = {};
  EXPECT_TRUE(GetModuleFileNameA(driver, path, sizeof path) > 0);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  static char data[8192];
  EXPECT_TRUE(size > 0 && size <= sizeof data);
  EXPECT_TRUE(GetFileVersionInfoA(path, 0, size, data));
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  EXPECT_TRUE(VerQueryValueA(data, "\\", reinterpret_cast<void **>(&fixed), &length) && fixed);
  EXPECT_EQ(fixed->dwFileVersionMS, (LUMISAR_VERSION_MAJOR << 16) | LUMISAR_VERSION_MINOR);
  EXPECT_EQ(fixed->dwFileVersionLS, (LUMISAR_VERSION_PATCH << 16) | LUMISAR_VERSION_BUILD);
  char *text = nullptr;
  EXPECT_TRUE(VerQueryValueA(data, "\\StringFileInfo\\040904B0\\FileVersion",
                             reinterpret_cast<void **>(&text), &length));
  EXPECT_STREQ(text, LUMISAR_VERSION_TEXT);
  EXPECT_TRUE(VerQueryValueA(data, "\\StringFileInfo\\040904B0\\OriginalFilename",
                             reinterpret_cast<void **>(&text), &length));
  EXPECT_STREQ(text, "LUMISAR.DLL");
}

// The host's view of the driver: dispatch, address resolution and the
// driver description, all through ZubMain. Runs natively and against the
// real LUMISAR.DLL under Wine.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "support/driver_api.h"

namespace {

// A request that must be answered without touching the host's records.
void CheckUntouched(uint32_t operation) {
  PortContext context;
  memset(&context, 0xA5, sizeof context);
  uint8_t params[64];
  memset(params, 0x5A, sizeof params);
  RequestBlock r;
  r.context = &context;
  r.operation = operation;
  r.reserved[0] = 0xFFFFFFFF;
  r.reserved[1] = 0x12345678;
  r.params = params;
  EXPECT_EQ(Zub(&r), LUMISAR_FAILED);
  for (size_t i = 0; i < sizeof context; ++i)
    EXPECT_EQ(reinterpret_cast<uint8_t *>(&context)[i], 0xA5) << "context byte " << i;
  for (uint8_t b : params) EXPECT_EQ(b, 0x5A);
}

}  // namespace

TEST(Boundary, DispatchRefusesCodesOutsideTheTableAndEmptySlots) {
  const uint32_t codes[] = {0, 8, 9, 17, 18, 100, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  for (uint32_t code : codes) CheckUntouched(code);
  EXPECT_EQ(Zub(nullptr), LUMISAR_FAILED);
}

TEST(Boundary, DispatchIgnoresTheReservedWords) {
  DriverInfo info;
  RequestBlock r;
  memset(&r, 0xEE, sizeof r);
  r.context = nullptr;
  r.operation = LUMISAR_OP_DESCRIBE_DRIVER;
  r.params = &info;
  EXPECT_EQ(Zub(&r), LUMISAR_DONE);
  EXPECT_EQ(info.contextSize, 316);
}

TEST(Boundary, CloseCodesElevenAndTwelveAgreeOnAChannelWithoutPort) {
  PortContext context;
  memset(&context, 0, sizeof context);
  EXPECT_EQ(Call(11, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Call(12, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_PURGE_INPUT, &context, nullptr), LUMISAR_DONE);
  EXPECT_TRUE(context.port == nullptr);
}

TEST(Boundary, ResolveWorkedExamples) {
  struct Row {
    const char *text;
    uint32_t type;
    int32_t result;
    uint32_t plc, word, bit, width;
  };
  // clang-format off
  const Row rows[] = {
      {"0140000", 0, 0, 1, 16385, 255, 16},  {"0140000", 1, 0, 1, 16385, 255, 16},
      {"0140000", 2, 0, 1, 16385, 255, 16},  {"0100000", 0, 0, 1, 1, 255, 16},
      {"0177777", 0, 0, 1, 32768, 255, 16},  {"5A00000", 1, 0, 90, 1, 255, 16},
      {"FF00000", 0, 0, 255, 1, 255, 16},    {"0A40000L", 4, 0, 10, 8193, 255, 32},
      {"0a40000l", 5, 0, 10, 8193, 255, 32}, {"0177776L", 4, 0, 1, 16384, 255, 32},
      {"0140000F", 3, 0, 1, 8193, 255, 32},  {"0140000F", 6, 0, 1, 16385, 15, 16},
      {"0140000a", 6, 0, 1, 16385, 10, 16},  {"0140001L", 4, 1},
      {"0140000L", 6, 1},                    {"0077777", 0, 1},
      {"0140008", 0, 1},                     {"014000", 0, 1},
      {"014000", 1, 1},                      {"014000", 2, 1},
      {"0140000", 3, 1},
  };
  // clang-format on
  for (const Row &row : rows) {
    TagAddress a;
    SCOPED_TRACE(testing::Message() << row.text << " as type " << row.type);
    int32_t result = Resolve(row.text, row.type, &a);
    EXPECT_EQ(result, row.result);
    if (row.result != 0 || result != 0) continue;
    EXPECT_EQ(a.plcNumber, row.plc);
    EXPECT_EQ(a.memoryType, 0x31);
    EXPECT_EQ(a.wordAddress, row.word);
    EXPECT_EQ(a.bitNumber, row.bit);
    EXPECT_EQ(a.width, row.width);
  }
}

TEST(Boundary, ResolveBlockWorkedExamples) {
  TagAddress a;
  EXPECT_EQ(ResolveBlock("0140000", 128, &a), 0);
  EXPECT_EQ(a.plcNumber, 1);
  EXPECT_EQ(a.wordAddress, 16385);
  EXPECT_EQ(a.bitNumber, 255);
  EXPECT_EQ(a.width, 16);
  EXPECT_EQ(ResolveBlock("0140000", 129, &a), 1);
  EXPECT_EQ(ResolveBlock("0140000L", 64, &a), 0);
  EXPECT_EQ(a.wordAddress, 8193);
  EXPECT_EQ(a.width, 32);
  EXPECT_EQ(ResolveBlock("0140000F", 65, &a), 1);
  EXPECT_EQ(ResolveBlock("0140000f", 64, &a), 0);
  EXPECT_EQ(ResolveBlock("01400003", 1, &a), 1);
  EXPECT_EQ(ResolveBlock("0140000", 0, &a), 0);
  EXPECT_EQ(ResolveBlock("0140002L", 0, &a), 0);
  EXPECT_EQ(ResolveBlock("0140001L", 1, &a), 1);
  // Counts the block transactions could not carry.
  EXPECT_EQ(ResolveBlock("0140000", -1, &a), 1);
  EXPECT_EQ(ResolveBlock("0140000L", INT32_MIN, &a), 1);
}

TEST(Boundary, ResolveRefusesMalformedTexts) {
  // clang-format off
  const char *texts[] = {"",         "0",         "01400000", "014000000", "0140000LL",
                         "G140000",  "0G40000",   "0180000",  "0140 00",   "0140000\xC6",
                         ("\xB0" "140000"), "0140000G", "01400-0",  " 140000"};
  // clang-format on
  for (const char *t : texts) {
    for (uint32_t type = 0; type <= 6; ++type) {
      // "01400000" is a good bit-0 address; everything else is refused.
      if (strcmp(t, "01400000") == 0 && type == 6) continue;
      TagAddress a;
      EXPECT_EQ(Resolve(t, type, &a), 1) << t << " as type " << type;
    }
  }
  EXPECT_EQ(Resolve("0140000", 7, nullptr), 1);
  EXPECT_EQ(Resolve("0140000L", 0xFFFFFFFF, nullptr), 1);
  EXPECT_EQ(Resolve("0140003F", 3, nullptr), 1);
  EXPECT_EQ(Resolve("0140005L", 5, nullptr), 1);
  EXPECT_EQ(Resolve("0140000E", 3, nullptr), 1);
  EXPECT_EQ(Resolve("0140000", 6, nullptr), 1);
  EXPECT_EQ(Resolve("00400000", 6, nullptr), 1);
  EXPECT_EQ(ResolveBlock("", 1, nullptr), 1);
  EXPECT_EQ(ResolveBlock("014000000", 1, nullptr), 1);
}

TEST(Boundary, ResolveTreatsBothCasesAlike) {
  TagAddress upper, lower;
  EXPECT_EQ(Resolve("0A40000L", 4, &upper), 0);
  EXPECT_EQ(Resolve("0a40000l", 4, &lower), 0);
  EXPECT_EQ(memcmp(&upper, &lower, sizeof upper), 0);
  EXPECT_EQ(Resolve("0140000f", 3, &lower), 0);
  EXPECT_EQ(Resolve("0140000b", 6, &lower), 0);
  EXPECT_EQ(lower.bitNumber, 11);
  // Codes 0x7B..0x7F upper-case to 0x5B..0x5F, which no position accepts.
  EXPECT_EQ(Resolve("0140000{", 6, nullptr), 1);
}

namespace {

// Channels on two threads resolve at once, as a SCADA host's channels may:
// neither may see the other's text.
struct ResolveWork {
  const char *text;
  uint32_t type, plc, word;
  int wrong;
};
void ResolveOften(void *arg) {
  ResolveWork *w = static_cast<ResolveWork *>(arg);
  for (int i = 0; i < 100000; ++i) {
    TagAddress a;
    bool right = Resolve(w->text, w->type, &a) == LUMISAR_DONE && a.plcNumber == w->plc &&
                 a.wordAddress == w->word;
    if (!right) ++w->wrong;
  }
}

}  // namespace

TEST(Boundary, TwoThreadsResolveAtOnce) {
  ResolveWork work[2] = {{"0140000", LUMISAR_TYPE_WORD0, 1, 16385, 0},
                         {"5A77776L", LUMISAR_TYPE_LONG4, 90, 16384, 0}};
  void *args[2] = {&work[0], &work[1]};
  const char *whyNot = "";
  if (!RunOnThreads(ResolveOften, args, 2, &whyNot)) GTEST_SKIP() << whyNot;
  EXPECT_EQ(work[0].wrong, 0);
  EXPECT_EQ(work[1].wrong, 0);
}

TEST(Boundary, ResolveRefusesNullTextAndNeverReadsPastTheNinthCharacter) {
  ResolveRequest r;
  memset(&r, 0, sizeof r);
  r.addressText = nullptr;
  EXPECT_EQ(Call(LUMISAR_OP_RESOLVE_ADDRESS, nullptr, &r), 1);
  EXPECT_EQ(Call(LUMISAR_OP_RESOLVE_BLOCK_ADDRESS, nullptr, &r), 1);
  // Nine characters and no terminator, at the very end of an allocation:
  // a sanitizer build reports any read past them.
  char *text = static_cast<char *>(malloc(9));
  memcpy(text, "014000000", 9);
  EXPECT_EQ(Resolve(text, 6, nullptr), 1);
  EXPECT_EQ(ResolveBlock(text, 1, nullptr), 1);
  free(text);
}

TEST(Boundary, DescribeFillsTheRecordWithoutAContext) {
  DriverInfo info;
  memset(&info, 0xCC, sizeof info);
  EXPECT_EQ(Call(LUMISAR_OP_DESCRIBE_DRIVER, nullptr, &info), LUMISAR_DONE);
  EXPECT_EQ(info.hostCode1, 82);
  EXPECT_STREQ(info.vendorText, "Texas Instruments and Koyo");
  EXPECT_EQ(info.contextSize, 316);
  EXPECT_EQ(info.hostCode2, 4);
  EXPECT_EQ(info.defaultSettings.baudRate, 19200);
  EXPECT_EQ(info.defaultSettings.dataBits, 8);
  EXPECT_EQ(info.defaultSettings.stopBits, 0);
  EXPECT_EQ(info.defaultSettings.parity, 1);
  EXPECT_EQ(info.hostCode3, 0xE50023);
  DriverInfo again;
  EXPECT_EQ(Call(LUMISAR_OP_DESCRIBE_DRIVER, nullptr, &again), LUMISAR_DONE);
  EXPECT_TRUE(again.vendorText == info.vendorText);
  EXPECT_TRUE(again.bannerText == info.bannerText);
  EXPECT_EQ(memcmp(&again, &info, sizeof info), 0);
}

// What the banner shows: six lines of 62 characters in a double-line box,
// the name in the middle of the title between shades that darken outwards
// alike on both sides, the two lines of what it speaks, and the version at
// the end of the notice.
TEST(Boundary, BannerGeometry) {
  DriverInfo info;
  EXPECT_EQ(Call(LUMISAR_OP_DESCRIBE_DRIVER, nullptr, &info), LUMISAR_DONE);
  std::string banner = info.bannerText, line[6];
  ASSERT_EQ(banner.size(), 379u);
  EXPECT_EQ(banner[0], '\n');
  for (int i = 0; i < 6; ++i) {
    line[i] = banner.substr(1 + 63 * i, 62);
    EXPECT_EQ(banner[63 * (i + 1)], '\n');
    EXPECT_EQ(line[i].find('\n'), std::string::npos);
    EXPECT_EQ(line[i][0], ' ');
  }
  EXPECT_EQ(line[0], " \xC9" + std::string(59, '\xCD') + "\xBB");
  EXPECT_EQ(line[5], " \xC8" + std::string(59, '\xCD') + "\xBC");
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(line[i][1] == '\xBA' && line[i][61] == '\xBA') << i;
  // The name's middle is the box's; each shade is as dark as its mirror and
  // no lighter than the one inside it.
  EXPECT_EQ(line[1].find("O R V E N") + 4, 31u);
  const std::string shades = " \xB0\xB1\xB2\xDB";
  for (int c = 3; c < 26; ++c) {
    EXPECT_EQ(line[1][c], line[1][62 - c]) << c;
    EXPECT_GE(shades.find(line[1][c]), shades.find(line[1][c + 1])) << c;
    EXPECT_NE(line[1][c], ' ') << c;
  }
  EXPECT_NE(line[2].find("Texas Instruments Series 405"), std::string::npos);
  EXPECT_NE(line[3].find("Transparent Byte Protocol"), std::string::npos);
  // The notice ends with the version, in the box's blank margins.
  EXPECT_EQ(line[4].find("Version 5.30") + 12, 54u);
  EXPECT_EQ(line[4].find_first_not_of(' ', 2), 9u);
  EXPECT_EQ(line[4].find_last_not_of(' ', 60), 53u);
}

// The tools' command line: whole numbers, line settings, options, and the words of each mistake.
#include "command_line.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "sim_core.h"
#include "sim_spoil.h"

namespace {

std::string Hex(uint8_t b) {
  char text[3];
  snprintf(text, sizeof text, "%02X", b);
  return text;
}

TEST(CommandLine, Numbers) {
  // text | the number read, or "-" when the text is refused
  // clang-format off
  const char *const whole[][2] = {
    {"19200", "19200"}, {"+7", "7"}, {"-32768", "-32768"}, {"0x1F", "31"}, {"0X1f", "31"}, {"-0x10", "-16"},
    {"0100", "100"}, {"010", "10"}, {"09600", "9600"}, {"9223372036854775807", "9223372036854775807"}, {"9223372036854775808", "-"},
    {"-9223372036854775808", "-9223372036854775808"}, {"0x10000000000000000", "-"}, {"", "-"}, {"-", "-"},
    {"0x", "-"}, {"fast", "-"}, {"12x", "-"}, {" 1", "-"}, {"1.5", "-"}, {"-0x-5", "-"}, {"--5", "-"}};
  const char *const hexadecimal[][2] = {{"7F", "127"}, {"7f", "127"}, {"01", "1"}, {"8000000000000000", "-"},
    {"+7E", "-"}, {"-1", "-"}, {"0x7F", "-"}, {" 7F", "-"}, {"", "-"}, {"G", "-"}};
  // clang-format on
  long long v;
  for (auto &r : whole) EXPECT_EQ(ReadWhole(r[0], &v) ? std::to_string(v) : "-", r[1]) << r[0];
  for (auto &r : hexadecimal)
    EXPECT_EQ(ReadHexadecimal(r[0], &v) ? std::to_string(v) : "-", r[1]) << r[0];
  EXPECT_FALSE(ReadWhole(nullptr, &v));
}

// clang-format off
struct { bool flag; const char *text; uint16_t baud; unsigned parity, stop; } got;  // what the rows set
bool Parity(const char *v) { return ParseParity("--parity", v, &got.parity); }
bool Stop(const char *v) { return ParseStopBits("--stop", v, &got.stop); }
const Option kTable[] = {
  {"--flag",    nullptr,   kAnyPlatform, Flag(&got.flag),              "a flag"},
  {"--text",    "TEXT",    kAnyPlatform, Text(&got.text),              "a text"},
  {"--baud",    "N",       kAnyPlatform, Whole(&got.baud, 110, 65535), "a whole number"},
  {"--parity",  "P",       kAnyPlatform, Custom(Parity),               "a parity"},
  {"--stop",    "1|1.5|2", kAnyPlatform, Custom(Stop),                 "stop bits"},
  {"--windows", nullptr,   kWindowsOnly, Flag(&got.flag),              "Windows' alone"}};
// clang-format on

TEST(CommandLine, Options) {
  SetToolName("tool");
  // arguments | where ParseOptions starts | where it stopped, -1 for a mistake: flag text baud
  // parity stop | what is said
  // clang-format off
  const struct { const char *args; int at; const char *got, *said; } rows[] = {
    {"--text a --baud 110 --flag file --stop 2", 0, "5: 1 a 110 0 0", ""},
    {"--text=a=b --baud=0xFFFF --parity=space --stop=1.5", 0, "4: 0 a=b 65535 4 1", ""},
    {"--parity none --parity odd --parity even --parity mark", 0, "8: 0 - 0 3 0", ""},
    {"read 0140000 --baud 09600 --flag word", 2, "5: 1 - 9600 0 0", ""},
    {"--speed 9600", 0, "-1: 0 - 0 0 0", "unknown option --speed (tool --help lists them)"},
    {"--baud 109", 0, "-1: 0 - 0 0 0", "--baud takes a whole number from 110 to 65535 (not \"109\")"},
    {"--baud 65536", 0, "-1: 0 - 0 0 0", "--baud takes a whole number from 110 to 65535 (not \"65536\")"},
    {"--baud fast", 0, "-1: 0 - 0 0 0", "--baud takes a whole number from 110 to 65535 (not \"fast\")"},
    {"--parity bogus", 0, "-1: 0 - 0 0 0", "--parity takes none, odd, even, mark or space (not \"bogus\")"},
    {"--stop 0", 0, "-1: 0 - 0 0 0", "--stop takes 1, 1.5 or 2 stop bits (not \"0\")"},
    {"--flag=5", 0, "-1: 0 - 0 0 0", "--flag takes no value (not \"--flag=5\")"},
    {"--text", 0, "-1: 0 - 0 0 0", "--text needs a value: --text TEXT"},
    {"--windows", 0, "-1: 0 - 0 0 0", "--windows is for the Windows tool; use --text"}};
  // clang-format on
  for (const auto &r : rows) {
    got = {};
    char copy[80], *argv[8], fields[80];
    snprintf(copy, sizeof copy, "%s", r.args);
    int argc = 0, n = sizeof kTable / sizeof kTable[0], result = r.at;
    for (char *p = strtok(copy, " "); p; p = strtok(nullptr, " ")) argv[argc++] = p;
    testing::internal::CaptureStderr();
    if (!ParseOptions(kTable, n, false, "use --text", argc, argv, &result)) result = -1;
    std::string said = testing::internal::GetCapturedStderr();
    snprintf(fields, sizeof fields, "%d: %d %s %u %u %u", result, got.flag,
             got.text ? got.text : "-", got.baud, got.parity, got.stop);
    EXPECT_STREQ(fields, r.got) << r.args;
    EXPECT_EQ(said, *r.said ? "tool: " + std::string(r.said) + "\n" : "") << r.args;
  }  // Defaults, taken before the command line by the options' own rules.
  const Option defaults[] = {
      {"--baud", "N", kAnyPlatform, Whole(&got.baud, 110, 65535), "", "9600"},
      {"--stop", "S", kAnyPlatform, Custom(Stop), "", "1.5"}};
  got = {};
  EXPECT_TRUE(ApplyDefaults(defaults, 2));
  EXPECT_EQ(got.baud * 10 + got.stop, 96001u);
}

// What each of plcsim's spoils does to an acknowledge 4E 21 06, at a place and with a value.
TEST(CommandLine, PlcsimSpoils) {
  // spoil | at | value | the acknowledge after it
  // clang-format off
  const struct { int how; size_t at; uint8_t value; const char *bytes; } spoiled[] = {
    {kSpoilChange, 1, 0x0F, "4E 2E 06"}, {kSpoilLose, 0, 0, "21 06"}, {kSpoilLose, 2, 0, "4E 21"},
    {kSpoilInsert, 3, 0x11, "4E 21 06 11"}, {kSpoilInsert, 1, 0x00, "4E 00 21 06"}, {kSpoilChange, 3, 0x0F, "4E 21 06"}};
  // clang-format on
  const uint8_t ack[] = {0x4E, 0x21, 0x06};
  for (const auto &r : spoiled) {
    uint8_t out[8];
    size_t n = SimSpoilFrameAt(r.how, r.at, r.value, ack, sizeof ack, out);
    std::string bytes;
    for (size_t k = 0; k < n; ++k) bytes += (k ? " " : "") + Hex(out[k]);
    EXPECT_EQ(bytes, r.bytes) << SimSpoilName(r.how) << " at " << r.at;
  }
}

}  // namespace

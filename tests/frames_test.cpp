// Frames on the wire, byte for byte, and the trace lines of SendStr and
// RecvStr.
#include "protocol/frames.h"

#include <gtest/gtest.h>
#include <string.h>

#include "support/driver_api.h"

namespace {

IoRequest Request(uint32_t plc, uint32_t word, uint32_t width, uint32_t type, int32_t count,
                  void *values) {
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.address = TagAddress{plc, 0x31, word, 255, width};
  io.dataType = type;
  io.count = count;
  io.values = values;
  return io;
}

}  // namespace

TEST(Frames, ReadHeaderAndEnquiryForPlcOneWord0201) {
  PortContext c;
  memset(&c, 0, sizeof c);
  uint8_t values[4] = {};
  IoRequest io = Request(1, 0x0201, 16, 0, 1, values);
  MakeReadHeader(&c, &io);
  const uint8_t enquiry[] = {0x4E, 0x21, 0x05};
  const uint8_t header[] = {0x01, 0x30, 0x31, 0x30, 0x31, 0x30, 0x32, 0x30, 0x31,
                            0x30, 0x30, 0x30, 0x32, 0x30, 0x30, 0x17, 0x01};
  EXPECT_EQ(memcmp(c.enquiry, enquiry, 3), 0);
  EXPECT_EQ(memcmp(c.header, header, 17), 0);
}

TEST(Frames, WriteFramesForLongAndWordValues) {
  PortContext c;
  memset(&c, 0, sizeof c);
  uint8_t values[4] = {0x78, 0x56, 0x34, 0x12};
  IoRequest io = Request(1, 0x0101, 32, 4, 1, values);
  MakeWriteFrames(&c, &io);
  const uint8_t header[] = {0x01, 0x30, 0x31, 0x38, 0x31, 0x30, 0x32, 0x30, 0x31,
                            0x30, 0x30, 0x30, 0x34, 0x30, 0x30, 0x17, 0x0F};
  EXPECT_EQ(memcmp(c.header, header, 17), 0);
  const uint8_t longFrame[] = {0x02, 0x78, 0x56, 0x34, 0x12, 0x03, 0x08};
  EXPECT_EQ(memcmp(c.dataFrame, longFrame, 7), 0);
  // A 16-bit value comes from the buffer's second word only.
  uint8_t word[4] = {0xEE, 0xEE, 0x34, 0x12};
  io = Request(1, 0x0201, 16, 0, 1, word);
  MakeWriteFrames(&c, &io);
  const uint8_t wordFrame[] = {0x02, 0x34, 0x12, 0x03, 0x26};
  EXPECT_EQ(memcmp(c.dataFrame, wordFrame, 5), 0);
  EXPECT_EQ(c.header[3], '8');
  EXPECT_EQ(c.header[12], '2');
}

TEST(Frames, StationByteAndPlcDigits) {
  PortContext c;
  memset(&c, 0, sizeof c);
  IoRequest io = Request(0x5A, 1, 16, 0, 1, nullptr);
  MakeReadHeader(&c, &io);
  EXPECT_EQ(c.enquiry[1], 0x7A);
  EXPECT_EQ(memcmp(c.header + 1, "5A", 2), 0);
  io = Request(0xFF, 1, 16, 0, 1, nullptr);
  MakeReadHeader(&c, &io);
  EXPECT_EQ(c.enquiry[1], 0x1F);
  EXPECT_EQ(memcmp(c.header + 1, "FF", 2), 0);
  // 32-bit tags: the stored half address is doubled back (V40000 is word
  // 16385, stored as 8193).
  io = Request(1, 8193, 32, 3, 1, nullptr);
  MakeReadHeader(&c, &io);
  EXPECT_EQ(memcmp(c.header + 5, "4001", 4), 0);
  EXPECT_EQ(memcmp(c.header + 9, "0004", 4), 0);
}

TEST(Frames, BlockHeadersCountBlocksAndBytes) {
  PortContext c;
  memset(&c, 0, sizeof c);
  uint8_t values[256] = {};
  struct Row {
    uint32_t width;
    int32_t count;
    const char *counts;
  } rows[] = {{16, 128, "0100"}, {32, 64, "0100"},  {16, 127, "00FE"},
              {16, 1, "0002"},   {16, 100, "00C8"}, {32, 3, "000C"}};
  for (const Row &row : rows) {
    IoRequest io = Request(1, 1, row.width, 0, row.count, values);
    MakeBlockReadHeader(&c, &io);
    EXPECT_EQ(memcmp(c.header + 9, row.counts, 4), 0);
    EXPECT_EQ(memcmp(c.header + 3, "01", 2), 0);
    MakeBlockWriteFrames(&c, &io);
    EXPECT_EQ(memcmp(c.header + 9, row.counts, 4), 0);
    EXPECT_EQ(memcmp(c.header + 3, "81", 2), 0);
    EXPECT_EQ(c.header[16], CalcLrc(c.header, 17));
  }
}

TEST(Frames, BlockWriteCheckByteCoversEveryDataByte) {
  PortContext c;
  memset(&c, 0, sizeof c);
  uint16_t words[128];
  for (int i = 0; i < 128; ++i) words[i] = static_cast<uint16_t>(i * 0x0101);
  IoRequest io = Request(1, 1, 16, 0, 128, words);
  MakeBlockWriteFrames(&c, &io);
  EXPECT_EQ(c.dataFrame[0], 0x02);
  EXPECT_EQ(c.dataFrame[257], 0x03);
  uint8_t first = c.dataFrame[258];
  EXPECT_TRUE(CheckLrc(c.dataFrame, 259));
  words[127] ^= 0x8000;
  MakeBlockWriteFrames(&c, &io);
  EXPECT_TRUE(c.dataFrame[258] != first);
  EXPECT_TRUE(CheckLrc(c.dataFrame, 259));
}

TEST(Frames, CheckByteIgnoresStartAndTerminator) {
  uint8_t frame[5] = {0x02, 0x34, 0x12, 0x03, 0x26};
  EXPECT_TRUE(CheckLrc(frame, 5));
  frame[0] = 0x7F;
  frame[3] = 0x00;
  EXPECT_TRUE(CheckLrc(frame, 5));
  frame[4] = 0x27;
  EXPECT_FALSE(CheckLrc(frame, 5));
}

TEST(Frames, TracesShowSeventeenBytesAndNothingOutsideTheirObject) {
  LogReset();
  PortContext c;
  memset(&c, 0, sizeof c);
  IoRequest io = Request(1, 0x0201, 16, 0, 1, nullptr);
  MakeReadHeader(&c, &io);
  // No port: the send fails but still traces.
  EXPECT_FALSE(SendStr(&c, c.enquiry, 3));
  EXPECT_EQ(LogLevel(0), 8);
  EXPECT_STREQ(LogText(0),
               "ORVEN> SendStr() Tx 4E 21 05 01 30 31 30 31 30 32 30 31 30 30 30 32 30");
  // The last byte of the context's fields: what follows it is not shown.
  // The record's last byte is padding: shown as 00 even when the host's
  // memory there is not zero.
  c.ackByte = 0x06;
  c.eotByte = 0x04;
  reinterpret_cast<uint8_t *>(&c)[sizeof c - 1] = 0xEE;
  SendStr(&c, &c.ackByte, 1);
  EXPECT_STREQ(LogText(1),
               "ORVEN> SendStr() Tx 06 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  SendStr(&c, &c.eotByte, 1);
  EXPECT_STREQ(LogText(2),
               "ORVEN> SendStr() Tx 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  LogReset();
  uint8_t reply[8];
  memset(reply, 0xAB, sizeof reply);
  EXPECT_EQ(RecvStr(&c, reply, 3, sizeof reply), Reception::Nothing);
  EXPECT_STREQ(LogText(0),
               "ORVEN> RecvStr() Rx AB AB AB AB AB AB AB AB 00 00 00 00 00 00 00 00 00");
}

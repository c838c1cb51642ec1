#include "sim_line.h"

#include <string.h>

#include "driver_api.h"

namespace {

// On a line with time a delay or a late frame holds the line idle for
// its milliseconds before the bytes that follow.
void HoldLine(WinsubMemDevice *dev, uint32_t ms) {
  uint64_t from = dev->rxFreeUs > dev->clockUs ? dev->rxFreeUs : dev->clockUs;
  dev->rxFreeUs = from + static_cast<uint64_t>(ms) * 1000;
}

void AnswerInTime(WinsubMemDevice *dev, const SimOutput &out) {
  HoldLine(dev, out.delayMs);
  size_t from = 0;
  for (size_t k = 0; k < out.pauseCount; ++k) {
    WinsubMemPush(dev, out.bytes + from, out.pauses[k].at - from);
    HoldLine(dev, out.pauses[k].ms);
    from = out.pauses[k].at;
  }
  WinsubMemPush(dev, out.bytes + from, out.len - from);
}

void Answer(WinsubMemDevice *dev, const uint8_t *bytes, size_t n, void *user) {
  SimLine *line = static_cast<SimLine *>(user);
  SimOutput out;
  out.len = 0;
  out.delayMs = 0;
  SimFeed(line->sim, bytes, n, &out);
  if (line->alter) line->alter(&out);
  if (dev->paced) {
    AnswerInTime(dev, out);
    return;
  }
  // A late reply, or the part of one behind a late frame, arrives only
  // after the driver's read has waited in vain.
  size_t now = out.delayMs ? 0 : out.pauseCount ? out.pauses[0].at : out.len;
  WinsubMemPush(dev, out.bytes, now);
  WinsubMemPushLater(dev, out.bytes + now, out.len - now);
}

}  // namespace

void SimLineOpen(SimLine *line) {
  WinsubReset();
  LogReset();
  memset(&line->context, 0, sizeof line->context);
  line->dev = WinsubAddMemoryDevice("COM3");
  line->sim = SimCreate();
  SimAddStation(line->sim, 1);
  line->dev->peer = Answer;
  line->dev->peerUser = line;
  line->alter = nullptr;
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, "COM3");
  r.enabled = 1;
  r.replyTimeout = 5;
  r.settings = SerialSettings{19200, 8, 0, 0};
  Call(LUMISAR_OP_OPEN_PORT, &line->context, &r);
  LogReset();
}

void SimLinePace(SimLine *line, SerialSettings settings, uint32_t limit) {
  if (settings.baudRate == 0) return;
  Call(LUMISAR_OP_CLOSE_PORT, &line->context, nullptr);
  line->dev->paced = 1;
  line->dev->lineBaud = settings.baudRate;
  line->dev->lineParity = static_cast<BYTE>(settings.parity);
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, "COM3");
  r.enabled = 1;
  r.replyTimeout = limit;
  r.settings = settings;
  Call(LUMISAR_OP_OPEN_PORT, &line->context, &r);
  LogReset();
}

void SimLineClose(SimLine *line) {
  Call(LUMISAR_OP_CLOSE_PORT, &line->context, nullptr);
  SimDestroy(line->sim);
  WinsubReset();
}

unsigned SimEnquiries(const SimLine *line) { return SimGetStats(line->sim)->enquiries; }

int32_t Transfer(SimLine *line, uint32_t operation, IoRequest *io) {
  return Call(operation, &line->context, io);
}

int32_t ReadTag(SimLine *line, const char *text, uint32_t dataType, void *values) {
  IoRequest io = TagRequest(text, dataType, 1, values, false);
  return Transfer(line, LUMISAR_OP_SINGLE_READ, &io);
}

int32_t WriteTag(SimLine *line, const char *text, uint32_t dataType, void *values) {
  IoRequest io = TagRequest(text, dataType, 1, values, false);
  return Transfer(line, LUMISAR_OP_SINGLE_WRITE, &io);
}

int32_t ReadBlockTag(SimLine *line, const char *text, int32_t count, void *values) {
  IoRequest io = TagRequest(text, 0, count, values, true);
  return Transfer(line, LUMISAR_OP_BLOCK_READ, &io);
}

int32_t WriteBlockTag(SimLine *line, const char *text, int32_t count, void *values) {
  IoRequest io = TagRequest(text, 0, count, values, true);
  return Transfer(line, LUMISAR_OP_BLOCK_WRITE, &io);
}

// Operations 1, 2, 11/12, 13 and 15: give a channel its port and take it
// away again. They are the only code that writes the context's
// replyTimeout, enabled, port and spec (its port spec) fields.
#include "port_operations.h"

#include <stdio.h>
#include <string.h>

#include "host/driver_log.h"
#include "host/quarne.h"
#include "serial_line.h"

namespace {

// What OpenPort stores as lineControl: none of the DTR/RTS flags, so both
// lines stay in disable mode.
constexpr uint16_t kLineControlNone = 8;

// A line that would not take the host's reply limit keeps the 1000 ms an
// open sets: its reads are still bounded, and the port is as usable as it
// opened. The operation goes on.
void SetReplyLimit(HANDLE line, uint32_t units) {
  LineResult set = SerialSetReplyTimeout(line, units, nullptr);
  (void)set;
}

// A device name is a 12-byte field; one without a terminator inside it is
// never read past its end.
bool NameTerminated(const char *name) {
  return memchr(name, 0, LUMISAR_DEVICE_NAME_SIZE) != nullptr;
}

HANDLE OpenPortSpec(const PortSpec &portSpec) {
  if (!NameTerminated(portSpec.deviceName)) return nullptr;
  HANDLE h = nullptr;
  if (SerialOpen(portSpec.deviceName, portSpec.settings, portSpec.lineControl, &h) != kLineOk)
    return nullptr;
  return h;
}

// A device that admits several opens (or another device) gave a new handle
// while the context still held one: close the one being replaced, which
// nothing else could ever close. Done only after the new open succeeded.
void TakeNewPort(PortContext *context, HANDLE h) {
  HANDLE old = context->port;
  context->port = h;
  if (old && old != h) SerialClose(old);
}

void LogOpenFailure(const char *deviceName) {
  char shown[LUMISAR_DEVICE_NAME_SIZE];
  memcpy(shown, deviceName, sizeof shown);
  shown[sizeof shown - 1] = 0;
  err(kLogError, ORVEN_OPEN_FAILED "%s", shown);
}

}  // namespace

int32_t OpenPort(RequestBlock *request) {
  PortContext *context = request->context;
  const OpenRequest *open = static_cast<const OpenRequest *>(request->params);
  if (!context || !open) return LUMISAR_FAILED;
  context->enabled = open->enabled;
  if (!open->enabled) return LUMISAR_DONE;

  if (!NameTerminated(open->deviceName)) {
    LogOpenFailure(open->deviceName);
    return LUMISAR_FAILED;
  }
  PortSpec portSpec;
  memset(&portSpec, 0, sizeof portSpec);
  strcpy(portSpec.deviceName, open->deviceName);
  portSpec.settings = open->settings;
  portSpec.lineControl = kLineControlNone;

  HANDLE h = OpenPortSpec(portSpec);
  if (!h) {
    LogOpenFailure(open->deviceName);
    return LUMISAR_FAILED;
  }
  TakeNewPort(context, h);
  SetReplyLimit(h, open->replyTimeout);
  context->spec = portSpec;
  context->replyTimeout = open->replyTimeout;
  return LUMISAR_DONE;
}

int32_t PurgeInput(RequestBlock *request) {
  PortContext *context = request->context;
  if (context && context->port) SerialPurge(context->port);
  return LUMISAR_DONE;
}

int32_t ClosePort(RequestBlock *request) {
  PortContext *context = request->context;
  if (!context || !context->port) return LUMISAR_DONE;
  // A failed close keeps the handle, so a later close can try again.
  if (SerialClose(context->port) != kLineOk) return LUMISAR_FAILED;
  context->port = nullptr;
  return LUMISAR_DONE;
}

int32_t ReopenPort(RequestBlock *request) {
  PortContext *context = request->context;
  if (!context) return LUMISAR_FAILED;
  HANDLE h = OpenPortSpec(context->spec);
  if (!h) return LUMISAR_FAILED;
  context->enabled = 1;
  TakeNewPort(context, h);
  return LUMISAR_DONE;
}

int32_t ReconfigurePort(RequestBlock *request) {
  PortContext *context = request->context;
  const ReconfigureRequest *change = static_cast<const ReconfigureRequest *>(request->params);
  if (!context || !change) return LUMISAR_FAILED;
  if (!NameTerminated(change->deviceName)) return LUMISAR_FAILED;

  if (change->replyTimeout != 0) context->replyTimeout = change->replyTimeout;
  bool sameDevice =
      strncmp(change->deviceName, context->spec.deviceName, LUMISAR_DEVICE_NAME_SIZE) == 0;
  if (!sameDevice && context->port) ClosePort(request);
  memset(context->spec.deviceName, 0, LUMISAR_DEVICE_NAME_SIZE);
  strcpy(context->spec.deviceName, change->deviceName);
  if (change->settings.baudRate != 0) context->spec.settings = change->settings;

  HANDLE h = OpenPortSpec(context->spec);
  if (!h) return LUMISAR_FAILED;
  TakeNewPort(context, h);
  context->enabled = 1;
  SetReplyLimit(h, context->replyTimeout);
  return LUMISAR_DONE;
}

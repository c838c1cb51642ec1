#include <string.h>

#include "driver_api.h"

int32_t Call(uint32_t operation, PortContext *context, void *params) {
  RequestBlock r;
  memset(&r, 0, sizeof r);
  r.context = context;
  r.operation = operation;
  r.params = params;
  return Zub(&r);
}

int32_t Resolve(const char *text, uint32_t dataType, TagAddress *out) {
  ResolveRequest r;
  memset(&r, 0, sizeof r);
  r.addressText = text;
  r.dataType = dataType;
  int32_t result = Call(LUMISAR_OP_RESOLVE_ADDRESS, nullptr, &r);
  if (out) *out = r.address;
  return result;
}

int32_t ResolveBlock(const char *text, int32_t count, TagAddress *out) {
  ResolveRequest r;
  memset(&r, 0, sizeof r);
  r.addressText = text;
  r.count = count;
  int32_t result = Call(LUMISAR_OP_RESOLVE_BLOCK_ADDRESS, nullptr, &r);
  if (out) *out = r.address;
  return result;
}

IoRequest TagRequest(const char *text, uint32_t dataType, int32_t count, void *values, bool block) {
  IoRequest io;
  memset(&io, 0, sizeof io);
  io.addressText = text;
  io.dataType = dataType;
  io.count = count;
  io.values = values;
  if (block)
    ResolveBlock(text, count, &io.address);
  else
    Resolve(text, dataType, &io.address);
  return io;
}

int LogLinesEqual(const char *text) {
  int n = 0;
  for (int i = 0; i < LogCount(); ++i) n += strcmp(LogText(i), text) == 0;
  return n;
}

int LogLinesStarting(const char *prefix) {
  int n = 0;
  for (int i = 0; i < LogCount(); ++i) n += strncmp(LogText(i), prefix, strlen(prefix)) == 0;
  return n;
}

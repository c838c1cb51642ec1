// The host version query of the tag format dialog.
#include <stdio.h>
#include <windows.h>

#include "quarne.h"

uint16_t QueryHostVersion() {
  char name[256];
  snprintf(name, sizeof name, "OrvenBr%02lu", static_cast<unsigned long>(GetCurrentThreadId()));
  uint8_t clientId = 0xFF;
  uint16_t version = 0;
  // The registration's meaning of 1 and 0 is the host library's own.
  if ((TevMkClient(name, 1, 0, &clientId) & 0xFFFF) == 0) {
    char scratch[100];
    TevGetQuarneVer(clientId, &version, scratch);
    TevRmClient(clientId);
  }
  return version;
}

// The host library QUARNE: log lines and the host's version. All four are
// cdecl, err takes a printf format and its arguments.
#pragma once

#include <stdint.h>

#include "lumisar.h"

#if defined(_WIN32)
#define QUARNE_LINK_NAME(name)
#else
// glibc already has an err(); the native build's substitute answers to
// another link name so the two never meet.
#define QUARNE_LINK_NAME(name) __asm__(name)
#endif

// The levels err takes from the driver.
constexpr int kLogTrace = 8;   // protocol traces and transaction diagnostics
constexpr int kLogError = 32;  // errors the host should see

extern "C" {
int LUMISAR_CDECL err(int level, const char *format, ...) QUARNE_LINK_NAME("quarne_err");
int LUMISAR_CDECL TevMkClient(const char *name, int kind, int flags, uint8_t *clientId);
int LUMISAR_CDECL TevGetQuarneVer(uint8_t clientId, uint16_t *version, char *text);
int LUMISAR_CDECL TevRmClient(uint8_t clientId);
}

// The host version from which the tag format dialog is owned by the host's
// window; earlier hosts (and a failed registration, which leaves 0) get a
// dialog without owner.
constexpr uint16_t kOwnedDialogVersion = 820;

// Asks the host library for its version: registers a client named after the
// calling thread, queries, unregisters. 0 when registration fails.
uint16_t QueryHostVersion();

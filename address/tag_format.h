// The tag format dialog's logic, apart from the window system: checking the
// entries, the PLC spinner and composing the address text.
#pragma once

// Control ids of dialog resource 101, shared with the resource script.
#include "tag_format_ids.h"

// The remembered data type: the radio button last chosen.
constexpr int kTagType16 = 16;      // "16 - bits"
constexpr int kTagType32 = 32;      // "32 - bits"
constexpr int kTagTypeFloat = 100;  // "  Float"

constexpr int kBitItemCount = 17;  // "F" .. "0", then "None"
constexpr int kBitItemNone = 16;
extern const char *const BitListItems[kBitItemCount];

// The message for the first entry that fails the OK checks, or null when
// all pass. Lengths are what the edits and the list reported.
const char *CheckTagEntries(const char *plc, int plcLength, const char *address, int addressLength,
                            const char *bit, int bitLength, int dataType);

// The spinner: the PLC edit's text after one arrow press (lineUp true for
// the upper arrow), as two lower-case hexadecimal digits.
void SpinPlcText(const char *text, bool lineUp, char out[3]);

// Writes the 7- or 8-character address text and its terminator (9 bytes at
// most) from entries that passed the checks.
void ComposeAddressText(char *out, const char *plc, const char *address, const char *bit,
                        int dataType);

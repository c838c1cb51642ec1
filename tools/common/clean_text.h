// Every text the tools write that came from outside them (a title, a file
// name, a port name, a log's text) goes out through WriteCleanText, so that
// a page, a JSON document, a picture or a terminal gets valid UTF-8 and no
// control character it would act on. Each format says how it escapes a byte
// of its own; the UTF-8 rule is the same for all of them.
#pragma once

#include <stdio.h>

// Writes the character of this code in the format's own way and returns
// true, or returns false to have it written as it is. It is asked about
// every character below U+00A0: ASCII and the C1 controls.
typedef bool (*EscapeByte)(FILE *out, unsigned code);

// Writes text: each well-formed UTF-8 sequence as it is, each byte that
// starts none (a stray continuation byte, an overlong form, a surrogate, a
// code point above U+10FFFF, a sequence cut short) as U+FFFD, or on Windows
// as the character it is in the ANSI code page, and each character below
// U+00A0 as escape says.
void WriteCleanText(FILE *out, const char *text, EscapeByte escape);

// C0 controls, DEL and the C1 controls.
bool IsControl(unsigned code);
// For a terminal: a control character (C0, DEL, C1) as \xNN, everything
// else as it is.
bool EscapeControl(FILE *out, unsigned code);

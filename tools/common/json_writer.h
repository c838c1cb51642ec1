// The one JSON writer of zubhost and plcsim. It writes as it goes, straight
// to a FILE: no buffer grows, nothing is allocated. Every string is escaped
// here, so a port name, a path or a log's text with quotes, backslashes or
// control characters still gives JSON a reader can parse; a byte that is not
// part of well-formed UTF-8 is written as U+FFFD (clean_text.h).
//
//   JsonWriter j;
//   JsonStart(&j, stdout);
//   JsonOpenObject(&j, nullptr);
//   JsonString(&j, "port", port);
//   JsonOpenArray(&j, "found", kJsonOneLine);
//   ...
//   JsonClose(&j);
//   JsonClose(&j);
//   bool written = JsonFinish(&j);
#pragma once

#include <stdio.h>

// A container's members each on a line of their own, indented, or all on
// one line (and so everything inside it too).
enum JsonLayout { kJsonLines, kJsonOneLine };

constexpr int kJsonMostDepth = 16;

struct JsonWriter {
  FILE *out;
  int depth;
  bool oneLine[kJsonMostDepth];  // the layout of each open container
  bool isObject[kJsonMostDepth];
  bool hasMembers[kJsonMostDepth];
  bool misused;     // deeper than kJsonMostDepth, a key missing or extra, a close too many,
                    // a second value at the top
  bool topWritten;  // the document's one value has begun
};

void JsonStart(JsonWriter *j, FILE *out);
// Inside an object each value takes a key; inside an array, and at the top,
// the key is null.
void JsonOpenObject(JsonWriter *j, const char *key, JsonLayout layout = kJsonLines);
void JsonOpenArray(JsonWriter *j, const char *key, JsonLayout layout = kJsonLines);
void JsonClose(JsonWriter *j);
// A null text is written as null.
void JsonString(JsonWriter *j, const char *key, const char *text);
void JsonWhole(JsonWriter *j, const char *key, long long value);
// A number with this many decimals; one that JSON cannot hold (infinite,
// not a number) is written as null.
void JsonReal(JsonWriter *j, const char *key, double value, int decimals);
void JsonBool(JsonWriter *j, const char *key, bool value);
void JsonNull(JsonWriter *j, const char *key);
// Ends the document with a newline; true when it was whole and every byte
// of it was written.
bool JsonFinish(JsonWriter *j);

#include "json_writer.h"

#include <math.h>

namespace {

// The length of the well-formed UTF-8 sequence at s (1 to 4), or 0 when
// the byte there does not start one: a stray continuation byte, an overlong
// form, a surrogate, a code point above U+10FFFF, or a sequence cut short.
int Utf8Length(const unsigned char *s) {
  unsigned char c = s[0];
  int n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  if (c >= 0xE0 && c <= 0xEF) n = 3;
  if (c >= 0xF0 && c <= 0xF4) n = 4;
  if (c == 0xE0) low = 0xA0;
  if (c == 0xED) high = 0x9F;
  if (c == 0xF0) low = 0x90;
  if (c == 0xF4) high = 0x8F;
  if (n == 0 || s[1] < low || s[1] > high) return 0;
  for (int k = 2; k < n; ++k)
    if (s[k] < 0x80 || s[k] > 0xBF) return 0;
  return n;
}

void WriteEscaped(FILE *out, const char *text) {
  fputc('"', out);
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
  while (*s) {
    int n = *s >= 0x80 ? Utf8Length(s) : 0;
    if (n > 0) {
      fwrite(s, 1, static_cast<size_t>(n), out);
      s += n;
      continue;
    }
    if (*s == '"' || *s == '\\')
      fprintf(out, "\\%c", *s);
    else if (*s < 0x20 || *s >= 0x7F)
      fprintf(out, "\\u%04X", *s);
    else
      fputc(*s, out);
    ++s;
  }
  fputc('"', out);
}

void Indent(JsonWriter *j, int depth) {
  fputc('\n', j->out);
  for (int k = 0; k < depth; ++k) fputs("  ", j->out);
}

// What goes before a value: the comma after the one before it, its line,
// and its key inside an object.
void BeforeValue(JsonWriter *j, const char *key) {
  int d = j->depth;
  bool inObject = d > 0 && j->isObject[d - 1];
  if ((key != nullptr) != inObject) j->misused = true;
  if (d == 0) return;
  if (j->hasMembers[d - 1]) fputc(',', j->out);
  if (!j->oneLine[d - 1])
    Indent(j, d);
  else if (j->hasMembers[d - 1])
    fputc(' ', j->out);
  j->hasMembers[d - 1] = true;
  if (key) {
    WriteEscaped(j->out, key);
    fputs(": ", j->out);
  }
}

void Open(JsonWriter *j, const char *key, JsonLayout layout, bool object) {
  BeforeValue(j, key);
  fputc(object ? '{' : '[', j->out);
  int d = j->depth;
  if (d == kJsonMostDepth) {
    j->misused = true;
    return;
  }
  j->oneLine[d] = layout == kJsonOneLine || (d > 0 && j->oneLine[d - 1]);
  j->isObject[d] = object;
  j->hasMembers[d] = false;
  j->depth = d + 1;
}

}  // namespace

void JsonStart(JsonWriter *j, FILE *out) { *j = JsonWriter{out, 0, {}, {}, {}, false}; }

void JsonOpenObject(JsonWriter *j, const char *key, JsonLayout layout) {
  Open(j, key, layout, true);
}

void JsonOpenArray(JsonWriter *j, const char *key, JsonLayout layout) {
  Open(j, key, layout, false);
}

void JsonClose(JsonWriter *j) {
  if (j->depth == 0) {
    j->misused = true;
    return;
  }
  int d = j->depth - 1;
  if (!j->oneLine[d] && j->hasMembers[d]) Indent(j, d);
  fputc(j->isObject[d] ? '}' : ']', j->out);
  j->depth = d;
}

void JsonString(JsonWriter *j, const char *key, const char *text) {
  BeforeValue(j, key);
  if (text)
    WriteEscaped(j->out, text);
  else
    fputs("null", j->out);
}

void JsonWhole(JsonWriter *j, const char *key, long long value) {
  BeforeValue(j, key);
  fprintf(j->out, "%lld", value);
}

void JsonReal(JsonWriter *j, const char *key, double value, int decimals) {
  BeforeValue(j, key);
  if (isfinite(value))
    fprintf(j->out, "%.*f", decimals, value);
  else
    fputs("null", j->out);
}

void JsonBool(JsonWriter *j, const char *key, bool value) {
  BeforeValue(j, key);
  fputs(value ? "true" : "false", j->out);
}

void JsonNull(JsonWriter *j, const char *key) {
  BeforeValue(j, key);
  fputs("null", j->out);
}

bool JsonFinish(JsonWriter *j) {
  fputc('\n', j->out);
  fflush(j->out);
  return j->depth == 0 && !j->misused && !ferror(j->out);
}

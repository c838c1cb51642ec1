#include "json_writer.h"

#include <math.h>

#include "clean_text.h"

namespace {

// Quotes and backslashes behind a backslash, control characters as \u00NN.
bool EscapeForJson(FILE *out, unsigned code) {
  if (code == '"' || code == '\\') {
    fprintf(out, "\\%c", code);
    return true;
  }
  if (!IsControl(code)) return false;
  fprintf(out, "\\u%04X", code);
  return true;
}

void WriteEscaped(FILE *out, const char *text) {
  fputc('"', out);
  WriteCleanText(out, text, EscapeForJson);
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
  if (d == 0) {
    if (j->topWritten) j->misused = true;
    j->topWritten = true;
    return;
  }
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

void JsonStart(JsonWriter *j, FILE *out) { *j = JsonWriter{out, 0, {}, {}, {}, false, false}; }

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

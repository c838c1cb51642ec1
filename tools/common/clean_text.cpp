#include "clean_text.h"

namespace {

// U+FFFD, the replacement character, in UTF-8.
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at s (2 to 4), or 0 when
// the byte there does not start one.
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

}  // namespace

void WriteCleanText(FILE *out, const char *text, EscapeByte escape) {
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
  while (*s) {
    if (*s < 0x80) {
      if (!escape(out, *s)) fputc(*s, out);
      s += 1;
      continue;
    }
    int n = Utf8Length(s);
    if (n > 0) {
      fwrite(s, 1, static_cast<size_t>(n), out);
      s += n;
    } else {
      fputs(kReplacement, out);
      s += 1;
    }
  }
}

bool EscapeControl(FILE *out, unsigned char c) {
  if (c >= 0x20 && c != 0x7F) return false;
  fprintf(out, "\\x%02X", c);
  return true;
}

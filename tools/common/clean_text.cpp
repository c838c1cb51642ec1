#include "clean_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

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

// A character of code below U+00A0 (ASCII and the C1 controls), written as
// the format escapes it or else as its UTF-8.
void WriteLow(FILE *out, unsigned code, EscapeByte escape) {
  if (escape(out, code)) return;
  if (code < 0x80) {
    fputc(static_cast<int>(code), out);
    return;
  }
  fputc(static_cast<int>(0xC0 | code >> 6), out);
  fputc(static_cast<int>(0x80 | (code & 0x3F)), out);
}

#ifdef _WIN32
// On Windows the tools' own texts (an argument, a file name, a port name in
// a host's log) come in the ANSI code page, where a byte that starts no
// UTF-8 sequence is a character: written as that character; false when the
// code page has none there.
bool WriteCodePage(FILE *out, unsigned char c, EscapeByte escape) {
  char byte = static_cast<char>(c);
  wchar_t wide = 0;
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1) != 1) return false;
  if (wide < 0xA0) {
    WriteLow(out, wide, escape);
    return true;
  }
  char utf8[4];
  int n = WideCharToMultiByte(CP_UTF8, 0, &wide, 1, utf8, sizeof utf8, nullptr, nullptr);
  if (n <= 0) return false;
  fwrite(utf8, 1, static_cast<size_t>(n), out);
  return true;
}
#endif

// A byte that starts no UTF-8 sequence: U+FFFD, but on Windows where the
// code page makes it a character.
void WriteStray(FILE *out, unsigned char c, EscapeByte escape) {
#ifdef _WIN32
  if (WriteCodePage(out, c, escape)) return;
#endif
  (void)c;
  (void)escape;
  fputs(kReplacement, out);
}

}  // namespace

void WriteCleanText(FILE *out, const char *text, EscapeByte escape) {
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
  while (*s) {
    if (*s < 0x80) {
      WriteLow(out, *s, escape);
      s += 1;
      continue;
    }
    int n = Utf8Length(s);
    if (n == 2 && s[0] == 0xC2 && s[1] < 0xA0) {
      WriteLow(out, s[1], escape);  // a C1 control
    } else if (n > 0) {
      fwrite(s, 1, static_cast<size_t>(n), out);
    } else {
      WriteStray(out, *s, escape);
      n = 1;
    }
    s += n;
  }
}

bool IsControl(unsigned code) { return code < 0x20 || (code >= 0x7F && code < 0xA0); }

bool EscapeControl(FILE *out, unsigned code) {
  if (!IsControl(code)) return false;
  fprintf(out, "\\x%02X", code);
  return true;
}

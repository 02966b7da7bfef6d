// Text helpers: the ANSI code page (1252, or one of the double-byte code
// pages 932, 936, 949 and 950), its case folding and conversion, bounded
// copies.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace winsim::detail {

bool IsDoubleByteCodePage(UINT cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950; }

// The lead-byte ranges of the double-byte code pages (their CPINFO
// LeadByte tables): Shift-JIS leads with 0x81-0x9F and 0xE0-0xFC, the
// Chinese and Korean code pages with 0x81-0xFE.
bool IsLeadByteOf(UINT cp, unsigned char c) {
  switch (cp) {
    case 932:
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950:
      return c >= 0x81 && c <= 0xFE;
    default:
      return false;
  }
}

UINT AnsiCodePage() { return HasCurrent() ? S().acp : 1252; }

bool IsLeadByte(unsigned char c) { return IsLeadByteOf(AnsiCodePage(), c); }

size_t CharLength(std::string_view s, size_t i) {
  return i + 1 < s.size() && IsLeadByte(static_cast<unsigned char>(s[i])) && s[i + 1] != '\0' ? 2 : 1;
}

size_t FindChar(std::string_view s, char c, size_t from) {
  for (size_t i = from; i < s.size(); i += CharLength(s, i))
    if (s[i] == c) return i;
  return std::string_view::npos;
}

size_t FindLastChar(std::string_view s, char c) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i))
    if (s[i] == c) found = i;
  return found;
}

bool EndsWithChar(std::string_view s, char c) {
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i)) last = i;
  return last != std::string_view::npos && last + 1 == s.size() && s[last] == c;
}

char UpperChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  // The single-byte halves of the double-byte code pages have no other
  // letters with case (932's 0xA1-0xDF are half-width katakana).
  if (IsDoubleByteCodePage(AnsiCodePage())) return c;
  // Code page 1252: the Latin-1 lower-case letters (except the division
  // sign and y-diaeresis) sit 32 above their capitals; three more pairs live
  // in the 0x80 block.
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 32);
  if (u == 0x9A) return static_cast<char>(0x8A);
  if (u == 0x9C) return static_cast<char>(0x8C);
  if (u == 0x9E) return static_cast<char>(0x8E);
  if (u == 0xFF) return static_cast<char>(0x9F);
  return c;
}

// A double-byte character is kept as it is: its trail byte may look like an
// ASCII letter (0x83 0x61 is not "a").
std::string Upper(std::string_view s) {
  std::string r(s);
  for (size_t i = 0; i < r.size(); i += CharLength(s, i))
    if (CharLength(s, i) == 1) r[i] = UpperChar(r[i]);
  return r;
}

bool IEquals(std::string_view a, std::string_view b) { return a.size() == b.size() && Upper(a) == Upper(b); }

int ICompare(std::string_view a, std::string_view b) {
  std::string x = Upper(a), y = Upper(b);
  int r = std::memcmp(x.data(), y.data(), x.size() < y.size() ? x.size() : y.size());
  if (r != 0) return r < 0 ? -1 : 1;
  if (x.size() == y.size()) return 0;
  return x.size() < y.size() ? -1 : 1;
}

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string Dec(int64_t v) { return std::to_string(v); }

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

std::string Printf(const char* fmt, ...) {
  char buf[1024];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  std::string r = buf;
  while (!r.empty() && r.back() == '\n') r.pop_back();
  return r;
}

void CopyOut(char* dst, size_t size, std::string_view src) {
  if (!dst || size == 0) return;
  size_t n = src.size() < size - 1 ? src.size() : size - 1;
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

// Code page 1252's 0x80-0x9F block; the rest equals Latin-1.
static const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

wchar_t Cp1252ToUnicode(unsigned char c) {
  if (c >= 0x80 && c < 0xA0) return static_cast<wchar_t>(kCp1252High[c - 0x80]);
  return static_cast<wchar_t>(c);
}

char UnicodeToCp1252(uint32_t cp, bool* usedDefault) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  if (usedDefault) *usedDefault = true;
  return '?';
}

}  // namespace winsim::detail

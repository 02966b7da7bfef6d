// Text helpers: code page 1252 case folding and conversion, bounded copies.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace winsim::detail {

char UpperChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
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

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpperChar(c);
  return r;
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

int ICompare(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(UpperChar(a[i]));
    unsigned char y = static_cast<unsigned char>(UpperChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
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

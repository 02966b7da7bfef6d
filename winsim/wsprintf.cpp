// USER32 wsprintfA: the Windows formatter, not the C library's. It knows
// %c %C %d %i %u %x %X %s %S with the flags "-", "#", "0", a width, a
// precision and the size prefixes l, h, w; integers are 32-bit whatever the
// prefix; a NULL string prints "(null)"; an unknown conversion prints its
// character; the output is cut to 1024 bytes including the NUL.
#include <cstdio>
#include <cstring>

#include "internal.h"

using namespace winsim::detail;

namespace {

constexpr size_t kMaxOutput = 1024;

enum class Kind { Unknown, Char, WChar, String, WString, Signed, Unsigned, Hex };

std::string Format(const char* pattern, va_list args) {
  std::string out;
  const char* p = pattern;
  while (*p && out.size() < kMaxOutput) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    ++p;
    if (*p == '%') {
      out += *p++;
      continue;
    }
    bool left = false, prefix = false, zero = false, isLong = false, isShort = false, isWide = false, upper = false;
    unsigned width = 0, precision = 0;
    if (*p == '-') {
      left = true;
      ++p;
    }
    if (*p == '#') {
      prefix = true;
      ++p;
    }
    if (*p == '0') {
      zero = true;
      ++p;
    }
    while (*p >= '0' && *p <= '9') width = width * 10 + static_cast<unsigned>(*p++ - '0');
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') precision = precision * 10 + static_cast<unsigned>(*p++ - '0');
    }
    if (*p == 'l') {
      isLong = true;
      ++p;
    } else if (*p == 'h') {
      isShort = true;
      ++p;
    } else if (*p == 'w') {
      isWide = true;
      ++p;
    }
    Kind kind = Kind::Unknown;
    switch (*p) {
      case 'c':
        kind = isLong ? Kind::WChar : Kind::Char;
        break;
      case 'C':
        kind = isShort ? Kind::Char : Kind::WChar;
        break;
      case 'd':
      case 'i':
        kind = Kind::Signed;
        break;
      case 's':
        kind = (isLong || isWide) ? Kind::WString : Kind::String;
        break;
      case 'S':
        kind = (isShort || isWide) ? Kind::String : Kind::WString;
        break;
      case 'u':
        kind = Kind::Unsigned;
        break;
      case 'X':
        upper = true;
        kind = Kind::Hex;
        break;
      case 'x':
        kind = Kind::Hex;
        break;
      default:
        break;
    }
    if (kind == Kind::Unknown) continue;  // the character itself prints next
    ++p;
    if (left) zero = false;
    if (width > kMaxOutput) width = kMaxOutput;

    std::string body;       // text without padding
    std::string sign, hexPrefix;
    bool numeric = false;
    switch (kind) {
      case Kind::Char:
        body = std::string(1, static_cast<char>(va_arg(args, int)));
        break;
      case Kind::WChar:
        body = std::string(1, UnicodeToCp1252(static_cast<uint32_t>(va_arg(args, int)) & 0xFFFF, nullptr));
        break;
      case Kind::String: {
        const char* s = va_arg(args, const char*);
        if (!s) s = "(null)";
        size_t n = 0;
        while ((!precision || n < precision) && n < kMaxOutput && s[n]) ++n;
        body.assign(s, n);
        break;
      }
      case Kind::WString: {
        const WCHAR* s = va_arg(args, const WCHAR*);
        static const WCHAR kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
        if (!s) s = kNull;
        for (size_t n = 0; (!precision || n < precision) && n < kMaxOutput && s[n]; ++n)
          body += UnicodeToCp1252(static_cast<uint32_t>(s[n]) & 0xFFFF, nullptr);
        break;
      }
      case Kind::Signed:
      case Kind::Unsigned:
      case Kind::Hex: {
        numeric = true;
        int v = va_arg(args, int);
        char num[16];
        if (kind == Kind::Signed)
          std::snprintf(num, sizeof num, "%d", v);
        else if (kind == Kind::Unsigned)
          std::snprintf(num, sizeof num, "%u", static_cast<unsigned>(v));
        else
          std::snprintf(num, sizeof num, upper ? "%X" : "%x", static_cast<unsigned>(v));
        body = num;
        if (body[0] == '-') {
          sign = "-";
          body.erase(0, 1);
        }
        if (kind == Kind::Hex && prefix) hexPrefix = upper ? "0X" : "0x";
        break;
      }
      case Kind::Unknown:
        break;
    }
    size_t shown;  // the field's width as the padding sees it
    std::string field;
    if (numeric) {
      // The precision is the minimum digit count (the sign counts); zero
      // padding raises it to the width.
      size_t len = body.size() + sign.size();
      size_t prec = precision > len ? precision : len;
      if (zero && width > prec) prec = width;
      field = hexPrefix + sign + std::string(prec - len, '0') + body;
      shown = prec;
    } else {
      field = body;
      shown = body.size();
    }
    std::string pad = width > shown ? std::string(width - shown, ' ') : std::string();
    out += left ? field + pad : pad + field;
  }
  return out;
}

}  // namespace

int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist) {
  if (!lpOut) return 0;
  std::string s = lpFmt ? Format(lpFmt, arglist) : std::string();
  CopyOut(lpOut, kMaxOutput, s);
  return static_cast<int>(s.size() < kMaxOutput ? s.size() : kMaxOutput - 1);
}

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
  va_list args;
  va_start(args, lpFmt);
  int r = wvsprintfA(lpOut, lpFmt, args);
  va_end(args);
  return r;
}

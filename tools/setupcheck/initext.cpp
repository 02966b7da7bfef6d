// How the check reads SETUP.INI: the file's encoding, the text its writer
// meant in code page 1252, and its sections and keys with their lines.
#include "checker.h"

#include <map>
#include <sstream>

namespace setupcheck {

namespace {

// Blanks as the profile reader trims them.
bool IsBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u == ' ' || u == '\t' || u == '\n' || u == '\v' || u == '\f' || u == '\r' || u == 0x1A;
}

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

}  // namespace

Encoding Detect(const std::vector<uint8_t>& b) {
  if (b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return Encoding::Utf8Bom;
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) return Encoding::Utf16Le;
  if (b.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF) return Encoding::Utf16Be;
  size_t nuls = 0, oddNuls = 0, controls = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    if (b[i] == 0) {
      ++nuls;
      oddNuls += i % 2;
    } else if (b[i] < 0x20 && b[i] != '\r' && b[i] != '\n' && b[i] != '\t' && b[i] != 0x1A) {
      ++controls;
    }
  }
  if (nuls > 0 && oddNuls * 10 >= nuls * 9 && nuls * 3 >= b.size()) return Encoding::Utf16NoMark;
  if (nuls > 0 || controls * 20 > b.size()) return Encoding::Binary;
  return Encoding::Ansi;
}

namespace {

// Code page 1252 for 0x80..0x9F; the rest of the upper half is Latin-1.
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToCp1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == cp && cp != 0) return static_cast<char>(0x80 + i);
  return '?';
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

// Code page 1252 bytes as UTF-8, for showing on a terminal.
std::string Cp1252ToUtf8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    uint32_t cp = c < 0x80 || c >= 0xA0 ? c : kCp1252High[c - 0x80];
    AppendUtf8(out, cp ? cp : '?');
  }
  return out;
}

// Decodes UTF-8; false when the bytes are not UTF-8 with at least one
// character beyond ASCII.
bool DecodeUtf8(const std::string& s, std::vector<uint32_t>* out) {
  bool wide = false;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (n < 0 || i + n >= s.size() + (n ? 0 : 1)) return false;
    uint32_t cp = n == 0 ? c : c & (0x3F >> n);
    for (int k = 1; k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    wide |= n > 0;
    if (out) out->push_back(cp);
    i += static_cast<size_t>(n) + 1;
  }
  return wide;
}

// The text the writer meant, as ANSI (code page 1252) text.
std::string MeantText(const std::vector<uint8_t>& b, Encoding e) {
  std::string out;
  if (e == Encoding::Utf8Bom) {
    std::string rest(b.begin() + 3, b.end());
    std::vector<uint32_t> cps;
    if (!DecodeUtf8(rest, &cps)) return rest;
    for (uint32_t cp : cps) out += ToCp1252(cp);
    return out;
  }
  if (e == Encoding::Utf16Le || e == Encoding::Utf16Be || e == Encoding::Utf16NoMark) {
    bool le = e != Encoding::Utf16Be;
    for (size_t i = e == Encoding::Utf16NoMark ? 0 : 2; i + 1 < b.size(); i += 2)
      out += ToCp1252(le ? b[i] | (b[i + 1] << 8) : (b[i] << 8) | b[i + 1]);
    return out;
  }
  return std::string(b.begin(), b.end());
}

IniText ParseMeant(const std::string& text) {
  IniText ini;
  std::map<std::string, int> seen;
  std::string section;
  int index = -1, number = 0;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    ++number;
    std::string t = TrimBlanks(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[' && t.rfind(']') != std::string::npos) {
      section = t.substr(1, t.rfind(']') - 1);
      index = seen[Lower(section)]++;
      ini.sections.push_back({section, number});
      continue;
    }
    if (index < 0) {
      ini.outside.push_back(number);
      continue;
    }
    IniLine k{number, section, index, t, std::nullopt};
    size_t eq = t.find('=');
    if (eq != std::string::npos) {
      k.key = TrimBlanks(t.substr(0, eq));
      std::string v = TrimBlanks(t.substr(eq + 1));
      if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
      k.value = v;
    }
    ini.keys.push_back(k);
  }
  return ini;
}

// The value the program reads for a key: the first one of the first section.
std::string Value(const IniText& ini, const std::string& section, const std::string& key) {
  for (const IniLine& k : ini.keys)
    if (k.sectionIndex == 0 && Lower(k.section) == Lower(section) && Lower(k.key) == Lower(key) && k.value)
      return *k.value;
  return "";
}

}  // namespace setupcheck

// KERNEL32 profile (INI) files. Reading follows Windows as Wine's
// dlls/kernel32/profile.c reproduces it: lines are trimmed, a section header
// is "[" up to the last "]", section and key names match without regard to
// case, only the first matching section is searched and its first matching
// key wins, a value loses one level of matching quotes, and lines without
// "=" are keys without a value (they give the default).
#include <cstring>
#include <optional>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

struct IniKey {
  std::string name;
  std::optional<std::string> value;
};

struct IniSection {
  std::string name;  // "" for the lines before the first header
  std::vector<IniKey> keys;
};

bool IsBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u == ' ' || u == '\t' || u == '\n' || u == '\v' || u == '\f' || u == '\r' || u == 0x1A;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Converts the file's bytes to the ANSI text the profile reader works on.
// Only Windows 2000 and later take a Unicode file: UTF-16 little-endian
// with its mark FF FE. Windows 95, 98 and NT 4.0 read the same file as bytes
// (the NULs end every line's text, so no section or key is seen), and no
// Windows takes a UTF-8 mark: its three bytes join the first line, so a
// section header there is not one. Evidence: the documented behaviour of
// WritePrivateProfileStringA ("If the file was created using Unicode
// characters, the function writes Unicode characters", i.e. a file that
// starts with the UTF-16 mark); developer measurements per family (Windows
// 2000 and later read a UTF-16LE file through the ANSI and the wide
// functions, NT 4.0 and 95/98/Me through neither; on Windows 10 21H1 a
// UTF-8 mark made the first section's keys unreadable, and a reversed
// (big-endian) mark was not taken). Wine differs: its profile reader
// (PROFILE_DetectTextEncoding in dlls/kernel32/profile.c) takes a UTF-8
// mark and both UTF-16 marks on every version; winsim follows Windows.
std::string DecodeIni(const State& s, const std::vector<uint8_t>& bytes) {
  bool unicodeAware = s.platform == VER_PLATFORM_WIN32_NT && s.major >= 5;
  if (unicodeAware && bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    std::string r;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      r += UnicodeToCp1252(static_cast<uint32_t>(bytes[i] | (bytes[i + 1] << 8)), nullptr);
    return r;
  }
  return std::string(bytes.begin(), bytes.end());
}

std::vector<IniSection> ParseIni(const std::string& text) {
  std::vector<IniSection> out(1);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    // A NUL ends the line's text, as it ends the C strings built from it.
    size_t nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    line = Trim(line);
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close != std::string::npos) {
        out.push_back(IniSection{line.substr(1, close - 1), {}});
        continue;
      }
    }
    IniKey k;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      k.name = line;
    } else {
      k.name = Trim(line.substr(0, eq));
      size_t vb = eq + 1;
      while (vb < line.size() && IsBlank(line[vb])) ++vb;
      k.value = line.substr(vb);
    }
    out.back().keys.push_back(k);
  }
  return out;
}

std::string StripQuotes(const std::string& v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) return v.substr(1, v.size() - 2);
  return v;
}

const IniSection* FindSection(const std::vector<IniSection>& ini, const std::string& name) {
  for (size_t i = 1; i < ini.size(); ++i)
    if (IEquals(ini[i].name, name)) return &ini[i];
  return nullptr;
}

// Resolves a profile file name: a bare name lives in the Windows directory.
bool ProfilePath(State& s, LPCSTR file, PathParts& p) {
  std::string name = file ? file : "win.ini";
  if (name.find_first_of("\\/:") == std::string::npos) name = s.windowsDir + "\\" + name;
  return s.Resolve(name.c_str(), p) == 0;
}

std::optional<std::string> ReadProfile(State& s, LPCSTR file) {
  PathParts p;
  if (!ProfilePath(s, file, p)) return std::nullopt;
  NodePtr n = s.Lookup(p);
  if (!n || n->isDir) return std::nullopt;
  if (s.CheckShare(n.get(), kAccRead, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) return std::nullopt;
  return DecodeIni(s, n->data);
}

// Copies a list of NUL-terminated strings followed by one more NUL, with the
// truncation rule of the list forms: when it does not fit, the last string
// is cut, two NULs end the buffer, and the result is size - 2.
DWORD CopyList(const std::vector<std::string>& items, LPSTR buf, DWORD size) {
  if (size == 0) return 0;
  if (size == 1) {
    buf[0] = '\0';
    return 0;
  }
  std::string all;
  for (auto& i : items) {
    all += i;
    all += '\0';
  }
  if (all.size() + 1 <= size) {
    std::memcpy(buf, all.data(), all.size());
    buf[all.size()] = '\0';
    if (all.empty()) {
      buf[1 < size ? 1 : 0] = '\0';
      return 0;
    }
    return static_cast<DWORD>(all.size());
  }
  std::memcpy(buf, all.data(), size - 2);
  buf[size - 2] = '\0';
  buf[size - 1] = '\0';
  return size - 2;
}

}  // namespace


DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                                      DWORD nSize, LPCSTR lpFileName) {
  State& s = S();
  if (auto f = Injected("GetPrivateProfileStringA", lpKeyName)) {
    s.lastError = *f;  // the file cannot be read: the default is the answer
    if (lpReturnedString && nSize) CopyOut(lpReturnedString, nSize, Str(lpDefault));
    return lpReturnedString && nSize ? static_cast<DWORD>(std::strlen(lpReturnedString)) : 0;
  }
  if (!lpReturnedString || nSize == 0) return 0;
  // Trailing blanks of the default are dropped.
  std::string def = Str(lpDefault);
  while (!def.empty() && def.back() == ' ') def.pop_back();
  auto text = ReadProfile(s, lpFileName);
  std::vector<IniSection> ini = text ? ParseIni(*text) : std::vector<IniSection>(1);

  if (!lpAppName) {
    std::vector<std::string> names;
    for (size_t i = 1; i < ini.size(); ++i)
      if (!ini[i].name.empty()) names.push_back(ini[i].name);
    return CopyList(names, lpReturnedString, nSize);
  }
  if (!lpKeyName) {
    const IniSection* sec = FindSection(ini, Trim(lpAppName));
    std::vector<std::string> keys;
    if (sec)
      for (auto& k : sec->keys)
        if (!k.name.empty() && k.name[0] != ';' && k.value) keys.push_back(k.name);
    if (!keys.empty()) return CopyList(keys, lpReturnedString, nSize);
    CopyOut(lpReturnedString, nSize, StripQuotes(def));
    return static_cast<DWORD>(std::strlen(lpReturnedString));
  }
  if (!lpKeyName[0]) return 0;

  std::string result = StripQuotes(def);
  const IniSection* sec = FindSection(ini, Trim(lpAppName));
  if (sec) {
    for (auto& k : sec->keys) {
      if (IEquals(k.name, Trim(lpKeyName))) {
        if (k.value) result = StripQuotes(*k.value);
        break;
      }
    }
  }
  CopyOut(lpReturnedString, nSize, result);
  return static_cast<DWORD>(std::strlen(lpReturnedString));
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  char buf[32];
  if (!GetPrivateProfileStringA(lpAppName, lpKeyName, "", buf, sizeof buf, lpFileName) || !buf[0])
    return static_cast<UINT>(nDefault);
  const char* p = buf;
  while (*p == ' ' || *p == '\t') ++p;
  bool neg = false;
  if (*p == '-' || *p == '+') neg = *p++ == '-';
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  uint32_t v = 0;
  for (;; ++p) {
    int d = (*p >= '0' && *p <= '9') ? *p - '0'
            : (base == 16 && *p >= 'a' && *p <= 'f') ? *p - 'a' + 10
            : (base == 16 && *p >= 'A' && *p <= 'F') ? *p - 'A' + 10
                                                     : -1;
    if (d < 0) break;
    v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
  }
  return neg ? static_cast<UINT>(0u - v) : v;
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
  State& s = S();
  if (auto f = Injected("WritePrivateProfileStringA", lpKeyName)) return s.lastError = *f, FALSE;
  if (!lpAppName) return FALSE;
  PathParts p;
  if (!ProfilePath(s, lpFileName, p)) {
    s.lastError = ERROR_PATH_NOT_FOUND;
    return FALSE;
  }
  NodePtr n = s.Lookup(p);
  std::string text = n && !n->isDir ? std::string(n->data.begin(), n->data.end()) : std::string();

  // Edit the text in place so that comments and layout survive, as the NT
  // profile code does.
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    pos = nl == std::string::npos ? text.size() : nl + 1;
  }
  std::string section = Trim(lpAppName);
  long secLine = -1, secEnd = static_cast<long>(lines.size()), keyLine = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string t = Trim(lines[i]);
    if (!t.empty() && t[0] == '[' && t.rfind(']') != std::string::npos) {
      if (secLine >= 0) {
        secEnd = static_cast<long>(i);
        break;
      }
      if (IEquals(t.substr(1, t.rfind(']') - 1), section)) secLine = static_cast<long>(i);
      continue;
    }
    if (secLine >= 0 && keyLine < 0 && lpKeyName) {
      size_t eq = t.find('=');
      if (IEquals(Trim(t.substr(0, eq)), Trim(lpKeyName))) keyLine = static_cast<long>(i);
    }
  }
  if (!lpKeyName) {
    if (secLine >= 0) lines.erase(lines.begin() + secLine, lines.begin() + secEnd);
  } else if (!lpString) {
    if (keyLine >= 0) lines.erase(lines.begin() + keyLine);
  } else {
    std::string value = lpString;
    size_t vb = 0;
    while (vb < value.size() && IsBlank(value[vb])) ++vb;
    std::string entry = Trim(lpKeyName) + "=" + value.substr(vb);
    if (keyLine >= 0) {
      lines[static_cast<size_t>(keyLine)] = entry;
    } else if (secLine >= 0) {
      long at = secEnd;
      while (at > secLine + 1 && Trim(lines[static_cast<size_t>(at - 1)]).empty()) --at;
      lines.insert(lines.begin() + at, entry);
    } else {
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    }
  }
  std::string out;
  for (auto& l : lines) out += l + "\r\n";
  DWORD e = s.WriteWholeFile(p, std::vector<uint8_t>(out.begin(), out.end()));
  s.Log("WriteProfileString", {p.Join(), section, Str(lpKeyName), Str(lpString), Dec(e)});
  if (e) s.lastError = e;
  return e ? FALSE : TRUE;
}

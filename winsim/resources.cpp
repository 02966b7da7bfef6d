// Resources: Win32 .res files loaded as a module's resources, and
// FindResourceA, SizeofResource, LoadResource, LockResource, FreeResource.
//
// A .res file (what `windres -O res` and rc.exe write) is a sequence of
// records, each a RESOURCEHEADER followed by the data:
//   DWORD DataSize, DWORD HeaderSize,
//   TYPE and NAME: 0xFFFF + WORD ordinal, or a NUL-terminated UTF-16 string,
//   padding to a DWORD boundary,
//   DWORD DataVersion, WORD MemoryFlags, WORD LanguageId, DWORD Version,
//   DWORD Characteristics,
// then DataSize bytes at HeaderSize from the record's start, padded to a
// DWORD boundary. The first record is an empty one (DataSize 0, type and
// name ordinal 0) that marks the file as 32-bit.
#include <cstring>
#include <fstream>
#include <iterator>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

constexpr uintptr_t kProgramModule = 0x400000;  // GetModuleHandleA(NULL)

uintptr_t ModuleKey(HINSTANCE module) {
  return module ? reinterpret_cast<uintptr_t>(module) : kProgramModule;
}

struct Reader {
  const std::vector<uint8_t>& bytes;
  size_t pos = 0;
  size_t end = 0;
  bool ok = true;

  bool Has(size_t n) const { return ok && pos <= end && end - pos >= n; }
  uint16_t Word() {
    if (!Has(2)) return ok = false, 0;
    uint16_t v = static_cast<uint16_t>(bytes[pos] | bytes[pos + 1] << 8);
    pos += 2;
    return v;
  }
  uint32_t Dword() {
    uint32_t lo = Word();
    uint32_t hi = Word();
    return lo | hi << 16;
  }
  // An ordinal ("#n") or a UTF-16 string, the way TYPE and NAME are stored.
  std::string NameOrOrdinal() {
    if (!Has(2)) return ok = false, "";
    if (bytes[pos] == 0xFF && bytes[pos + 1] == 0xFF) {
      pos += 2;
      return "#" + std::to_string(Word());
    }
    std::string out;
    for (;;) {
      uint16_t c = Word();
      if (!ok) return "";
      if (c == 0) break;
      bool unused = false;
      out += UnicodeToCp1252(c, &unused);
    }
    return Upper(out);
  }
};

bool ParseRes(const std::vector<uint8_t>& bytes, std::vector<std::unique_ptr<ResourceItem>>& out, std::string& why) {
  size_t pos = 0;
  bool first = true;
  while (pos < bytes.size()) {
    Reader r{bytes, pos, bytes.size()};
    uint32_t dataSize = r.Dword();
    uint32_t headerSize = r.Dword();
    if (!r.ok) return why = "truncated record header at offset " + Dec(static_cast<int64_t>(pos)), false;
    if (headerSize < 24 || headerSize > bytes.size() - pos)
      return why = "bad header size " + Dec(headerSize) + " at offset " + Dec(static_cast<int64_t>(pos)), false;
    r.end = pos + headerSize;
    std::string type = r.NameOrOrdinal();
    std::string name = r.NameOrOrdinal();
    r.pos = (r.pos + 3) & ~static_cast<size_t>(3);
    r.Dword();  // DataVersion
    r.Word();   // MemoryFlags
    uint16_t language = r.Word();
    r.Dword();  // Version
    r.Dword();  // Characteristics
    if (!r.ok) return why = "corrupt record header at offset " + Dec(static_cast<int64_t>(pos)), false;
    size_t dataAt = pos + headerSize;
    if (dataSize > bytes.size() - dataAt)
      return why = "data of " + type + "/" + name + " runs past the end of the file", false;
    if (first && (dataSize != 0 || type != "#0"))
      return why = "not a 32-bit resource file (no empty leading record)", false;
    if (!(type == "#0" && name == "#0" && dataSize == 0)) {
      auto item = std::make_unique<ResourceItem>();
      item->type = type;
      item->name = name;
      item->language = language;
      item->data.assign(bytes.begin() + static_cast<long>(dataAt),
                        bytes.begin() + static_cast<long>(dataAt + dataSize));
      out.push_back(std::move(item));
    }
    first = false;
    size_t next = dataAt + dataSize;
    next = (next + 3) & ~static_cast<size_t>(3);
    pos = next;
  }
  if (first) return why = "empty file", false;
  return true;
}

std::string ModuleTag(HMODULE module) { return Hex(ModuleKey(module)); }

const ResourceItem* ItemOf(const State& s, HMODULE module, HRSRC h) {
  auto it = s.resources.find(ModuleKey(module));
  if (it == s.resources.end() || !h) return nullptr;
  for (auto& item : it->second)
    if (reinterpret_cast<HRSRC>(item.get()) == h) return item.get();
  return nullptr;
}

}  // namespace

namespace winsim::detail {

std::string ResourceKey(LPCSTR nameOrOrdinal) {
  if (IS_INTRESOURCE(nameOrOrdinal)) return "#" + Dec(static_cast<int64_t>(reinterpret_cast<uintptr_t>(nameOrOrdinal)));
  std::string text = nameOrOrdinal;
  // "#123" names the ordinal 123, as FindResource documents.
  if (text.size() > 1 && text.size() <= 6 && text[0] == '#' && text.find_first_not_of("0123456789", 1) == std::string::npos)
    return "#" + std::to_string(std::stoul(text.substr(1)) & 0xFFFF);
  return Upper(text);
}

const ResourceItem* FindResourceItem(const State& s, HMODULE module, const std::string& type, const std::string& name,
                                     DWORD* error) {
  auto it = s.resources.find(ModuleKey(module));
  if (it == s.resources.end()) {
    *error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return nullptr;
  }
  bool typeSeen = false;
  for (auto& item : it->second) {
    if (item->type != type) continue;
    typeSeen = true;
    if (item->name == name) return item.get();
  }
  *error = typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
  return nullptr;
}

}  // namespace winsim::detail

// ---- Machine API ------------------------------------------------------------------------------
bool Machine::LoadResourceBytes(const std::vector<uint8_t>& res, HINSTANCE module, std::string* why) {
  std::vector<std::unique_ptr<ResourceItem>> items;
  std::string reason;
  if (!ParseRes(res, items, reason)) {
    if (why) *why = reason;
    return false;
  }
  auto& list = state_->resources[ModuleKey(module)];
  for (auto& item : items) list.push_back(std::move(item));
  return true;
}

bool Machine::LoadResourceFile(const std::string& unixPath, HINSTANCE module, std::string* why) {
  std::ifstream in(unixPath, std::ios::binary);
  if (!in) {
    if (why) *why = "cannot open " + unixPath;
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return LoadResourceBytes(bytes, module, why);
}

std::vector<std::string> Machine::ResourceList(HINSTANCE module) const {
  std::vector<std::string> out;
  auto it = state_->resources.find(ModuleKey(module));
  if (it == state_->resources.end()) return out;
  for (auto& item : it->second) out.push_back(item->type + "/" + item->name);
  return out;
}

// ---- KERNEL32 ---------------------------------------------------------------------------------------
HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
  State& s = S();
  if (auto f = Injected("FindResourceA")) return s.lastError = *f, nullptr;
  if (!lpName || !lpType) {
    s.lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::string type = ResourceKey(lpType), name = ResourceKey(lpName);
  DWORD e = 0;
  const ResourceItem* item = FindResourceItem(s, hModule, type, name, &e);
  s.Log("FindResource", {ModuleTag(hModule), type, name, item ? "0" : Dec(e)});
  if (!item) {
    s.lastError = e;
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<ResourceItem*>(item));
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  State& s = S();
  const ResourceItem* item = ItemOf(s, hModule, hResInfo);
  if (!item) {
    s.Log("Misuse", {"SizeofResource", "not a resource of module " + ModuleTag(hModule)});
    s.lastError = ERROR_RESOURCE_DATA_NOT_FOUND;
    return 0;
  }
  return static_cast<DWORD>(item->data.size());
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
  State& s = S();
  if (auto f = Injected("LoadResource")) return s.lastError = *f, nullptr;
  const ResourceItem* item = ItemOf(s, hModule, hResInfo);
  if (!item) {
    s.Log("Misuse", {"LoadResource", "not a resource of module " + ModuleTag(hModule)});
    s.lastError = ERROR_RESOURCE_DATA_NOT_FOUND;
    return nullptr;
  }
  // The data stays mapped with the module, as a resource section does; an
  // empty resource still gets a non-NULL handle.
  static uint8_t empty = 0;
  return item->data.empty() ? static_cast<HGLOBAL>(&empty)
                            : static_cast<HGLOBAL>(const_cast<uint8_t*>(item->data.data()));
}

LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

BOOL WINAPI FreeResource(HGLOBAL) {
  // Obsolete since Win32; it does nothing and returns FALSE.
  return FALSE;
}

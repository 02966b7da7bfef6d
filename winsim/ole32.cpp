// OLE32: COM initialisation per thread, object creation, and the shell link
// object (IShellLinkA + IPersistFile) whose Save writes a real .lnk file.
#include <cstdlib>
#include <cstring>

#include <winsim/lnk.h>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

std::string GuidText(REFGUID g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

std::string Narrow(LPCOLESTR w) {
  std::string r;
  if (!w) return r;
  for (; *w; ++w) r += UnicodeToCp1252(static_cast<uint32_t>(*w), nullptr);
  return r;
}

HRESULT CopyTo(const std::string& v, LPSTR buf, int cch) {
  if (!buf || cch <= 0) return E_INVALIDARG;
  CopyOut(buf, static_cast<size_t>(cch), v);
  return S_OK;
}

class ShellLink final : public IShellLinkA, public IPersistFile, public ComObject {
 public:
  // IUnknown (through IShellLinkA; IPersistFile forwards).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (auto f = Injected("IShellLinkA::QueryInterface")) return static_cast<HRESULT>(*f);
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IShellLinkA))
      *ppv = static_cast<IShellLinkA*>(this);
    else if (IsEqualGUID(riid, IID_IPersistFile) || IsEqualGUID(riid, IID_IPersist))
      *ppv = static_cast<IPersistFile*>(this);
    else
      return E_NOINTERFACE;
    ++refs_;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs_ == 0) {
      S().Log("Misuse", {"IShellLinkA::Release", "released more often than referenced"});
      return 0;
    }
    ULONG r = --refs_;
    if (r == 0) {
      S().comLive.erase(this);
      delete this;
    }
    return r;
  }

  // IShellLinkA.
  HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch, WIN32_FIND_DATAA* pfd, DWORD) override {
    if (pfd) {
      std::memset(pfd, 0, sizeof *pfd);
      CopyOut(pfd->cFileName, sizeof pfd->cFileName, link_.target.substr(link_.target.find_last_of('\\') + 1));
    }
    HRESULT hr = CopyTo(link_.target, pszFile, cch);
    return SUCCEEDED(hr) && link_.target.empty() ? S_FALSE : hr;
  }
  HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* ppidl) override {
    if (ppidl) *ppidl = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) override {
    return CopyTo(link_.description, pszName, cch);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) override {
    if (auto f = Injected("IShellLinkA::SetDescription", pszName)) return static_cast<HRESULT>(*f);
    return Set(link_.description, pszName);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir, int cch) override {
    return CopyTo(link_.workingDir, pszDir, cch);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) override {
    if (auto f = Injected("IShellLinkA::SetWorkingDirectory", pszDir)) return static_cast<HRESULT>(*f);
    return Set(link_.workingDir, pszDir);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) override { return CopyTo(link_.arguments, pszArgs, cch); }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) override {
    if (auto f = Injected("IShellLinkA::SetArguments", pszArgs)) return static_cast<HRESULT>(*f);
    return Set(link_.arguments, pszArgs);
  }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) override {
    if (!pwHotkey) return E_INVALIDARG;
    *pwHotkey = hotkey_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) override {
    hotkey_ = wHotkey;
    dirty_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) override {
    if (!piShowCmd) return E_INVALIDARG;
    *piShowCmd = showCmd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) override {
    showCmd_ = iShowCmd;
    dirty_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch, int* piIcon) override {
    if (piIcon) *piIcon = icon_;
    return CopyTo(iconPath_, pszIconPath, cch);
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath, int iIcon) override {
    icon_ = iIcon;
    return Set(iconPath_, pszIconPath);
  }
  HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) override {
    if (!pszFile) return E_INVALIDARG;
    if (auto f = Injected("IShellLinkA::SetPath", pszFile)) return static_cast<HRESULT>(*f);
    return Set(link_.target, pszFile);
  }

  // IPersistFile.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_ShellLink;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD) override {
    State& s = S();
    PathParts p;
    std::string path = Narrow(pszFileName);
    if (!pszFileName || s.Resolve(path.c_str(), p)) return E_INVALIDARG;
    NodePtr n = s.Lookup(p);
    if (!n || n->isDir) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    ShellLinkData d;
    if (!ParseShellLink(n->data, d)) return E_FAIL;
    link_ = d;
    curFile_ = path;
    dirty_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName, BOOL fRemember) override {
    State& s = S();
    std::string path = pszFileName ? Narrow(pszFileName) : curFile_;
    HRESULT hr = S_OK;
    std::optional<DWORD> injected = Injected("IPersistFile::Save", path.c_str());
    if (injected || s.owner->faults.persistFileSave) {
      hr = injected ? static_cast<HRESULT>(*injected) : *s.owner->faults.persistFileSave;
    } else if (path.empty()) {
      hr = E_INVALIDARG;
    } else {
      PathParts p;
      DWORD e = s.Resolve(path.c_str(), p);
      if (!e) e = s.WriteWholeFile(p, BuildShellLink(link_));
      hr = e ? HRESULT_FROM_WIN32(e) : S_OK;
      if (!e) {
        s.links.push_back(SavedLink{p.Join(), link_.target, link_.workingDir, link_.description, link_.arguments});
        if (fRemember) curFile_ = path;
        dirty_ = false;
      }
    }
    s.Log("SaveLink", {path, link_.target, link_.workingDir, link_.description, link_.arguments,
                       hr ? Hex(static_cast<uint32_t>(hr)) : "0"});
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName) override {
    if (!ppszFileName) return E_POINTER;
    *ppszFileName = nullptr;
    if (curFile_.empty()) return S_FALSE;
    auto* w = static_cast<LPOLESTR>(CoTaskMemAlloc((curFile_.size() + 1) * sizeof(OLECHAR)));
    if (!w) return E_OUTOFMEMORY;
    for (size_t i = 0; i < curFile_.size(); ++i) w[i] = Cp1252ToUnicode(static_cast<unsigned char>(curFile_[i]));
    w[curFile_.size()] = 0;
    *ppszFileName = w;
    return S_OK;
  }

 private:
  HRESULT Set(std::string& field, LPCSTR v) {
    field = Str(v);
    dirty_ = true;
    return S_OK;
  }

  ULONG refs_ = 1;
  ShellLinkData link_;
  std::string iconPath_, curFile_;
  int icon_ = 0, showCmd_ = SW_SHOWNORMAL;
  WORD hotkey_ = 0;
  bool dirty_ = false;
};

}  // namespace

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  State& s = S();
  (void)pvReserved;
  const Faults& f = s.owner->faults;
  bool wantMta = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
  bool initialised = s.comInit > 0 || f.comAlreadyInitialised || f.comMultithreaded;
  HRESULT hr;
  if (auto injected = Injected("CoInitializeEx")) {
    hr = static_cast<HRESULT>(*injected);
  } else if (!initialised) {
    hr = S_OK;
    s.comMta = wantMta;
  } else {
    bool currentMta = f.comMultithreaded || (s.comInit > 0 && s.comMta);
    // A thread stays in the apartment it first joined.
    hr = currentMta == wantMta ? S_FALSE : RPC_E_CHANGED_MODE;
  }
  if (SUCCEEDED(hr)) ++s.comInit;
  s.Log("CoInitialize", {hr ? Hex(static_cast<uint32_t>(hr)) : "0"});
  return hr;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void WINAPI CoUninitialize(void) {
  State& s = S();
  if (s.comInit == 0) {
    s.Log("Misuse", {"CoUninitialize", "without a matching CoInitialize"});
    return;
  }
  --s.comInit;
  s.Log("CoUninitialize", {});
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  State& s = S();
  HRESULT hr = S_OK;
  if (ppv) *ppv = nullptr;
  bool initialised = s.comInit > 0 || s.owner->faults.comAlreadyInitialised || s.owner->faults.comMultithreaded;
  std::optional<DWORD> injected = Injected("CoCreateInstance");
  if (!ppv)
    hr = E_POINTER;
  else if (injected)
    hr = static_cast<HRESULT>(*injected);
  else if (!initialised)
    hr = CO_E_NOTINITIALIZED;
  else if (s.owner->faults.coCreateInstance)
    hr = *s.owner->faults.coCreateInstance;
  else if (pUnkOuter)
    hr = CLASS_E_NOAGGREGATION;
  else if (!IsEqualGUID(rclsid, CLSID_ShellLink) || !(dwClsContext & CLSCTX_INPROC_SERVER))
    hr = REGDB_E_CLASSNOTREG;
  if (hr == S_OK) {
    auto* link = new ShellLink();
    s.comLive.insert(link);
    ++s.quiet;  // the class's own QueryInterface, no call of the program
    hr = link->QueryInterface(riid, ppv);
    --s.quiet;
    link->Release();  // the reference QueryInterface took is the caller's
  }
  s.Log("CoCreateInstance", {GuidText(rclsid), GuidText(riid), hr ? Hex(static_cast<uint32_t>(hr)) : "0"});
  return hr;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }
void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }

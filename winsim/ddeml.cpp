// The DDE management library as a client sees it, talking to the shell's
// Program Manager service "PROGMAN" (the machine's winsim::Progman).
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

DdeInstance* Inst(State& s, DWORD id) {
  auto it = s.dde.find(id);
  return it == s.dde.end() ? nullptr : &it->second;
}

std::string HszText(State& s, DWORD inst, HSZ hsz) {
  DdeInstance* i = Inst(s, inst);
  if (!i) return "";
  auto it = i->strings.find(reinterpret_cast<uintptr_t>(hsz));
  return it == i->strings.end() ? "" : it->second.text;
}

HDDEDATA NewData(State& s, DWORD inst, const uint8_t* src, size_t size, size_t offset, UINT format, bool appOwned) {
  DdeData d;
  d.inst = inst;
  d.size = size + offset;
  d.bytes = std::shared_ptr<uint8_t[]>(new uint8_t[d.size ? d.size : 1]());
  if (src && size) std::memcpy(d.bytes.get() + offset, src, size);
  d.format = format;
  d.appOwned = appOwned;
  s.nextDdeHandle += 4;
  s.ddeData[s.nextDdeHandle] = d;
  return reinterpret_cast<HDDEDATA>(s.nextDdeHandle);
}

std::string HexErr(UINT e) { return e ? Hex(e) : "0"; }

}  // namespace

UINT WINAPI DdeInitializeA(LPDWORD pidInst, PFNCALLBACK pfnCallback, DWORD afCmd, DWORD ulRes) {
  State& s = S();
  UINT r = DMLERR_NO_ERROR;
  std::optional<DWORD> injected = Injected("DdeInitializeA");
  if (injected || s.owner->faults.ddeInitialize) {
    r = injected ? *injected : *s.owner->faults.ddeInitialize;
  } else if (!pidInst || !pfnCallback || ulRes) {
    r = DMLERR_INVALIDPARAMETER;
  } else if (*pidInst) {
    // Re-initialisation of an existing instance changes only its flags.
    if (!Inst(s, *pidInst)) r = DMLERR_INVALIDPARAMETER;
  } else {
    DWORD id = s.nextDdeInstance++;
    s.dde[id].id = id;
    *pidInst = id;
  }
  s.Log("DdeInitialize", {Hex(afCmd), HexErr(r)});
  return r;
}

BOOL WINAPI DdeUninitialize(DWORD idInst) {
  State& s = S();
  DdeInstance* i = Inst(s, idInst);
  if (!i) {
    s.Log("Misuse", {"DdeUninitialize", "unknown instance"});
    return FALSE;
  }
  // DDEML frees what the instance still holds; winsim counts it so that a
  // test can tell an operation that released everything itself.
  int reclaimed = 0;
  for (auto& kv : i->strings) reclaimed += kv.second.refs;
  for (auto it = s.convs.begin(); it != s.convs.end();) {
    if (it->second.inst == idInst) {
      ++reclaimed;
      it = s.convs.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = s.ddeData.begin(); it != s.ddeData.end();) {
    if (it->second.inst == idInst) {
      ++reclaimed;
      it = s.ddeData.erase(it);
    } else {
      ++it;
    }
  }
  s.ddeReclaimed += reclaimed;
  s.dde.erase(idInst);
  s.Log("DdeUninitialize", {Dec(reclaimed)});
  return TRUE;
}

HSZ WINAPI DdeCreateStringHandleA(DWORD idInst, LPCSTR psz, int iCodePage) {
  State& s = S();
  DdeInstance* i = Inst(s, idInst);
  if (!i) return nullptr;
  if (auto f = Injected("DdeCreateStringHandleA", psz)) return i->lastError = *f, nullptr;
  if (!psz || (iCodePage != 0 && iCodePage != CP_WINANSI) || std::strlen(psz) > 255) {
    i->lastError = DMLERR_INVALIDPARAMETER;
    return nullptr;
  }
  if (!*psz) return nullptr;
  // String handles are atoms: equal strings (ignoring case) share a handle
  // and count their references.
  for (auto& kv : i->strings) {
    if (IEquals(kv.second.text, psz)) {
      ++kv.second.refs;
      return reinterpret_cast<HSZ>(kv.first);
    }
  }
  s.nextDdeHandle += 4;
  i->strings[s.nextDdeHandle] = DdeString{psz, 1};
  return reinterpret_cast<HSZ>(s.nextDdeHandle);
}

BOOL WINAPI DdeFreeStringHandle(DWORD idInst, HSZ hsz) {
  State& s = S();
  DdeInstance* i = Inst(s, idInst);
  if (!i) return FALSE;
  auto it = i->strings.find(reinterpret_cast<uintptr_t>(hsz));
  if (it == i->strings.end()) {
    s.Log("Misuse", {"DdeFreeStringHandle", "unknown or already freed string handle"});
    return FALSE;
  }
  if (--it->second.refs == 0) i->strings.erase(it);
  return TRUE;
}

DWORD WINAPI DdeQueryStringA(DWORD idInst, HSZ hsz, LPSTR psz, DWORD cchMax, int iCodePage) {
  State& s = S();
  (void)iCodePage;
  DdeInstance* i = Inst(s, idInst);
  if (!i) return 0;
  auto it = i->strings.find(reinterpret_cast<uintptr_t>(hsz));
  if (it == i->strings.end()) return 0;
  const std::string& t = it->second.text;
  if (!psz) return static_cast<DWORD>(t.size());
  CopyOut(psz, cchMax, t);
  return static_cast<DWORD>(std::strlen(psz));
}

HCONV WINAPI DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic, PCONVCONTEXT pCC) {
  State& s = S();
  DdeInstance* i = Inst(s, idInst);
  if (!i) return nullptr;
  std::string service = HszText(s, idInst, hszService), topic = HszText(s, idInst, hszTopic);
  UINT e = 0;
  std::optional<DWORD> injected = Injected("DdeConnect", service.c_str());
  if (pCC && pCC->cb != sizeof(CONVCONTEXT))
    e = DMLERR_INVALIDPARAMETER;
  else if (injected)
    e = *injected;
  else if (s.owner->faults.noProgmanService || !IEquals(service, "PROGMAN") ||
           (hszTopic && !IEquals(topic, "PROGMAN")))
    e = DMLERR_NO_CONV_ESTABLISHED;
  HCONV result = nullptr;
  if (!e) {
    s.nextDdeHandle += 4;
    s.convs[s.nextDdeHandle] = DdeConv{idInst, service, topic};
    result = reinterpret_cast<HCONV>(s.nextDdeHandle);
  } else {
    i->lastError = e;
  }
  s.Log("DdeConnect", {service, topic, HexErr(e)});
  return result;
}

BOOL WINAPI DdeDisconnect(HCONV hConv) {
  State& s = S();
  if (!s.convs.erase(reinterpret_cast<uintptr_t>(hConv))) {
    s.Log("Misuse", {"DdeDisconnect", "unknown conversation"});
    return FALSE;
  }
  s.Log("DdeDisconnect", {});
  return TRUE;
}

HDDEDATA WINAPI DdeCreateDataHandle(DWORD idInst, LPBYTE pSrc, DWORD cb, DWORD cbOff, HSZ hszItem, UINT wFmt,
                                    UINT afCmd) {
  State& s = S();
  (void)hszItem;
  if (!Inst(s, idInst)) return nullptr;
  if (auto f = Injected("DdeCreateDataHandle")) return Inst(s, idInst)->lastError = *f, nullptr;
  return NewData(s, idInst, pSrc, cb, cbOff, wFmt, (afCmd & HDATA_APPOWNED) != 0);
}

LPBYTE WINAPI DdeAccessData(HDDEDATA hData, LPDWORD pcbDataSize) {
  State& s = S();
  auto it = s.ddeData.find(reinterpret_cast<uintptr_t>(hData));
  if (it == s.ddeData.end()) {
    s.Log("Misuse", {"DdeAccessData", "unknown data handle"});
    return nullptr;
  }
  DdeInstance* owner = Inst(s, it->second.inst);
  if (auto f = Injected("DdeAccessData")) return owner ? (owner->lastError = *f, nullptr) : nullptr;
  ++it->second.accessCount;
  if (pcbDataSize) *pcbDataSize = static_cast<DWORD>(it->second.size);
  return it->second.bytes.get();
}

BOOL WINAPI DdeUnaccessData(HDDEDATA hData) {
  State& s = S();
  auto it = s.ddeData.find(reinterpret_cast<uintptr_t>(hData));
  if (it == s.ddeData.end() || it->second.accessCount == 0) {
    s.Log("Misuse", {"DdeUnaccessData", "data handle not accessed"});
    return FALSE;
  }
  --it->second.accessCount;
  return TRUE;
}

BOOL WINAPI DdeFreeDataHandle(HDDEDATA hData) {
  State& s = S();
  if (!s.ddeData.erase(reinterpret_cast<uintptr_t>(hData))) {
    s.Log("Misuse", {"DdeFreeDataHandle", "unknown or already freed data handle"});
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff) {
  State& s = S();
  auto it = s.ddeData.find(reinterpret_cast<uintptr_t>(hData));
  if (it == s.ddeData.end() || cbOff > it->second.size) return 0;
  size_t avail = it->second.size - cbOff;
  if (!pDst) return static_cast<DWORD>(avail);
  size_t n = avail < cbMax ? avail : cbMax;
  std::memcpy(pDst, it->second.bytes.get() + cbOff, n);
  return static_cast<DWORD>(n);
}

UINT WINAPI DdeGetLastError(DWORD idInst) {
  DdeInstance* i = Inst(S(), idInst);
  if (!i) return DMLERR_DLL_NOT_INITIALIZED;
  UINT e = i->lastError;
  i->lastError = 0;
  return e;
}

HDDEDATA WINAPI DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv, HSZ hszItem, UINT wFmt, UINT wType,
                                     DWORD dwTimeout, LPDWORD pdwResult) {
  State& s = S();
  auto conv = s.convs.find(reinterpret_cast<uintptr_t>(hConv));
  std::string timeout = dwTimeout == TIMEOUT_ASYNC ? "TIMEOUT_ASYNC" : Dec(dwTimeout);
  if (pdwResult) *pdwResult = 0;
  std::optional<DWORD> injected = Injected("DdeClientTransaction");

  // Execute data: a data handle (cbData 0xFFFFFFFF), which DDEML owns from
  // here on, or a plain buffer.
  std::string text;
  if (wType == XTYP_EXECUTE && pData) {
    if (cbData == 0xFFFFFFFF) {
      auto d = s.ddeData.find(reinterpret_cast<uintptr_t>(pData));
      if (d == s.ddeData.end()) {
        s.Log("Misuse", {"DdeClientTransaction", "unknown data handle"});
      } else {
        text.assign(reinterpret_cast<const char*>(d->second.bytes.get()), d->second.size);
        if (!d->second.appOwned) s.ddeData.erase(d);
      }
    } else {
      text.assign(reinterpret_cast<const char*>(pData), cbData);
    }
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
  }

  UINT e = 0;
  HDDEDATA result = nullptr;
  DdeInstance* inst = conv == s.convs.end() ? nullptr : Inst(s, conv->second.inst);
  std::string item = inst ? HszText(s, inst->id, hszItem) : "";
  if (!inst) {
    e = DMLERR_NO_CONV_ESTABLISHED;
  } else if (injected) {
    // A time-out waits the whole time-out first; a request times out on its data.
    if (*injected == DMLERR_EXECACKTIMEOUT) s.ticks += dwTimeout == TIMEOUT_ASYNC ? 0 : dwTimeout;
    e = *injected == DMLERR_EXECACKTIMEOUT && wType == XTYP_REQUEST ? DMLERR_DATAACKTIMEOUT : *injected;
  } else if (wType == XTYP_EXECUTE) {
    if (!pData) {
      e = DMLERR_INVALIDPARAMETER;
    } else if (s.owner->faults.ddeExecuteTimesOut) {
      s.ticks += dwTimeout == TIMEOUT_ASYNC ? 0 : dwTimeout;
      e = DMLERR_EXECACKTIMEOUT;
    } else if (s.progman.Execute(text)) {
      result = reinterpret_cast<HDDEDATA>(static_cast<uintptr_t>(1));
      if (pdwResult) *pdwResult = DDE_FACK;
    } else {
      e = DMLERR_NOTPROCESSED;
    }
  } else if (wType == XTYP_REQUEST) {
    if (pData || !hszItem) {
      e = DMLERR_INVALIDPARAMETER;
    } else if (IEquals(item, "Groups") && wFmt == CF_TEXT) {
      std::string reply;
      if (s.owner->faults.groupsReply) {
        reply = *s.owner->faults.groupsReply;
      } else {
        reply = s.progman.GroupsReply();
        reply.push_back('\0');
      }
      result = NewData(s, inst->id, reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), 0, CF_TEXT, false);
      if (pdwResult) *pdwResult = DDE_FACK;
    } else {
      e = DMLERR_NOTPROCESSED;
    }
  } else {
    e = DMLERR_NOTPROCESSED;
  }
  if (e && inst) inst->lastError = e;
  std::string ok = result ? "1" : "0";
  if (wType == XTYP_EXECUTE)
    s.Log("DdeExecute", {text, timeout, ok, HexErr(e)});
  else if (wType == XTYP_REQUEST)
    s.Log("DdeRequest", {item, Dec(wFmt), timeout, ok, HexErr(e)});
  else
    s.Log("DdeTransaction", {Hex(wType), item, timeout, ok, HexErr(e)});
  return result;
}

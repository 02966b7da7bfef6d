// winsim's private state and helpers shared by its Win32 implementation files.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <winsim/machine.h>

namespace winsim::detail {

// ---- Text ------------------------------------------------------------------
// The ANSI code page of the current machine (1252 without one). On the
// double-byte code pages a lead byte and the byte after it are one
// character: every walk over a path goes character by character, as the
// system does, so that a trail byte 0x5C is never a separator.
UINT AnsiCodePage();
bool IsDoubleByteCodePage(UINT cp);
bool IsLeadByteOf(UINT cp, unsigned char c);
bool IsLeadByte(unsigned char c);
// The length (1 or 2) of the character that starts at s[i].
size_t CharLength(std::string_view s, size_t i);
// The first (last) single-byte character c at or after from (a character
// boundary), or npos.
size_t FindChar(std::string_view s, char c, size_t from = 0);
size_t FindLastChar(std::string_view s, char c);
bool EndsWithChar(std::string_view s, char c);
// Upper case as Windows folds ANSI names: ASCII letters, and on code page
// 1252 the accented Latin-1 letters; double-byte characters are left as
// they are (Windows would fold the full-width Latin letters among them,
// which winsim does not model).
char UpperChar(char c);
std::string Upper(std::string_view s);
bool IEquals(std::string_view a, std::string_view b);
int ICompare(std::string_view a, std::string_view b);
std::string Hex(uint64_t v);  // "0x1F"
std::string Dec(int64_t v);
std::string Str(const char* s);  // "" for NULL
std::string Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Bounded copy with NUL: at most size-1 characters; nothing when size is 0.
void CopyOut(char* dst, size_t size, std::string_view src);
wchar_t Cp1252ToUnicode(unsigned char c);
// '?' for what code page 1252 cannot represent.
char UnicodeToCp1252(uint32_t cp, bool* usedDefault);

// ---- File system -------------------------------------------------------------
struct FsNode {
  std::string name;       // as created
  std::string shortName;  // upper-case 8.3 alias
  bool isDir = false;
  DWORD attrs = 0;        // without FILE_ATTRIBUTE_DIRECTORY
  FILETIME created{}, written{}, accessed{};
  std::vector<uint8_t> data;
  // Its security descriptor, self-relative, as SetFileSecurityA set it or
  // as it inherited it when created (security.cpp); empty when neither.
  std::vector<uint8_t> security;
  std::map<std::string, std::shared_ptr<FsNode>> children;  // key: Upper(name)
  FsNode* parent = nullptr;
  bool attached = true;
  // A junction (and the root of a SUBST drive): the real path it leads to.
  // Such a node has no children of its own; State::Walk continues at the
  // target, test helpers that enumerate trees stop at it.
  std::string junction;
};
using NodePtr = std::shared_ptr<FsNode>;

// A Win32 path taken apart: its root ("C:" or "\\server\share") and
// components, with ".", ".." and repeated separators resolved.
struct PathParts {
  std::string root;
  std::vector<std::string> parts;
  // Named by the program through an ANSI entry point: walking it applies
  // what the program's process meets (the 64-bit editions' file system
  // redirector, the user's rights). Test helpers and Windows' own work
  // (the restart, the shell's DDE server) walk the real names.
  bool byProgram = false;
  // Reached through a UNC name (an administrative share of this computer):
  // WOW64 redirects only local paths.
  bool unc = false;
  std::string Join() const;  // "C:\\A\\B" or "C:\\"
};

// The entry of dir with that name or 8.3 alias (no redirection).
std::shared_ptr<FsNode> FindChild(const FsNode& dir, const std::string& name);

enum class OpenKind { Handle, TestHold, Image, Module };

struct OpenRef {
  int id = 0;
  NodePtr node;
  DWORD access = 0;  // normalised: 1 read, 2 write, 4 delete
  DWORD share = 0;
  OpenKind kind = OpenKind::Handle;
};

constexpr DWORD kAccRead = 1, kAccWrite = 2, kAccDelete = 4;
// A Win32 access mask (generic or specific rights) as the kAcc* rights the
// sharing rules compare.
DWORD AccessRights(DWORD access);
// The attributes Win32 reports for an entry: FILE_ATTRIBUTE_DIRECTORY for a
// directory, and FILE_ATTRIBUTE_NORMAL when no other is set.
DWORD AttributesOf(const FsNode& n);

struct FileHandle {
  int openId = 0;
  std::string path;
  NodePtr node;
  uint64_t pos = 0;
  DWORD access = 0;
};

struct FindHandle {
  PathParts dir;
  std::string pattern;
  std::string lastKey;  // Upper(name) of the last entry returned
  int dotsReturned = 0; // "." and ".." given so far (non-root directories)
  bool hasDots = false;
  bool done = false;
};

// ---- Registry --------------------------------------------------------------------
struct RegVal {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct RegKey {
  std::string name;
  std::map<std::string, std::shared_ptr<RegKey>> subkeys;  // key: Upper(name)
  std::vector<RegVal> values;                              // creation order
  RegKey* parent = nullptr;
  bool deleted = false;
  FILETIME written{};
};
using KeyPtr = std::shared_ptr<RegKey>;

struct KeyHandle {
  KeyPtr key;
  std::string hiveName;  // as the program named it: "HKEY_CLASSES_ROOT", ...
  std::string path;      // below the hive as the program named it
  REGSAM access = 0;
  // The real key behind it: on a 64-bit edition the registry redirector's
  // answer; elsewhere the same as hiveName and path.
  std::string realHive, realPath;
  bool view64 = false;   // opened with KEY_WOW64_64KEY
  bool written = false;  // created, or a value set or deleted through it
};

// A key path of the program as a real key: the hive's root and the path
// below it.
struct RealKey {
  KeyPtr root;
  std::string hive;  // "HKEY_LOCAL_MACHINE", ...
  std::string path;
};

struct KeyDenial {
  std::string hiveName;
  std::string upperPath;
  bool reads = false;
};

// ---- Windows -----------------------------------------------------------------------
struct Window {
  HWND hwnd = nullptr;
  int serial = 0;
  std::string className;
  std::string text;
  DWORD style = 0, exStyle = 0;
  RECT rect{};  // in the parent's client coordinates (screen for top level)
  HWND parent = nullptr;
  int id = 0;
  LONG_PTR userData = 0;
  LONG_PTR msgResult = 0, dlgProc = 0, dlgUser = 0;
  HINSTANCE instance = nullptr;
  std::vector<HWND> children;
  // Combo box.
  std::vector<std::string> items;
  std::vector<LPARAM> itemData;
  int curSel = -1;
  // Progress bar.
  int pbMin = 0, pbMax = 100, pbPos = 0, pbStep = 10;
  bool enabled = true, visible = false;
  int check = BST_UNCHECKED;
  WPARAM font = 0;
  // Edit, rich edit and combo box: the most characters the user may type
  // (and, for the rich edit control, that WM_SETTEXT keeps); -1 for the
  // class default.
  long textLimit = -1;
  // Static icon controls of dialog templates: the icon's resource ordinal.
  int iconId = 0;
  bool iconFound = false;
};

// Class names compare without regard to case, as Windows compares them.
inline bool IsClass(const Window& w, const char* cls) { return IEquals(w.className, cls); }

// ---- Resources ------------------------------------------------------------------------
// One resource of a loaded .res file. Type and name are "#<ordinal>" or the
// upper-case string name.
struct ResourceItem {
  std::string type, name;
  WORD language = 0;
  std::vector<uint8_t> data;
};

// ---- Dialogs and property sheets ----------------------------------------------------------
struct PropPageObj;  // an HPROPSHEETPAGE (propsheet.h)
struct Sheet;        // a property sheet while PropertySheetA runs (propsheet.h)
struct PostedMessage {
  HWND hwnd = nullptr;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// ---- Modules -------------------------------------------------------------------------
enum class Builtin { None, ShFolder, Version, SetupApi, RichEdit, Kernel32, Advapi32 };

struct Module {
  int serial = 0;
  HMODULE handle = nullptr;
  std::string path;  // actual path in the file system
  int refs = 0;
  int holdId = 0;
  Builtin builtin = Builtin::None;
  std::vector<std::string> exports;
  std::vector<std::string> importNames;  // DLLs it imports, by bare name
  std::vector<HMODULE> imports;          // their modules, freed with it
  int slot = -1;     // trampoline slot for DllRegisterServer/DllUnregisterServer
  int pinned = 0;    // references the program's static imports hold (kernel32, advapi32)
};

// ---- DDE ---------------------------------------------------------------------------------
struct DdeString {
  std::string text;
  int refs = 0;
};
struct DdeInstance {
  DWORD id = 0;
  UINT lastError = 0;
  std::map<uintptr_t, DdeString> strings;  // HSZ value -> string
};
struct DdeConv {
  DWORD inst = 0;
  std::string service, topic;
};
struct DdeData {
  DWORD inst = 0;
  // Exactly `size` bytes on the heap, so that a reader running past the
  // end of a reply is caught by the address sanitizer.
  std::shared_ptr<uint8_t[]> bytes;
  size_t size = 0;
  UINT format = 0;
  bool appOwned = false;
  int accessCount = 0;
};

// ---- Processes and tokens ------------------------------------------------------------------------
struct ProcessObj {
  int index = 0;  // into Machine processes
  bool isThread = false;
};

struct TokenObj {
  DWORD access = 0;
};

// ---- COM -------------------------------------------------------------------------------------
// Every COM object winsim hands out, so that leaked ones can be counted and
// freed with their machine.
struct ComObject {
  virtual ~ComObject() = default;
};

// ---- Shell folders -----------------------------------------------------------------------------
struct FolderEntry {
  std::optional<std::string> path;  // nullopt: the shell does not know it
  std::optional<HRESULT> failure;
};

// ---- The whole machine's state ----------------------------------------------------------------
struct State {
  Machine* owner = nullptr;
  WindowsVersion version = WindowsVersion::XP;
  DWORD major = 5, minor = 1, build = 2600, platform = VER_PLATFORM_WIN32_NT;
  std::string csd;
  UINT acp = 1252;  // GetACP
  std::string windowsDir, systemDir, tempDir, programPath;
  PathParts cwd;
  std::vector<std::string> envPath;
  // The process environment apart from PATH (envPath), keyed by upper-case
  // name; and the computer's NetBIOS name, which also names its
  // administrative shares (\\NAME\C$).
  std::map<std::string, std::string> environment;
  std::string computerName = "WINSIM";
  DWORD lastError = 0;
  uint64_t clock = 0;    // FILETIME ticks
  uint32_t ticks = 0;    // GetTickCount

  // Files.
  std::map<std::string, NodePtr> drives;  // key: Upper(root); drives and UNC shares
  std::map<std::string, uint64_t> capacity;  // key: Upper(root); volumes with a byte budget
  std::set<std::string> noShortNames;     // Upper(root) of volumes that make no 8.3 names
  std::vector<OpenRef> opens;
  int nextOpenId = 1;
  std::map<uintptr_t, FileHandle> files;
  std::map<uintptr_t, FindHandle> finds;
  uintptr_t nextHandle = 0x1000;

  // Registry.
  KeyPtr hklm, hku, hkcu;
  std::map<uintptr_t, KeyHandle> keys;
  uintptr_t nextKey = 0x2000;
  std::set<std::string> readOnlyHives;  // hive names
  std::vector<KeyDenial> denials;

  // Shell.
  std::map<int, FolderEntry> itemListFolders, shFolders;
  std::set<void*> pidls;  // shell allocator blocks handed out (item lists)
  int mallocRefs = 0;
  std::optional<std::string> browseAnswer;

  // COM.
  bool comMta = false;
  int comInit = 0;  // the program's CoInitialize successes minus CoUninitialize calls
  std::set<ComObject*> comLive;
  std::vector<SavedLink> links;

  // Windows.
  std::map<uintptr_t, Window> windows;
  int nextWindow = 1;
  bool commonControls = false;
  std::map<int, int> metrics;
  HCURSOR cursor = nullptr;
  std::map<std::string, std::deque<int>> answers;  // by caption

  // Modules.
  std::vector<Module> modules;
  int nextModule = 1;

  // Resources by module handle, dialogs and property sheets.
  std::map<uintptr_t, std::vector<std::unique_ptr<ResourceItem>>> resources;
  std::map<PropPageObj*, std::shared_ptr<PropPageObj>> propPages;
  std::vector<Sheet*> sheets;  // innermost last
  std::deque<PostedMessage> posted;
  std::deque<UserAction> wizardScript;

  // Processes and tokens.
  std::vector<ProcessRecord> processes;
  std::map<uintptr_t, ProcessObj> processHandles;
  std::map<uintptr_t, TokenObj> tokens;
  bool shutdownPrivilege = false;
  bool restartRequested = false;

  // DDE.
  std::map<DWORD, DdeInstance> dde;
  DWORD nextDdeInstance = 1;
  uintptr_t nextDdeHandle = 0x5000;
  std::map<uintptr_t, DdeConv> convs;
  std::map<uintptr_t, DdeData> ddeData;
  int ddeReclaimed = 0;

  Progman progman;
  Journal journal;

  // The edition and the user (wow64.cpp, users.cpp, editions.cpp).
  bool wow64 = false;  // a 64-bit edition: the program runs under WOW64
  UserKind user = UserKind::ElevatedAdministrator;
  std::vector<std::string> otherProfiles;  // real paths of other users' profiles
  int native = 0;  // >0 while Windows itself acts (the restart's replay, the shell's DDE server)
  std::vector<std::string> calls;  // Machine::calls()
  std::map<std::string, uint64_t, std::less<>> callsByFunction;

  // ---- Helpers ----
  int quiet = 0;  // >0 while winsim calls its own Win32 functions
  void Log(std::string kind, std::vector<std::string> fields) {
    if (!quiet) journal.Add(std::move(kind), std::move(fields));
  }
  FILETIME Tick();  // advances the clock and returns the new time
  uintptr_t NewHandle() { return nextHandle += 4; }
  bool IsNT() const { return platform == VER_PLATFORM_WIN32_NT; }

  // Paths. Resolve fails with a Win32 error (length, invalid name, drive).
  // The MAX_PATH limit belongs to the ANSI entry points; test helpers lift
  // it, as a test may plant what a Unicode program could have created.
  DWORD Resolve(const char* path, PathParts& out, bool allowWildcards = false, bool limitLength = true) const;
  PathParts ResolveOrDie(const std::string& path) const;
  // Looks up a path; error is ERROR_FILE_NOT_FOUND (last part missing) or
  // ERROR_PATH_NOT_FOUND (a directory on the way missing).
  NodePtr Lookup(const PathParts& p, DWORD* error = nullptr) const;
  NodePtr LookupDir(const PathParts& p, DWORD* error = nullptr) const;  // the parent of p
  // The one place a path becomes a node: the first `count` components,
  // each looked up in the directory reached so far and then followed as
  // the program's view has it (WOW64's redirector; a standard user may not
  // look inside another user's profile), junctions (and a SUBST drive's
  // root) followed to their targets. Per-directory security would be
  // checked here too.
  NodePtr Walk(const PathParts& p, size_t count, DWORD* error) const;
  // The directory entry the last component names, unfollowed (what a
  // listing of its directory shows under that name).
  NodePtr Entry(const PathParts& p) const;
  NodePtr Root(const std::string& root) const;
  NodePtr MakeRoot(const std::string& root);
  std::string PathOf(const FsNode* node) const;  // actual case
  NodePtr AddChild(const NodePtr& dir, const std::string& name, bool isDir);
  void Detach(const NodePtr& node);
  // Creates the missing directories of p; for a program's path the user's
  // rights apply (0 or ERROR_ACCESS_DENIED).
  DWORD MakeDirsParts(const PathParts& p);
  std::string ShortPathOf(const PathParts& p) const;
  // GetShortPathNameA's answer for an existing path, in the form it was
  // given: a relative path stays relative, "." and ".." stay, a trailing
  // backslash stays; each named component becomes its alias.
  std::string ShortFormOf(const std::string& input) const;

  // Sharing.
  DWORD CheckShare(const FsNode* node, DWORD access, DWORD share) const;
  bool HasImage(const FsNode* node) const;
  bool IsOpen(const FsNode* node) const;
  int AddOpen(const NodePtr& node, DWORD access, DWORD share, OpenKind kind);
  void RemoveOpen(int id);
  bool IsCwdOrAbove(const FsNode* node) const;
  // Deletes a file as DeleteFileA does; returns 0 or the error.
  DWORD DeleteFileNode(const NodePtr& node);
  // Room on a volume with a byte budget: ERROR_DISK_FULL when the file at
  // (or the directory of) `where` cannot grow from oldSize to newSize bytes.
  DWORD CheckRoom(const FsNode* where, uint64_t oldSize, uint64_t newSize) const;
  uint64_t UsedBytes(const FsNode* node) const;
  // Writes a whole file (create or replace) as CreateFileA + WriteFile would:
  // on a full volume the file is left empty and ERROR_DISK_FULL returned.
  DWORD WriteWholeFile(const PathParts& p, const std::vector<uint8_t>& data, const FILETIME* time = nullptr);

  // Registry.
  KeyPtr HiveRoot(HKEY hive, std::string* hiveName, std::string* prefix) const;
  KeyPtr WalkKey(const KeyPtr& from, const std::string& path, bool create, bool* created = nullptr);
  bool WriteDenied(const std::string& hiveName, const std::string& fullUpperPath) const;
  bool ReadDenied(const std::string& hiveName, const std::string& fullUpperPath) const;
  KeyPtr KeyForTest(HKEY hive, const std::string& key, bool create) const;
  void SetValueRaw(const KeyPtr& key, const std::string& name, DWORD type, const std::vector<uint8_t>& data);

  // WOW64 (wow64.cpp). The Windows directory's node; what a component
  // under it leads a 32-bit process to (nullopt: its own entry).
  NodePtr WindowsNode() const;
  std::optional<NodePtr> Wow64Step(const FsNode* windows, const NodePtr& dir, const PathParts& p, size_t i) const;
  std::string Wow64SystemDir() const;  // GetSystemWow64DirectoryA's answer
  // A key path of the program (hive as named, path below it) as the real
  // key the registry redirector gives it in the view sam asks for.
  RealKey MapKey(const std::string& hiveName, const std::string& logical, REGSAM sam) const;
  // XP x64's registry reflection, done when a written key is closed and
  // when a key is deleted; the string patches of 32-bit writes.
  void ReflectOnClose(const KeyHandle& h);
  void ReflectDeletion(const std::string& hive, const std::string& realPath);
  void PatchWow64String(const KeyHandle& h, DWORD type, std::vector<uint8_t>& data) const;
  bool Exports(Builtin module, const std::string& name) const;

  // The user's rights (users.cpp): 0 or ERROR_ACCESS_DENIED. MayChange
  // judges a change of target (a file or directory changed or deleted, or
  // the directory that gains an entry); MayLookInside a lookup or listing
  // inside dir.
  bool Standard() const;
  std::vector<NodePtr> MachineFolders() const;
  std::vector<NodePtr> OtherProfiles() const;
  DWORD MayChange(const FsNode* target) const;
  DWORD MayLookInside(const FsNode* dir) const;
  bool UserRefusesKeyWrite(const std::string& hiveName) const;

  // Windows.
  Window* Win(HWND hwnd);
  const Window* Win(HWND hwnd) const;
  HWND NewWindow(Window w);

  // Modules.
  void InstallSystemModules();
  // kernel32 and advapi32, which the program imports: loaded for its life
  // (and again after a restart), from its system directory.
  void LoadPinnedModules();
};

// Sets the last error and returns FALSE, as a BOOL call fails.
inline BOOL Fail(State& s, DWORD err) {
  s.lastError = err;
  return FALSE;
}

// FindFirstFileA's matching: DOS wildcards against the long name or the
// 8.3 alias, without regard to case (kernel32_find.cpp).
bool WildcardMatch(const std::string& pattern, const FsNode& node);

// Module exports reached through GetProcAddress.
DWORD WINAPI Sim_VerInstallFileA(UINT flags, LPCSTR src, LPCSTR dst, LPCSTR srcDir, LPCSTR dstDir, LPCSTR curDir,
                                 LPSTR tmpFile, PUINT tmpLen);
BOOL WINAPI Sim_SetupIterateCabinetA(PCSTR cabinet, DWORD reserved, PSP_FILE_CALLBACK_A handler, PVOID context);
HRESULT WINAPI Sim_SHGetFolderPathA(HWND hwnd, int csidl, HANDLE token, DWORD flags, LPSTR path);

// Dialogs (dialogs.cpp). A dialog window's procedure sees the message
// first; *result is what SendMessageA returns when it handled it.
bool DialogProcHandles(State& s, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
// Creates a dialog from a template resource; nullptr when the template is
// missing or corrupt or a control cannot be made (*error says which).
HWND CreateDialogFromResource(State& s, HINSTANCE instance, LPCSTR name, HWND parent, DWORD forceStyle, DWORD dropStyle,
                              DLGPROC proc, LPARAM param, LONG_PTR* initResult, DWORD* error);
// Template size in pixels (the fixed dialog base units), for the sheet's
// page area.
bool DialogTemplateSize(State& s, HINSTANCE instance, LPCSTR name, SIZE* pixels);
int DluToPixelX(int dlu);
int DluToPixelY(int dlu);
// Controls (controls.cpp). Class behaviour winsim adds to SendMessageA
// before its generic handling (text limits, rich edit text, BM_CLICK).
bool ControlHandles(State& s, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
// The progress bar's and the combo box's own messages, after the generic
// handling.
LRESULT ProgressMessage(State& s, Window& w, UINT msg, WPARAM wp, LPARAM lp);
LRESULT ComboMessage(Window& w, UINT msg, WPARAM wp, LPARAM lp);
// A user's click on a control: auto buttons toggle, then the parent dialog
// gets WM_COMMAND. Returns "" on success, else why it was refused.
// With dryRun nothing happens: only the refusal is computed.
std::string UserClick(State& s, HWND control, bool dryRun);
std::string UserType(State& s, HWND control, const std::string& text, bool dryRun);
std::string UserSelect(State& s, HWND control, int index, bool dryRun);
// Is the window class known to CreateWindowExA (user32.cpp)?
bool ClassKnown(State& s, const std::string& cls, DWORD* error);
// Where a window's client area starts on the screen: its own and its
// parents' origins added up, as winsim draws no non-client area (user32.cpp).
void ScreenOriginOf(const State& s, HWND hwnd, LONG* x, LONG* y);
// Resources (resources.cpp): "#<n>" for an ordinal, else the text.
std::string ResourceKey(LPCSTR nameOrOrdinal);
const ResourceItem* FindResourceItem(const State& s, HMODULE module, const std::string& type, const std::string& name,
                                     DWORD* error);
// Property sheets (propsheet.cpp).
Sheet* SheetOf(State& s, HWND hwnd);
bool SheetHandles(State& s, Sheet* sheet, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
// Delivers posted messages for windows that still exist.
void DeliverPosted(State& s);

// The current machine's state.
State& S();

// Editions (wow64.cpp, editions.cpp).
bool Is64BitEdition(WindowsVersion v);
bool IsVistaOrLater(WindowsVersion v);
struct EditionVersion {
  DWORD major, minor, build;
  const char* csd;
};
EditionVersion VersionOf64(WindowsVersion v);  // what GetVersionExA tells the program
void SeedEdition64(Machine& m);                // a 64-bit edition's places over the 32-bit layout
void SeedCompatibilityJunctions(Machine& m);   // Vista and later: C:\Documents and Settings, ...
// kernel32's and advapi32's functions of later systems, reached only
// through GetProcAddress.
BOOL WINAPI Sim_IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);
UINT WINAPI Sim_GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize);
DWORD WINAPI Sim_QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax);  // kernel32_files.cpp
LONG WINAPI Sim_RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, DWORD Reserved);
// advapi32's security functions (security.cpp): the export of that name
// the edition has (null for none), and the descriptor a new entry of dir
// inherits, as the file system gives it at creation.
FARPROC SecurityExport(const State& s, const std::string& name);
void InheritSecurity(const State& s, const FsNode& dir, FsNode& child);

// Counts the program's call of a function that can fail (none while winsim
// calls itself) and, when it is the call Faults::failCall chooses, gives the
// failure it must return (calls.cpp).
// `detail` (a path, a key, a value name) goes into the FailedCall event.
std::optional<DWORD> Injected(const char* function, const char* detail = nullptr);

}  // namespace winsim::detail

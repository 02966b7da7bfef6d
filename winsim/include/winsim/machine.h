// The simulated Windows computer that winsim's Win32 functions act on, and
// the API through which tests seed it, inject faults and read back what the
// program did. See winsim/README.md for the journal's event kinds.
//
//   winsim::Machine m(winsim::WindowsVersion::XP);
//   winsim::CurrentMachine use(m);          // Win32 calls now act on m
//   m.WriteText("C:\\dist\\SETUP.INI", "[FTPSetup]\r\nQuietModeInstall=Y\r\n");
//   ... run product code ...
//   EXPECT_EQ(m.journal().Count("MessageBox"), 1u);
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <winsim/progman.h>
#include <winsim/windows.h>

namespace winsim {

// Thrown by the test helpers on a misuse (an invalid path, a missing file
// to hold, no current machine), so that the test fails and the others run.
struct UsageError : std::logic_error {
  using std::logic_error::logic_error;
};

// Win7 and Win10 are the 32-bit editions. The x64 editions run the program
// as a 32-bit process under WOW64: its file system and registry redirectors,
// the (x86) Program Files, IsWow64Process TRUE. 8.1, 10 and 11 tell a
// program without a supported-OS manifest entry that they are 6.2 build 9200.
enum class WindowsVersion { Win95, Win98, NT4, Win2000, XP, Win7, Win10, WinXP64, Win7x64, Win81x64, Win10x64, Win11x64 };

// Who runs the program, from Windows Vista on. The product's manifest asks
// highestAvailable: an administrator's process is elevated; a standard
// user's is not, and its writes to the machine's places (HKLM and HKCR,
// Program Files, the Windows directory, the all-users Start Menu and
// desktop, other users' profiles) fail with ERROR_ACCESS_DENIED, as does
// MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT.
enum class UserKind { ElevatedAdministrator, StandardUser };

// One observable action of the program, with its details as text. Numbers
// are decimal, flags and styles "0x" upper-case hexadecimal, results "0" for
// success or the Win32 error / HRESULT / VIF_ code; see the README per kind.
struct Event {
  std::string kind;
  std::vector<std::string> fields;
};

class Journal {
 public:
  void Add(std::string kind, std::vector<std::string> fields);
  const std::vector<Event>& events() const { return events_; }
  size_t size() const { return events_.size(); }
  std::vector<Event> OfKind(const std::string& kind) const;
  size_t Count(const std::string& kind) const;
  // Index of the first event of `kind` at or after `from` whose leading
  // fields equal `fields` (fewer fields match a prefix); -1 when none.
  int IndexOf(const std::string& kind, const std::vector<std::string>& fields = {}, size_t from = 0) const;
  int IndexWhere(const std::function<bool(const Event&)>& pred, size_t from = 0) const;
  // Every event on its own line, "Kind | field | field", for failure output.
  std::string Dump() const;
  static std::string Format(const Event& e);
  void Clear() { events_.clear(); }

 private:
  std::vector<Event> events_;
};

// The two ways the program can ask the shell for a special folder: the
// item-list route (SHGetSpecialFolderLocation + SHGetPathFromIDListA) and
// the shell folder library route ("shfolder.dll" SHGetFolderPathA).
enum class FolderRoute { ItemList, ShFolder };

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
  // The data as text up to its first NUL (REG_SZ and friends).
  std::string Text() const;
};

// One entry of a discretionary access control list, as a test reads it.
struct AccessEntry {
  std::string sid;  // "S-1-5-32-544"
  BYTE type = 0;    // ACCESS_ALLOWED_ACE_TYPE, ACCESS_DENIED_ACE_TYPE, ...
  BYTE flags = 0;   // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERITED_ACE ...
  DWORD mask = 0;
  bool operator==(const AccessEntry& o) const {
    return sid == o.sid && type == o.type && flags == o.flags && mask == o.mask;
  }
};

// A file's or directory's security descriptor, as a test reads it.
struct FileSecurity {
  WORD control = 0;  // SE_* control bits (SE_SELF_RELATIVE, SE_DACL_PRESENT, SE_DACL_PROTECTED, ...)
  bool daclPresent = false;
  std::vector<AccessEntry> dacl;
};

// Resources taken through the Win32 functions and not yet given back.
struct Outstanding {
  int regKeys = 0;
  int fileHandles = 0;
  int findHandles = 0;
  int modules = 0;          // LoadLibraryA references not yet freed
  int processHandles = 0;   // process and thread handles not closed
  int tokenHandles = 0;
  int ddeInstances = 0;
  int ddeStrings = 0;       // string handle references
  int ddeConversations = 0;
  int ddeDataHandles = 0;   // data handles owned by the program
  int ddeAccessedData = 0;  // DdeAccessData without DdeUnaccessData
  int ddeReclaimed = 0;     // handles still held when their instance was uninitialised
  int comObjects = 0;       // COM objects alive
  int comInitialised = 0;   // CoInitialize successes minus CoUninitialize calls
  int pidls = 0;            // item lists handed out and not freed
  int mallocRefs = 0;       // shell allocator references not released
  int propSheetPages = 0;   // CreatePropertySheetPageA pages never given to a sheet nor destroyed
  // "" when nothing is outstanding, else "name=count" pairs.
  std::string Describe() const;
  bool Clean() const { return Describe().empty(); }
};

// Fault switches. Unset optionals mean "behave normally".
struct Faults {
  // DdeInitializeA returns this DMLERR_ code (e.g. DMLERR_DLL_USAGE).
  std::optional<UINT> ddeInitialize;
  // No "PROGMAN" DDE service: DdeConnect fails with DMLERR_NO_CONV_ESTABLISHED.
  bool noProgmanService = false;
  // Bytes the "Groups" request returns instead of Progman::GroupsReply()
  // plus a NUL (any bytes, NUL-terminated or not).
  std::optional<std::string> groupsReply;
  // Every execute transaction times out (NULL, DMLERR_EXECACKTIMEOUT).
  bool ddeExecuteTimesOut = false;
  // COM is already initialised on the thread: the first CoInitialize gives S_FALSE.
  bool comAlreadyInitialised = false;
  // COM initialised in the multithreaded apartment: CoInitialize gives RPC_E_CHANGED_MODE.
  bool comMultithreaded = false;
  std::optional<HRESULT> coCreateInstance;
  std::optional<HRESULT> persistFileSave;
  std::optional<HRESULT> shGetMalloc;
  // Win32 error codes the call fails with.
  std::optional<DWORD> createProcess;
  std::optional<DWORD> openProcessToken;
  std::optional<DWORD> lookupPrivilegeValue;
  std::optional<DWORD> adjustTokenPrivileges;
  std::optional<DWORD> exitWindowsEx;
  // AdjustTokenPrivileges succeeds but sets ERROR_NOT_ALL_ASSIGNED and
  // leaves the privilege disabled (a user without the right).
  bool privilegeNotAssigned = false;
  // PropertySheetA cannot create its window and returns -1.
  bool propertySheet = false;

  // The general switch: one call of the program fails. Counted over every
  // call of a function that can fail (Machine::FailingFunctions) when
  // `function` is empty, else over the calls of that function only; `nth`
  // is 1-based. The call gives the failure Machine::FailureKinds(its
  // function)[kind % their count], and the journal gets a FailedCall event.
  struct CallFailure {
    std::string function;
    uint64_t nth = 0;
    size_t kind = 0;
  };
  std::optional<CallFailure> failCall;
};

struct ProcessRecord {
  std::string applicationName;  // as passed ("" for NULL)
  std::string commandLine;
  std::string currentDirectory;  // the directory the process started in
  std::string modulePath;        // the program file that was found
};

struct SavedLink {
  std::string path;  // the .lnk file written
  std::string target, workingDir, description, arguments;
};

namespace detail {
struct State;
struct Sheet;
}

// The buttons of a wizard's frame.
enum class WizButton { Back, Next, Finish, Cancel, Help };
const char* WizButtonName(WizButton b);

class WizardView;

// One step of the scripted wizard user. Each step but Inspect is one input:
// the sheet takes one step each time it waits for input.
struct UserAction {
  enum class Kind { Click, Type, Select, Press, Inspect };
  Kind kind = Kind::Press;
  int id = 0;             // control id on the current page (Click, Type, Select)
  std::string text;       // Type
  int index = 0;          // Select: the combo box item
  WizButton button = WizButton::Cancel;  // Press
  std::function<void(WizardView&)> inspect;  // Inspect: runs, takes no input, and the next step follows

  static UserAction Click(int id);
  static UserAction Type(int id, std::string text);
  static UserAction Select(int id, int index);
  static UserAction Press(WizButton b);
  static UserAction Inspect(std::function<void(WizardView&)> f);
};

// What the scripted user sees of the open wizard, and what it can do. Reads
// of a control that does not exist give "", false or an empty list.
class WizardView {
 public:
  bool Open() const;       // the sheet has not closed yet
  int Page() const;        // index of the current page, -1 while none
  HWND Sheet() const;
  HWND PageWindow() const;            // the current page
  HWND PageWindow(int index) const;   // nullptr until that page was first shown
  HWND Control(int id) const;         // a control of the current page
  std::string Caption() const;        // the sheet's title
  std::string Text(int id) const;     // GetWindowText of a control of the current page
  bool Checked(int id) const;
  bool Enabled(int id) const;         // the control's own state
  bool Visible(int id) const;         // the control's own state (ShowWindow / WS_VISIBLE)
  std::vector<std::string> Items(int id) const;  // combo box list
  DWORD WizButtons() const;           // the PSWIZB_ flags last set (PSWIZB_BACK | PSWIZB_NEXT at first)
  bool CanPress(WizButton b) const;   // the button is shown and enabled
  std::string ButtonText(WizButton b) const;
  RECT SheetRect() const;             // GetWindowRect of the frame, screen coordinates
  std::string SheetText(int id) const;  // a control of the frame itself

  // Input. Each returns true when the input was taken; a refusal (disabled,
  // hidden, missing control, closed sheet) is journaled as WizardUser.
  bool Click(int id);
  bool Type(int id, const std::string& text);
  bool Select(int id, int index);
  bool Press(WizButton b);

  WizardView(class Machine& m, detail::Sheet* sheet) : machine_(m), sheet_(sheet) {}
  int inputs() const { return inputs_; }

 private:
  bool Refuse(const std::string& what, const std::string& why);
  bool Input(const std::string& what, const std::function<std::string(bool dryRun)>& act);
  class Machine& machine_;
  detail::Sheet* sheet_;
  int inputs_ = 0;
};

class Machine {
 public:
  explicit Machine(WindowsVersion version = WindowsVersion::XP);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // ---- Operating system -------------------------------------------------
  WindowsVersion version() const;
  bool IsNT() const;
  // A 64-bit edition (the program runs under WOW64).
  bool Is64Bit() const;
  // Changes only what GetVersionExA reports.
  void SetVersionNumbers(DWORD major, DWORD minor, DWORD build, DWORD platform, const std::string& csd = "");
  std::string WindowsDir() const;
  std::string SystemDir() const;
  std::string TempDir() const;  // ends in a backslash, as GetTempPathA gives it
  void SetWindowsDir(const std::string& path);  // created when missing
  void SetSystemDir(const std::string& path);
  void SetTempDir(const std::string& path);
  // GetModuleFileNameA(NULL) and the first place LoadLibraryA searches.
  void SetProgramPath(const std::string& path);
  std::string ProgramPath() const;
  // Must exist (it is created when missing).
  void SetCurrentDir(const std::string& path);
  std::string CurrentDir() const;
  void SetSystemMetric(int index, int value);
  void SetEnvironmentPath(const std::vector<std::string>& dirs);  // searched last by CreateProcessA
  // GetEnvironmentVariableA's answers (names without regard to case;
  // nullopt removes one). A fresh machine has windir, TEMP and TMP, and on
  // the NT family SystemRoot, COMPUTERNAME and USERPROFILE (the profile
  // folder: C:\WINNT\Profiles\User on NT 4.0); 9x has no USERPROFILE.
  void SetEnvironmentVariable(const std::string& name, std::optional<std::string> value);
  std::optional<std::string> EnvironmentVariable(const std::string& name) const;
  // GetComputerNameA, and the server name of this computer's administrative
  // shares (\\WINSIM\C$ is drive C:, as are \\localhost\C$ and
  // \\127.0.0.1\C$). "WINSIM" at first.
  void SetComputerName(const std::string& name);
  // The ANSI code page GetACP reports: 1252 (the default) or one of the
  // double-byte code pages 932, 936, 949, 950. On those, paths, names and
  // case folding go by character (a lead byte and its trail byte), as on a
  // Japanese, Chinese or Korean Windows. Anything else is a usage error.
  void SetAnsiCodePage(UINT codePage);
  // The user the program runs as (ElevatedAdministrator at first). A
  // standard user exists from Windows Vista on (Win7 and later here); a
  // usage error elsewhere.
  void SetUser(UserKind kind);
  UserKind user() const;
  // The parent of the profiles (C:\Users, C:\Documents and Settings).
  std::string ProfilesDir() const;
  // Another user's profile in the profiles directory, with its usual
  // folders: a standard user may neither read nor write inside it. The
  // 64-bit editions have one, "Other".
  void AddUserProfile(const std::string& name);

  // ---- File system --------------------------------------------------------
  // Paths follow Win32 rules (case-insensitive, relative to CurrentDir()).
  // Writers create missing parent directories.
  void WriteText(const std::string& path, const std::string& text);
  void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
  std::optional<std::string> ReadText(const std::string& path) const;
  std::optional<std::vector<uint8_t>> ReadBytes(const std::string& path) const;
  void MakeDirs(const std::string& path);
  bool Exists(const std::string& path) const;
  bool IsDirectory(const std::string& path) const;
  // Entry names (as created) in enumeration order, without "." and "..".
  std::vector<std::string> List(const std::string& dir) const;
  // Every file and directory below dir, as paths relative to it ("Docs",
  // "Docs\\a.txt"), each directory followed by its contents.
  std::vector<std::string> Tree(const std::string& dir) const;
  DWORD Attributes(const std::string& path) const;  // INVALID_FILE_ATTRIBUTES when missing
  void SetAttributes(const std::string& path, DWORD attributes);
  FILETIME WriteTime(const std::string& path) const;
  void SetWriteTime(const std::string& path, FILETIME time);
  // The actual case of an existing path, e.g. for "c:\program files".
  std::string ActualPath(const std::string& path) const;
  // Whether the volume ("C:" or \\server\share) makes 8.3 names for
  // what is created on it from now on (the default; Windows 8 and later
  // leave them off on other than the system volume). Without them
  // GetShortPathNameA gives such a component in its long form and
  // FindFirstFileA an empty cAlternateFileName.
  void SetShortNames(const std::string& volume, bool made);
  // GetShortPathNameA's answer for an existing path ("" when missing).
  std::string ShortPath(const std::string& path) const;
  // The security descriptor of an existing entry (a real path): what the
  // program's SetFileSecurityA gave it, or what it inherited when it was
  // created inside a directory that had one. nullopt when neither happened
  // (winsim does not model the descriptors a fresh machine's folders have).
  std::optional<FileSecurity> Security(const std::string& path) const;
  // The real path a path of the program reaches through the file system
  // redirector of a 64-bit edition (C:\Windows\System32\x is
  // C:\Windows\SysWOW64\x, ...\Sysnative\x the real System32\x); the
  // path itself elsewhere. The other helpers name real paths. "" when the
  // directory it names does not exist.
  std::string RedirectedPath(const std::string& path) const;
  void RemoveTree(const std::string& path);
  // An NTFS junction at link leading to the directory target (which may be
  // missing): the entry is a directory with FILE_ATTRIBUTE_REPARSE_POINT
  // (and the hidden, system or read-only attributes given), which paths
  // through it follow to the target. Tree() and List() show it as an entry
  // and do not descend into it; RemoveDirectoryA removes only the link.
  // Vista and later editions are seeded with their compatibility junctions
  // (C:\Documents and Settings, C:\Users\All Users, ...).
  void MakeJunction(const std::string& link, const std::string& target, DWORD attributes = 0);
  // The target of the junction at path (unfollowed), or "".
  std::string JunctionTarget(const std::string& path) const;
  // SUBST letter: target: the drive reaches that directory, and
  // QueryDosDeviceA names it "\??\<target>". An empty target removes the
  // drive (SUBST /D); a letter that names a volume is a usage error.
  void Subst(char letter, const std::string& target);
  // Holds a file open as another process would, with the given share mode
  // (0: nobody may read, write or delete it). Returns an id for Release.
  int Hold(const std::string& path, DWORD share = 0, DWORD access = GENERIC_READ | GENERIC_WRITE);
  // Holds a file as a running program's or loaded DLL's image: it can be
  // read and renamed, not written, and deleting it fails with access denied.
  int HoldImage(const std::string& path);
  void Release(int holdId);
  // A volume of `bytes` bytes ("D:\\" or a share): the file data on it
  // may not exceed that. A write past it fails with ERROR_DISK_FULL and the
  // version installer returns VIF_OUTOFSPACE (leaving its temporary file).
  void SetVolumeCapacity(const std::string& root, uint64_t bytes);
  // The bytes of file data on the volume.
  uint64_t VolumeUsed(const std::string& root) const;
  // The current simulated time (advances by one second per change).
  FILETIME Now() const;

  // ---- Registry -----------------------------------------------------------
  // hive: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT (a view of
  // HKLM\Software\Classes) or HKEY_USERS. key: "Software\\VORTAN\\FTP".
  void CreateKey(HKEY hive, const std::string& key);
  bool KeyExists(HKEY hive, const std::string& key) const;
  void SetRegValue(HKEY hive, const std::string& key, const std::string& name, DWORD type,
                   const std::vector<uint8_t>& data);
  void SetRegString(HKEY hive, const std::string& key, const std::string& name, const std::string& text);  // NUL counted
  void SetRegDword(HKEY hive, const std::string& key, const std::string& name, DWORD value);
  void SetRegBinary(HKEY hive, const std::string& key, const std::string& name, const std::vector<uint8_t>& bytes);
  std::optional<RegValue> GetRegValue(HKEY hive, const std::string& key, const std::string& name) const;
  std::vector<std::string> SubKeys(HKEY hive, const std::string& key) const;  // enumeration order
  std::vector<std::string> ValueNames(HKEY hive, const std::string& key) const;  // creation order
  void DeleteKeyTree(HKEY hive, const std::string& key);
  // The helpers above name the real keys (the 64-bit view on a 64-bit
  // edition: HKLM\Software\Wow6432Node\VORTAN is where the program's
  // HKLM\Software\VORTAN lands). These name keys as the 32-bit program
  // does, through the registry redirector; on a 32-bit edition they are the
  // same as the ones above.
  std::pair<HKEY, std::string> RedirectedKey(HKEY hive, const std::string& key) const;
  std::optional<RegValue> GetRegValue32(HKEY hive, const std::string& key, const std::string& name) const;
  // Writes (create, set, delete, open for writing) fail with
  // ERROR_ACCESS_DENIED; reads still work. HKLM also covers HKCR, which is a
  // view of it.
  void SetHiveReadOnly(HKEY hive, bool readOnly = true);
  // Denies writes to the key and everything below it; with alsoReads, any
  // opening too.
  void DenyKey(HKEY hive, const std::string& key, bool alsoReads = false);
  // NT family: the pairs of PendingFileRenameOperations as stored
  // ("\\??\\C:\\x", "" for a deletion; "!\\??\\C:\\y" for a replacement).
  std::vector<std::pair<std::string, std::string>> PendingRenames() const;

  // ---- Shell folders --------------------------------------------------------
  // Sets the folder for both routes and creates the directory.
  void SetShellFolder(int csidl, const std::string& path);
  void SetShellFolder(int csidl, FolderRoute route, const std::string& path);
  // The route fails: the item-list route returns hr from
  // SHGetSpecialFolderLocation, the shfolder route returns hr from
  // SHGetFolderPathA without writing the buffer.
  void FailShellFolder(int csidl, FolderRoute route, HRESULT hr = E_FAIL);
  std::string ShellFolder(int csidl, FolderRoute route = FolderRoute::ShFolder) const;
  // The answer of SHBrowseForFolderA: a folder path, or nullopt for Cancel.
  void ScriptBrowseForFolder(std::optional<std::string> path);
  // Called while the folder picker is open (its owner's top-level window
  // disabled, if it has an owner), before it answers.
  std::function<void()> onBrowseForFolder;

  // ---- Modules ----------------------------------------------------------------
  // The file content that makes a loadable sim DLL whose exports are the
  // given names (DllRegisterServer and DllUnregisterServer when empty).
  // imports are DLLs (bare names) loaded with it, searched for as Windows
  // searches a DLL's imports.
  static std::string SimDllImage(const std::vector<std::string>& exports = {},
                                 const std::vector<std::string>& imports = {});
  // Writes a sim DLL file (see SimDllImage).
  void PlantSimDll(const std::string& path, const std::vector<std::string>& exports = {},
                   const std::vector<std::string>& imports = {});
  // Deletes a system DLL ("shfolder.dll", "version.dll", "setupapi.dll",
  // "riched20.dll") from the system directory.
  void RemoveSystemModule(const std::string& name);

  // ---- Windows, boxes, processes ---------------------------------------------------
  // A top-level window standing in for a dialog, with client area 0,0,w,h.
  HWND CreateTestWindow(int clientWidth, int clientHeight, const std::string& title = "");
  // A child control of the test window (class e.g. "ComboBox", "Button", "Edit").
  HWND AddTestControl(HWND parent, const std::string& className, int id, DWORD style = WS_CHILD | WS_VISIBLE);
  std::vector<std::string> ComboItems(HWND combo) const;
  std::string WindowText(HWND hwnd) const;
  std::string WindowClass(HWND hwnd) const;
  RECT WindowRectInParent(HWND hwnd) const;  // the rectangle given at creation
  HWND ParentOf(HWND hwnd) const;
  int ProgressPos(HWND bar) const;
  std::pair<int, int> ProgressRange(HWND bar) const;
  int ProgressStep(HWND bar) const;
  std::vector<HWND> WindowsOfClass(const std::string& className) const;
  // How a window appears in journal fields: "NULL" or "hwnd<N>".
  static std::string WindowTag(HWND hwnd);

  // Answers the next message box with that caption (a queue per caption).
  void ScriptAnswer(const std::string& caption, int answer);
  // Called for every box before the script; a value answers it.
  std::function<std::optional<int>(HWND owner, const std::string& text, const std::string& caption, UINT style)>
      onMessageBox;
  int UnansweredScripts() const;  // scripted answers never used

  const std::vector<ProcessRecord>& processes() const;
  const std::vector<SavedLink>& savedLinks() const;
  bool restartRequested() const;  // ExitWindowsEx succeeded with EWX_REBOOT

  // ---- Resources, dialogs, the wizard -----------------------------------------------
  // Loads a Win32 .res file (as `windres -O res` writes it) from the host
  // file system as the resources of a module (nullptr: the program). False,
  // with the reason in *why, when the file is missing, truncated or corrupt;
  // nothing of a bad file is kept.
  bool LoadResourceFile(const std::string& unixPath, HINSTANCE module = nullptr, std::string* why = nullptr);
  bool LoadResourceBytes(const std::vector<uint8_t>& res, HINSTANCE module = nullptr, std::string* why = nullptr);
  // "type/name" of each loaded resource ("#5/#1001", "#10/ID_RES_SLA").
  std::vector<std::string> ResourceList(HINSTANCE module = nullptr) const;
  // Steps of the wizard user, taken in order while PropertySheetA waits for
  // input; appended to what is left.
  void ScriptWizard(std::vector<UserAction> actions);
  size_t UnusedWizardActions() const;
  // Called each time the sheet waits for input and the script is empty. A
  // call that gives no input ends the script: the user presses Cancel.
  std::function<void(WizardView&)> onWizardIdle;
  // Control state by window.
  bool IsChecked(HWND hwnd) const;
  bool IsEnabledWindow(HWND hwnd) const;
  bool IsShownWindow(HWND hwnd) const;
  long TextLimit(HWND hwnd) const;   // the class default when never set
  WPARAM FontOf(HWND hwnd) const;    // the last WM_SETFONT
  int IconOf(HWND hwnd, bool* found = nullptr) const;  // a template icon control's resource ordinal

  // ---- Program Manager, faults, journal, resources -------------------------------------
  Progman& progman();
  Faults faults;
  // Every call of the program to a function that can fail, in order, by
  // name: what Faults::failCall counts.
  const std::vector<std::string>& calls() const;
  // The functions that can be made to fail, and the failures of one of
  // them by name ("ERROR_ACCESS_DENIED", "VIF_FILEINUSE", ...).
  static std::vector<std::string> FailingFunctions();
  static std::vector<std::string> FailureKinds(const std::string& function);
  Journal& journal();
  const Journal& journal() const;
  Outstanding outstanding() const;

  // Restarts Windows: ends every process and hold, replays the NT family's
  // PendingFileRenameOperations and the 9x family's WININIT.INI [rename]
  // section (NUL=<path> deletes, <dst>=<src> moves), which Windows then
  // removes (WININIT.INI is renamed WININIT.BAK), and forgets Program
  // Manager's active group.
  void Restart();

  detail::State& state() { return *state_; }
  const detail::State& state() const { return *state_; }

 private:
  std::unique_ptr<detail::State> state_;
};

// Makes a machine the one the Win32 functions act on, for the guard's life.
class CurrentMachine {
 public:
  explicit CurrentMachine(Machine& machine);
  ~CurrentMachine();
  CurrentMachine(const CurrentMachine&) = delete;
  CurrentMachine& operator=(const CurrentMachine&) = delete;

 private:
  Machine* previous_;
};

// The current machine; aborts with a message when there is none.
Machine& Current();
bool HasCurrent();

}  // namespace winsim

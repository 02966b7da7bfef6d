// Message boxes and their script, the window registry (progress bar, combo
// box, dialog data), cursors, metrics and wsprintfA.
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

class User32Test : public WinsimTest {
 protected:
  static std::string Fmt(const char* format, ...) {
    char buf[1100];
    std::memset(buf, '#', sizeof buf);
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(buf, format, args);
    va_end(args);
    EXPECT_EQ(static_cast<size_t>(n), std::strlen(buf));
    return buf;
  }
};

// ---- Message boxes ------------------------------------------------------------------------------

TEST_F(User32Test, UnscriptedBoxesTakeOkOrTheDefaultButton) {
  EXPECT_EQ(MessageBoxA(nullptr, "done", "VORTAN FTP Install", MB_OK | MB_ICONINFORMATION), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(Last("MessageBox"), "NULL | q | c | 0x203 | 2 | unscripted");
}

TEST_F(User32Test, ScriptedAnswersQueuePerCaption) {
  m().ScriptAnswer("VORTAN FTP Uninstall", IDNO);
  m().ScriptAnswer("VORTAN FTP Uninstall", IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "other", "Setup Error", 0x10030), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "delete group?", "VORTAN FTP Uninstall", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "reboot?", "VORTAN FTP Uninstall", MB_YESNO | MB_ICONINFORMATION), IDYES);
  EXPECT_EQ(m().UnansweredScripts(), 0);
  EXPECT_EQ(Last("MessageBox"), "NULL | reboot? | VORTAN FTP Uninstall | 0x44 | 6 | scripted");
}

TEST_F(User32Test, AHookSeesEveryBoxFirst) {
  std::string seen;
  m().onMessageBox = [&](HWND, const std::string& text, const std::string&, UINT) -> std::optional<int> {
    seen += text + ";";
    return text == "a" ? std::optional<int>(IDCANCEL) : std::nullopt;
  };
  EXPECT_EQ(MessageBoxA(nullptr, "a", "c", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "b", "c", MB_OKCANCEL), IDOK);
  EXPECT_EQ(seen, "a;b;");
}

TEST_F(User32Test, OwnersAreRecordedAndMustBeWindows) {
  HWND page = m().CreateTestWindow(400, 300);
  MessageBoxA(page, "t", "c", MB_OK);
  EXPECT_EQ(Last("MessageBox"), Machine::WindowTag(page) + " | t | c | 0x0 | 1 | unscripted");
  EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x999)), "t", "c", MB_OK), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(User32Test, BeepsAndCursorsAreJournaled) {
  MessageBeep(MB_ICONEXCLAMATION);
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  ASSERT_NE(wait, nullptr);
  SetCursor(wait);
  EXPECT_EQ(Last("Beep"), "0x30");
  EXPECT_EQ(Last("SetCursor"), "IDC_WAIT");
  EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), IDC_WAIT), nullptr)
      << "not a resource of the program";
}

// ---- Windows ---------------------------------------------------------------------------------------------

TEST_F(User32Test, TheProgressBarClassNeedsTheCommonControlsAndAParent) {
  HWND page = m().CreateTestWindow(400, 300);
  EXPECT_EQ(CreateWindowExA(0, "msctls_progress32", nullptr, WS_CHILD | WS_VISIBLE, 0, 284, 400, 16, page, nullptr,
                            nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  InitCommonControls();
  EXPECT_EQ(CreateWindowExA(0, "msctls_progress32", nullptr, WS_CHILD | WS_VISIBLE, 0, 284, 400, 16, nullptr, nullptr,
                            nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
  HWND bar = CreateWindowExA(0, "msctls_progress32", nullptr, WS_CHILD | WS_VISIBLE, 0, 284, 400, 16, page, nullptr,
                             nullptr, nullptr);
  ASSERT_NE(bar, nullptr);
  RECT r;
  GetClientRect(page, &r);
  EXPECT_EQ(r.right, 400);
  EXPECT_EQ(r.bottom, 300);
  EXPECT_EQ(m().ParentOf(bar), page);
  EXPECT_EQ(m().WindowRectInParent(bar).top, 284);
}

TEST_F(User32Test, TheProgressBarTracksRangeStepAndPosition) {
  HWND page = m().CreateTestWindow(400, 300);
  InitCommonControls();
  HWND bar = CreateWindowExA(0, "msctls_progress32", "", WS_CHILD, 0, 0, 10, 10, page, nullptr, nullptr, nullptr);
  EXPECT_EQ(SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100)), MAKELRESULT(0, 100));
  EXPECT_EQ(SendMessageA(bar, PBM_SETSTEP, 1, 0), 10) << "the default step";
  for (int i = 0; i < 40; ++i) SendMessageA(bar, PBM_STEPIT, 0, 0);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 40);
  EXPECT_EQ(m().ProgressPos(bar), 40);
  EXPECT_EQ(Last("Progress"), Machine::WindowTag(bar) + " | PBM_STEPIT | 40");
  SendMessageA(bar, PBM_SETPOS, 100, 0);
  SendMessageA(bar, PBM_STEPIT, 0, 0);
  EXPECT_EQ(m().ProgressPos(bar), 1) << "past the maximum the bar starts over";
}

TEST_F(User32Test, ASortedComboBoxKeepsItsItemsInOrder) {
  HWND page = m().CreateTestWindow(400, 300);
  HWND combo = m().AddTestControl(page, "ComboBox", 208, WS_CHILD | CBS_DROPDOWN | CBS_SORT);
  ASSERT_EQ(GetDlgItem(page, 208), combo);
  for (const char* g : {"StartUp", "accessories", "VORTAN FTP", ""}) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(g));
  EXPECT_EQ(m().ComboItems(combo), (std::vector<std::string>{"", "accessories", "StartUp", "VORTAN FTP"}));
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 4);
  char buf[64];
  EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(buf)), 7);
  EXPECT_STREQ(buf, "StartUp");
  EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 9, reinterpret_cast<LPARAM>(buf)), CB_ERR);
  EXPECT_EQ(SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("vortan ftp")), 3);
  EXPECT_EQ(GetDlgItem(page, 999), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
}

TEST_F(User32Test, WindowTextAndDialogDataAreKept) {
  HWND page = m().CreateTestWindow(400, 300);
  HWND edit = m().AddTestControl(page, "Edit", 100);
  SetDlgItemTextA(page, 100, "C:\\Program Files\\VORTAN\\FTP");
  char small[8];
  EXPECT_EQ(GetDlgItemTextA(page, 100, small, sizeof small), 7u);
  EXPECT_STREQ(small, "C:\\Prog");
  EXPECT_EQ(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0), 27);
  SetWindowLongA(page, DWL_MSGRESULT, -1);
  EXPECT_EQ(GetWindowLongA(page, DWL_MSGRESULT), -1);
  SetWindowLongPtrA(page, GWLP_USERDATA, 0x1234);
  EXPECT_EQ(GetWindowLongPtrA(page, GWLP_USERDATA), 0x1234);
}

TEST_F(User32Test, MetricsAndStockObjects) {
  EXPECT_EQ(GetSystemMetrics(SM_CYVSCROLL), 16);
  m().SetSystemMetric(SM_CYVSCROLL, 21);
  EXPECT_EQ(GetSystemMetrics(SM_CYVSCROLL), 21);
  EXPECT_NE(GetStockObject(DEFAULT_GUI_FONT), nullptr);
  EXPECT_EQ(GetStockObject(9), nullptr);
}

// ---- wsprintfA ---------------------------------------------------------------------------------------------

TEST_F(User32Test, WsprintfFormatsAsWindowsDoes) {
  EXPECT_EQ(Fmt("DDE Error = %04lX", 0x400Au), "DDE Error = 400A");
  EXPECT_EQ(Fmt("DDE Error = %04lX", 0x9u), "DDE Error = 0009");
  EXPECT_EQ(Fmt("Error code %X installing QXFTP.DLL.  GetLastError( ) returned %d.", 0x80u, 32),
            "Error code 80 installing QXFTP.DLL.  GetLastError( ) returned 32.");
  EXPECT_EQ(Fmt("Line%d", 9), "Line9");
  EXPECT_EQ(Fmt("%s\\CurVer", "Keldra.FTP.1"), "Keldra.FTP.1\\CurVer");
  EXPECT_EQ(Fmt("[%-5s][%5s][%.2s]", "ab", "ab", "abcdef"), "[ab   ][   ab][ab]");
  EXPECT_EQ(Fmt("%05d|%u|%x|%#x|%c", -42, 4294967295u, 255u, 255u, 'Z'), "-0042|4294967295|ff|0xff|Z");
  EXPECT_EQ(Fmt("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(Fmt("100%% %q"), "100% q") << "an unknown conversion prints its letter";
}

TEST_F(User32Test, WsprintfWritesAtMost1024BytesWithTheNul) {
  std::string big(2000, 'x');
  char buf[1100];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(wsprintfA(buf, "%s", big.c_str()), 1023);
  EXPECT_EQ(std::strlen(buf), 1023u);
  EXPECT_EQ(buf[1024], '#');
}

}  // namespace

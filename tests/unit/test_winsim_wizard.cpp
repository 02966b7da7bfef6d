// winsim's wizard: .res loading and FindResourceA, dialogs from templates,
// controls and the user's input, and the wizard-mode property sheet driven
// by a scripted user.
#include <cstring>
#include <fstream>
#include <map>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;
using winsim::UserAction;
using winsim::WizardView;
using winsim::WizButton;

const std::string kFixture = std::string(TOOLS_BIN_DIR) + "/../winsim/fixtures/wizard.res";
constexpr int kPages = 3;
const int kTemplates[kPages] = {1001, 1002, 1003};

// What the pages do: their notification results, the wizard buttons each
// sets on PSN_SETACTIVE, and a log of what they saw.
struct PageScript {
  std::map<std::pair<int, UINT>, std::vector<LRESULT>> results;  // (page, code) -> results in turn
  std::map<int, DWORD> buttons;                                  // page -> PSWIZB_ on PSN_SETACTIVE
  std::function<void(HWND page, int index, UINT code)> onNotify;
  std::vector<std::string> seen;
};
PageScript* g_pages = nullptr;

std::string Code(UINT code) {
  switch (code) {
    case PSN_SETACTIVE: return "SETACTIVE";
    case PSN_KILLACTIVE: return "KILLACTIVE";
    case PSN_RESET: return "RESET";
    case PSN_HELP: return "HELP";
    case PSN_WIZBACK: return "WIZBACK";
    case PSN_WIZNEXT: return "WIZNEXT";
    case PSN_WIZFINISH: return "WIZFINISH";
    case PSN_QUERYCANCEL: return "QUERYCANCEL";
    default: return std::to_string(static_cast<int>(code));
  }
}

INT_PTR CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      auto* psp = reinterpret_cast<PROPSHEETPAGEA*>(lp);
      SetWindowLongA(hwnd, DWL_USER, static_cast<LONG>(psp->lParam));
      g_pages->seen.push_back("init " + std::to_string(psp->lParam));
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* n = reinterpret_cast<NMHDR*>(lp);
      int page = GetWindowLongA(hwnd, DWL_USER);
      g_pages->seen.push_back(std::to_string(page) + " " + Code(n->code));
      if (g_pages->onNotify) g_pages->onNotify(hwnd, page, n->code);
      LRESULT r = 0;
      auto it = g_pages->results.find({page, n->code});
      if (it != g_pages->results.end() && !it->second.empty()) {
        r = it->second.front();
        if (it->second.size() > 1) it->second.erase(it->second.begin());
      }
      if (n->code == PSN_SETACTIVE && g_pages->buttons.count(page))
        SendMessageA(GetParent(hwnd), PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(g_pages->buttons[page]));
      SetWindowLongA(hwnd, DWL_MSGRESULT, static_cast<LONG>(r));
      return TRUE;
    }
    case WM_COMMAND:
      g_pages->seen.push_back("command " + std::to_string(LOWORD(wp)) + " " + std::to_string(HIWORD(wp)));
      return TRUE;
    default:
      return FALSE;
  }
}

int g_callbacks = 0;
int CALLBACK SheetCallback(HWND, UINT msg, LPARAM) {
  if (msg == PSCB_INITIALIZED) ++g_callbacks;
  return 0;
}

class WinsimWizardTest : public WinsimTest {
 protected:
  void SetUp() override {
    g_pages = &pages;
    g_callbacks = 0;
    std::string why;
    if (!std::ifstream(kFixture).good()) GTEST_SKIP() << "no windres: " << kFixture << " was not built";
    ASSERT_TRUE(m().LoadResourceFile(kFixture, nullptr, &why)) << why;
  }
  void TearDown() override { g_pages = nullptr; }

  static HINSTANCE Program() { return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)); }

  // Runs the sheet over the three fixture pages with the product's header.
  INT_PTR Run(std::vector<UserAction> script = {}, UINT start = 0) {
    m().ScriptWizard(std::move(script));
    HPROPSHEETPAGE handles[kPages];
    for (int i = 0; i < kPages; ++i) {
      PROPSHEETPAGEA p{};
      p.dwSize = 48;
      p.dwFlags = i == 1 ? PSP_HASHELP : 0;
      p.hInstance = Program();
      p.pszTemplate = MAKEINTRESOURCEA(kTemplates[i]);
      p.pfnDlgProc = PageProc;
      p.lParam = i;
      handles[i] = CreatePropertySheetPageA(&p);
    }
    PROPSHEETHEADERA h{};
    h.dwSize = 52;
    h.dwFlags = PSH_WIZARD | PSH_USECALLBACK | PSH_HASHELP;
    h.hInstance = Program();
    h.pszCaption = "VORTAN FTP Setup";
    h.nPages = kPages;
    h.nStartPage = start;
    h.phpage = handles;
    h.pfnCallback = SheetCallback;
    return PropertySheetA(&h);
  }

  // What the pages saw, joined with "; ".
  std::string Seen() const {
    std::string r;
    for (auto& s : pages.seen) r += (r.empty() ? "" : "; ") + s;
    return r;
  }

  // An inspection step that records one value for the test to compare.
  UserAction Read(std::function<std::string(WizardView&)> f) {
    return UserAction::Inspect([this, f](WizardView& v) { reads.push_back(f(v)); });
  }

  std::string Reads() const {
    std::string r;
    for (auto& s : reads) r += (r.empty() ? "" : "; ") + s;
    return r;
  }

  // The data of a resource as text up to its first NUL, or "error N".
  static std::string ResourceText(LPCSTR name, LPCSTR type) {
    HRSRC r = FindResourceA(nullptr, name, type);
    if (!r) return "error " + std::to_string(GetLastError());
    const char* p = static_cast<const char*>(LockResource(LoadResource(nullptr, r)));
    return std::string(p, strnlen(p, SizeofResource(nullptr, r)));
  }

  PageScript pages;
  std::vector<std::string> reads;
};

// ---- Resources ----------------------------------------------------------------------------------

TEST_F(WinsimWizardTest, NamedDataIsFoundWithoutRegardToCase) {
  EXPECT_EQ(ResourceText("ID_RES_SLA", RT_RCDATA), "First licence text.");
  EXPECT_EQ(ResourceText("id_res_sla2", RT_RCDATA), "Second");
}

TEST_F(WinsimWizardTest, TemplatesAndIconsAreFoundByOrdinal) {
  EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(1002), RT_DIALOG), nullptr);
  EXPECT_NE(FindResourceA(nullptr, "#1003", RT_DIALOG), nullptr);
  EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(2002), RT_GROUP_ICON), nullptr);
}

TEST_F(WinsimWizardTest, MissingResourcesSayWhatIsMissing) {
  EXPECT_EQ(ResourceText("NOPE", RT_RCDATA), "error " + std::to_string(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(ResourceText("NOPE", RT_BITMAP), "error " + std::to_string(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x700000)), "ID_RES_SLA", RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

TEST_F(WinsimWizardTest, CorruptResourceFilesAreRefusedWhole) {
  std::ifstream in(kFixture, std::ios::binary);
  std::vector<uint8_t> good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Machine fresh;
  std::string why;
  for (size_t cut : {size_t{0}, size_t{3}, size_t{31}, size_t{40}, good.size() / 2, good.size() - 1}) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<long>(cut));
    EXPECT_FALSE(fresh.LoadResourceBytes(bytes, nullptr, &why)) << "cut at " << cut;
  }
  std::vector<uint8_t> hugeHeader = good;
  hugeHeader[36] = 0xFF;  // the second record's HeaderSize
  EXPECT_FALSE(fresh.LoadResourceBytes(hugeHeader, nullptr, &why));
  EXPECT_FALSE(fresh.LoadResourceBytes(Bytes("MZ not a resource file at all"), nullptr, &why));
  EXPECT_FALSE(fresh.LoadResourceFile("/nonexistent/x.res", nullptr, &why));
  EXPECT_EQ(fresh.ResourceList().size(), 0u);
}

TEST_F(WinsimWizardTest, EveryByteFlipLeavesTheLoaderStanding) {
  std::ifstream in(kFixture, std::ios::binary);
  std::vector<uint8_t> good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t i = 0; i < good.size(); i += 3) {
    Machine fresh;
    std::vector<uint8_t> bytes = good;
    bytes[i] ^= 0xA5;
    fresh.LoadResourceBytes(bytes);
  }
  SUCCEED();
}

// ---- The wizard's protocol ---------------------------------------------------------------------------

TEST_F(WinsimWizardTest, PagesAreMadeWhenFirstShownAndNextKillsBeforeItActivates) {
  EXPECT_EQ(Run({UserAction::Press(WizButton::Next), UserAction::Press(WizButton::Back),
                 UserAction::Press(WizButton::Next), UserAction::Press(WizButton::Next),
                 UserAction::Press(WizButton::Finish)}),
            0);
  // PSWIZB_FINISH is never set, so Finish stays hidden: the script ends and the user cancels.
  EXPECT_EQ(Seen(),
            "init 0; 0 SETACTIVE; 0 WIZNEXT; 0 KILLACTIVE; init 1; 1 SETACTIVE; 1 WIZBACK; 1 KILLACTIVE; 0 SETACTIVE; "
            "0 WIZNEXT; 0 KILLACTIVE; 1 SETACTIVE; 1 WIZNEXT; 1 KILLACTIVE; init 2; 2 SETACTIVE; 2 QUERYCANCEL; "
            "0 RESET; 1 RESET; 2 RESET");
}

TEST_F(WinsimWizardTest, FinishClosesOnZeroAndTheSheetReturnsIdOk) {
  pages.buttons = {{0, PSWIZB_NEXT}, {1, PSWIZB_BACK | PSWIZB_FINISH}};
  pages.results[{1, PSN_WIZFINISH}] = {1, 0};
  EXPECT_EQ(Run({UserAction::Press(WizButton::Next), UserAction::Press(WizButton::Finish),
                 UserAction::Press(WizButton::Finish)}),
            IDOK);
  EXPECT_EQ(Seen(), "init 0; 0 SETACTIVE; 0 WIZNEXT; 0 KILLACTIVE; init 1; 1 SETACTIVE; 1 WIZFINISH; 1 WIZFINISH");
  EXPECT_EQ(g_callbacks, 1);
}

TEST_F(WinsimWizardTest, NextResultsStayJumpOrRefuseTheChange) {
  pages.results[{0, PSN_WIZNEXT}] = {-1, 1003, 0};
  pages.results[{0, PSN_KILLACTIVE}] = {TRUE};
  EXPECT_EQ(Run({UserAction::Press(WizButton::Next), UserAction::Press(WizButton::Next),
                 UserAction::Press(WizButton::Next), Read([](WizardView& v) { return std::to_string(v.Page()); })}),
            0);
  EXPECT_EQ(Reads(), "0");
  EXPECT_EQ(Seen(), "init 0; 0 SETACTIVE; 0 WIZNEXT; 0 WIZNEXT; 0 KILLACTIVE; 0 WIZNEXT; 0 KILLACTIVE; 0 QUERYCANCEL; "
                    "0 RESET");
}

TEST_F(WinsimWizardTest, ATemplateIdJumpsOverPages) {
  pages.results[{0, PSN_WIZNEXT}] = {1003};
  Run({UserAction::Press(WizButton::Next), Read([](WizardView& v) { return std::to_string(v.Page()); })});
  EXPECT_EQ(Reads(), "2");
  EXPECT_EQ(m().journal().IndexOf("PropSheetPage", {"1"}), -1) << "page 1 is never made";
}

TEST_F(WinsimWizardTest, SetActiveMinusOneSkipsInTheDirectionOfTravel) {
  pages.results[{1, PSN_SETACTIVE}] = {-1};
  Run({UserAction::Press(WizButton::Next), Read([](WizardView& v) { return std::to_string(v.Page()); }),
       UserAction::Press(WizButton::Back), Read([](WizardView& v) { return std::to_string(v.Page()); })});
  EXPECT_EQ(Reads(), "2; 0");
}

TEST_F(WinsimWizardTest, CancelAsksTheCurrentPageAndResetsEveryPageMade) {
  pages.results[{0, PSN_QUERYCANCEL}] = {TRUE, FALSE};
  EXPECT_EQ(Run({UserAction::Press(WizButton::Cancel), Read([](WizardView& v) { return v.Open() ? "open" : "closed"; }),
                 UserAction::Press(WizButton::Cancel)}),
            0);
  EXPECT_EQ(Seen(), "init 0; 0 SETACTIVE; 0 QUERYCANCEL; 0 QUERYCANCEL; 0 RESET");
  EXPECT_EQ(Reads(), "open");
  EXPECT_EQ(m().UnusedWizardActions(), 0u);
}

TEST_F(WinsimWizardTest, HelpGoesToTheCurrentPageWhenItHasHelp) {
  Run({UserAction::Press(WizButton::Help), UserAction::Press(WizButton::Next), UserAction::Press(WizButton::Help)});
  EXPECT_EQ(Seen(), "init 0; 0 SETACTIVE; 0 WIZNEXT; 0 KILLACTIVE; init 1; 1 SETACTIVE; 1 HELP; 1 QUERYCANCEL; 0 RESET; "
                    "1 RESET");
  EXPECT_EQ(m().journal().IndexOf("PropSheetButton", {"Help", "user", "refused: disabled"}), 
            m().journal().IndexOf("PropSheetButton", {"Help"}));
}

TEST_F(WinsimWizardTest, ButtonsFollowSetWizButtons) {
  pages.buttons = {{0, PSWIZB_NEXT}, {1, PSWIZB_BACK | PSWIZB_FINISH}};
  auto buttons = [](WizardView& v) {
    std::string r;
    for (WizButton b : {WizButton::Back, WizButton::Next, WizButton::Finish, WizButton::Cancel})
      r += v.CanPress(b) ? "1" : "0";
    return r;
  };
  Run({Read(buttons), UserAction::Press(WizButton::Back), UserAction::Press(WizButton::Next), Read(buttons),
       UserAction::Press(WizButton::Next)});
  EXPECT_EQ(Reads(), "0101; 1011");
  EXPECT_EQ(Last("PropSheetWizButtons"), "0x5 | BACK|FINISH");
  EXPECT_NE(m().journal().IndexOf("PropSheetButton", {"Back", "user", "refused: disabled"}), -1);
  EXPECT_NE(m().journal().IndexOf("PropSheetButton", {"Next", "user", "refused: hidden"}), -1);
}

TEST_F(WinsimWizardTest, TheScriptRunningOutPressesCancel) {
  EXPECT_EQ(Run(), 0);
  EXPECT_NE(m().journal().IndexOf("WizardUser", {"0", "End of script", "Cancel"}), -1) << m().journal().Dump();
}

TEST_F(WinsimWizardTest, ARefusedCancelCannotHangTheTest) {
  pages.results[{0, PSN_QUERYCANCEL}] = {TRUE};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Last("WizardUser"), "0 | End of script | sheet closed: Cancel refused");
}

TEST_F(WinsimWizardTest, TheIdleHookDrivesTheUserToo) {
  pages.buttons = {{0, PSWIZB_FINISH}};
  m().onWizardIdle = [](WizardView& v) { v.Press(WizButton::Finish); };
  EXPECT_EQ(Run(), IDOK);
}

TEST_F(WinsimWizardTest, AFailingSheetReturnsMinusOne) {
  m().faults.propertySheet = true;
  EXPECT_EQ(Run(), -1);
  EXPECT_TRUE(pages.seen.empty());
}

TEST_F(WinsimWizardTest, PagesGivenToTheSheetAreNotLeaked) {
  Run();
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

TEST_F(WinsimWizardTest, MessageBoxesInsideNotificationsTakeTheirScriptedAnswers) {
  pages.buttons = {{0, PSWIZB_FINISH}};
  int answer = 0;
  pages.onNotify = [&](HWND page, int, UINT code) {
    if (code == PSN_WIZFINISH) answer = MessageBoxA(page, "Install?", "VORTAN FTP Setup", MB_YESNO);
  };
  m().ScriptAnswer("VORTAN FTP Setup", IDNO);
  Run({UserAction::Press(WizButton::Finish)});
  EXPECT_EQ(answer, IDNO);
}

TEST_F(WinsimWizardTest, TheProgramCanPressButtonsAndFindTheCurrentPage) {
  HWND current = nullptr;
  pages.onNotify = [&](HWND page, int index, UINT code) {
    if (index == 0 && code == PSN_SETACTIVE) PostMessageA(GetParent(page), PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    if (index == 1 && code == PSN_SETACTIVE) current = page;
  };
  HWND seenCurrent = nullptr;
  Run({Read([&](WizardView& v) {
    seenCurrent = reinterpret_cast<HWND>(SendMessageA(v.Sheet(), PSM_GETCURRENTPAGEHWND, 0, 0));
    return std::to_string(v.Page());
  })});
  EXPECT_EQ(Reads(), "1");
  EXPECT_EQ(seenCurrent, current);
}

// ---- Controls -----------------------------------------------------------------------------------------

TEST_F(WinsimWizardTest, AutoRadioButtonsAndCheckBoxesToggleAndNotify) {
  auto state = [](WizardView& v) {
    std::string r;
    for (int id : {102, 103, 104, 105}) r += v.Checked(id) ? "1" : "0";
    return r;
  };
  pages.onNotify = [](HWND page, int index, UINT code) {
    if (index == 0 && code == PSN_SETACTIVE) CheckRadioButton(page, 102, 103, 102);
  };
  Run({Read(state), UserAction::Click(103), Read(state), UserAction::Click(104), UserAction::Click(105), Read(state),
       UserAction::Click(104), Read(state)});
  EXPECT_EQ(Reads(), "1000; 0100; 0110; 0100");
  EXPECT_NE(Seen().find("command 103 0; command 104 0; command 104 0"), std::string::npos) << Seen();
  EXPECT_NE(m().journal().IndexOf("WizardUser", {"0", "Click 105", "refused: disabled"}), -1);
}

TEST_F(WinsimWizardTest, TemplateControlsKeepTheirTextsStylesAndPixelRectangles) {
  RECT r{};
  Run({UserAction::Inspect([&](WizardView& v) {
    r = m().WindowRectInParent(v.Control(101));
    reads.push_back(v.Text(101));
    reads.push_back(v.Caption());
  })});
  EXPECT_EQ(Reads(), "Step 1 of 3; VORTAN FTP Setup");
  // LTEXT at 40, 7, 160 x 8 dialog units: 6 x 13 pixels per 4 x 8 units.
  EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right, r.bottom}), (std::vector<LONG>{60, 11, 300, 24}));
  EXPECT_NE(m().journal().IndexOf("DialogIcon", {"#1001", "100", "#2001", "found"}), -1);
}

TEST_F(WinsimWizardTest, TheSheetCanBeCentredOnTheScreen) {
  RECT before{}, after{};
  POINT p{0, 0};
  Run({UserAction::Inspect([&](WizardView& v) {
    before = v.SheetRect();
    int w = before.right - before.left, h = before.bottom - before.top;
    SetWindowPos(v.Sheet(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    after = v.SheetRect();
    p = POINT{after.left + 5, after.top + 7};
    ScreenToClient(v.Sheet(), &p);
  })});
  // The largest page is 230 x 130 units (345 x 211 pixels); 7-unit margins
  // (11 pixels), a 2-pixel line and a 14-unit (23-pixel) button row.
  EXPECT_EQ((std::vector<LONG>{before.left, before.top, before.right, before.bottom}),
            (std::vector<LONG>{0, 0, 367, 280}));
  EXPECT_EQ((std::vector<LONG>{after.left, after.top}), (std::vector<LONG>{328, 244}));
  EXPECT_EQ((std::vector<LONG>{p.x, p.y}), (std::vector<LONG>{5, 7}));
}

TEST_F(WinsimWizardTest, SortedComboBoxesAndTypedTexts) {
  pages.buttons = {{0, PSWIZB_NEXT}};
  pages.onNotify = [](HWND page, int index, UINT code) {
    if (index != 1 || code != PSN_SETACTIVE) return;
    for (const char* t : {"beta", "Alpha", "gamma", "alpha2"}) SendDlgItemMessageA(page, 202, CB_ADDSTRING, 0, (LPARAM)t);
    SendDlgItemMessageA(page, 201, EM_LIMITTEXT, 5, 0);
  };
  std::string comboText;
  Run({UserAction::Press(WizButton::Next), UserAction::Type(202, "C:\\Apps"), UserAction::Type(201, "1234567"),
       UserAction::Inspect([&](WizardView& v) {
         char buf[64];
         GetDlgItemTextA(v.PageWindow(), 202, buf, sizeof buf);
         comboText = buf;
         std::string items;
         for (auto& i : v.Items(202)) items += i + ",";
         reads.push_back(items);
         reads.push_back(v.Text(201));
       })});
  EXPECT_EQ(comboText, "C:\\Apps");
  EXPECT_EQ(Reads(), "Alpha,alpha2,beta,gamma,; 12345");
}

TEST_F(WinsimWizardTest, DisabledAndHiddenControlsRefuseInput) {
  pages.onNotify = [](HWND page, int index, UINT code) {
    if (index != 0 || code != PSN_SETACTIVE) return;
    EnableWindow(GetDlgItem(page, 102), FALSE);
    ShowWindow(GetDlgItem(page, 106), SW_HIDE);
  };
  Run({UserAction::Click(102), UserAction::Click(106), UserAction::Click(999)});
  EXPECT_NE(m().journal().IndexOf("WizardUser", {"0", "Click 102", "refused: disabled"}), -1);
  EXPECT_NE(m().journal().IndexOf("WizardUser", {"0", "Click 106", "refused: hidden"}), -1);
  EXPECT_NE(m().journal().IndexOf("WizardUser", {"0", "Click 999", "refused: no such control"}), -1);
}

TEST_F(WinsimWizardTest, TheRichEditKeepsItsLimitAndFont) {
  ASSERT_NE(LoadLibraryA("riched20.dll"), nullptr);
  HWND page = m().CreateTestWindow(300, 200);
  HWND re = CreateWindowExA(0, "RichEdit20A", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, page,
                            reinterpret_cast<HMENU>(static_cast<intptr_t>(401)), nullptr, nullptr);
  ASSERT_NE(re, nullptr);
  std::string big(40000, 'x');
  SetWindowTextA(re, big.c_str());
  EXPECT_EQ(m().WindowText(re).size(), 32767u);
  SendMessageA(re, EM_EXLIMITTEXT, 0, 100);
  SendMessageA(re, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(big.c_str()));
  EXPECT_EQ(m().WindowText(re).size(), 100u);
  SendMessageA(re, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  EXPECT_EQ(m().FontOf(re), reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)));
  EXPECT_EQ(Last("CreateWindow").substr(0, 11), "RichEdit20A");
}

TEST_F(WinsimWizardTest, ExtendedTemplatesMakeTheirControlsToo) {
  pages.results[{0, PSN_WIZNEXT}] = {1003};
  Run({UserAction::Press(WizButton::Next), UserAction::Click(302), Read([](WizardView& v) {
         return v.Text(301) + "/" + (v.Checked(302) ? "checked" : "unchecked");
       })});
  EXPECT_EQ(Reads(), "Last step/checked");
}

}  // namespace

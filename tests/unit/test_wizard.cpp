// The interactive road: the five wizard pages as the compiled resources lay
// them out, driven by a scripted user, with the installation or removal run
// from their Finish.
#include "fixture.h"

#include "wizard/wizard.h"

#include <algorithm>

#ifdef SETUP_RES_PATH

namespace {

using namespace fixture;
using winsim::UserAction;
using winsim::WizardView;
using winsim::WizButton;

const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(0x400000);

UserAction Next() { return UserAction::Press(WizButton::Next); }
UserAction Back() { return UserAction::Press(WizButton::Back); }
UserAction Finish() { return UserAction::Press(WizButton::Finish); }
UserAction Cancel() { return UserAction::Press(WizButton::Cancel); }
UserAction Click(int id) { return UserAction::Click(id); }
UserAction Type(int id, const std::string& text) { return UserAction::Type(id, text); }
UserAction See(std::function<void(WizardView&)> f) { return UserAction::Inspect(std::move(f)); }

class WizardTest : public SetupTest {
 protected:
  void SetUp() override { Use(WindowsVersion::XP); }
  void Use(WindowsVersion version) {
    ResetWizardState();
    FreshMachine(version);
    std::string why;
    ASSERT_TRUE(m().LoadResourceFile(SETUP_RES_PATH, kInstance, &why)) << why;
    WriteIni("");
  }
  void TearDown() override { ResetWizardState(); }
  void Run(std::vector<UserAction> steps) {
    m().ScriptWizard(std::move(steps));
    RunSetup();
    EXPECT_EQ(m().UnusedWizardActions(), 0u) << m().journal().Dump();
  }
  // The whole installation road with both launches unchecked.
  std::vector<UserAction> InstallRoad(const std::string& dir = "D:\\Apps\\FTP") {
    return {Next(), Click(IDC_AGREE_YES), Next(), Type(IDC_INSTALL_DIR, dir), Next(), Next(),
            Click(IDC_LAUNCH_HELP), Click(IDC_LAUNCH_PROGRAM), Finish()};
  }
};

// ---- Roads -----------------------------------------------------------------

TEST_F(WizardTest, InstallsThroughTheFivePagesWithBackOnEachLaterPage) {
  Run({Next(), Click(IDC_AGREE_YES), Back(), Next(), Next(), Back(), Next(), Type(IDC_INSTALL_DIR, "D:\\Apps\\FTP"),
       Next(), Back(), Next(), Type(IDC_GROUP_NAME, "My Tools"), Next(), Back(), Next(), Finish()});
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_EQ(FileText("D:\\Apps\\FTP\\QXFTP.EXE"), fixture::ProgramContent("QXFTP.EXE"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, "Program Group"), "My Tools");
  EXPECT_NE(m().progman().FindGroup("My Tools"), nullptr);
  ASSERT_FALSE(boxes().empty());
  EXPECT_EQ(boxes().back().text, "VORTAN FTP installation completed successfully.");
  // Both launch boxes stayed checked: the guide, then the program.
  ASSERT_EQ(m().processes().size(), 2u);
  EXPECT_NE(m().processes()[0].commandLine.find("HH.EXE\" D:\\Apps\\FTP\\qxftp.chm"), std::string::npos);
  EXPECT_EQ(m().processes()[1].commandLine, "\"D:\\Apps\\FTP\\QXFTP.EXE\"");
}

TEST_F(WizardTest, ProgressBarLivesOnTheLastPage) {
  HWND lastPage = nullptr;
  auto road = InstallRoad();
  road.insert(road.end() - 1, See([&](WizardView& v) { lastPage = v.PageWindow(); }));
  Run(road);
  // The bar went with its page when the sheet closed; the journal keeps it.
  int created = m().journal().IndexWhere([](const winsim::Event& e) {
    return e.kind == "CreateWindow" && !e.fields.empty() && e.fields[0] == "msctls_progress32";
  });
  ASSERT_GE(created, 0);
  EXPECT_EQ(m().journal().events()[created].fields[7], winsim::Machine::WindowTag(lastPage));
  int steps = 0;
  for (const auto& e : m().journal().OfKind("Progress")) steps += e.fields.size() > 1 && e.fields[1] == "PBM_STEPIT";
  EXPECT_EQ(steps, 100) << "group and items made: the bar ends at 100";
  EXPECT_TRUE(m().processes().empty()) << "both launch boxes were unchecked";
}

TEST_F(WizardTest, CancelOnAnyPageInstallsAndLaunchesNothing) {
  for (int page = 0; page < 5; ++page) {
    Use(WindowsVersion::XP);
    std::vector<UserAction> steps = {Next(), Click(IDC_AGREE_YES), Next(), Next(), Next()};
    steps.resize(page == 0 ? 0 : (page == 1 ? 1 : page + 1));
    steps.push_back(Cancel());
    Run(steps);
    EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey)) << "page " << page + 1;
    EXPECT_TRUE(m().processes().empty()) << "page " << page + 1;
    EXPECT_TRUE(boxes().empty()) << "page " << page + 1;
  }
}

TEST_F(WizardTest, UninstallFromPageOneRemovesAndCloses) {
  WriteIni(QuietIni());
  RunSetup();
  ResetSetupState();
  ResetWizardState();
  WriteIni("");
  HWND page1 = nullptr;
  size_t before = boxes().size();
  Run({Click(IDC_UNINSTALL), See([&](WizardView& v) {
         page1 = v.PageWindow();
         EXPECT_EQ(v.Text(IDC_STEP_LABEL), "1-1");
         EXPECT_TRUE(v.CanPress(WizButton::Finish));
         EXPECT_FALSE(v.CanPress(WizButton::Next));
         EXPECT_TRUE(v.Visible(IDC_UNINSTALL_TEXT));
         EXPECT_FALSE(v.Visible(IDC_INSTALL_TEXT));
       }),
       Finish()});
  EXPECT_EQ(setupState.setupType, 3);
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey));
  ASSERT_GT(boxes().size(), before);
  for (size_t i = before; i < boxes().size(); ++i) EXPECT_EQ(boxes()[i].owner, winsim::Machine::WindowTag(page1));
  EXPECT_TRUE(m().processes().empty()) << "nothing is launched after a removal";
}

TEST_F(WizardTest, UninstallWithNothingInstalledStaysOnPageOneInUninstallMode) {
  Run({Click(IDC_UNINSTALL), Finish(), See([](WizardView& v) {
         EXPECT_TRUE(v.Open());
         EXPECT_EQ(v.Page(), 0);
         EXPECT_EQ(v.Text(IDC_STEP_LABEL), "1-1");
         EXPECT_TRUE(v.CanPress(WizButton::Finish));
       }),
       Click(IDC_INSTALL), Next(), See([](WizardView& v) { EXPECT_EQ(v.Page(), 1); }), Cancel()});
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Unable to locate VORTAN FTP in the Registry.");
  EXPECT_NE(boxes()[0].owner, "NULL");
}

TEST_F(WizardTest, FailedSheetShowsTheCommonControlsError) {
  m().faults.propertySheet = true;
  RunSetup();
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].caption, "Windows Common Controls Error");
  EXPECT_TRUE(m().processes().empty());
}

TEST_F(WizardTest, RichEditLibraryComesFromTheSystemDirectoryAndIsFreed) {
  m().PlantSimDll("C:\\dist\\riched20.dll");
  Run({Cancel()});
  auto loads = Events("LoadLibrary");
  ASSERT_FALSE(loads.empty());
  bool systemLoad = false;
  for (const auto& load : loads) {
    EXPECT_EQ(load.find("C:\\dist"), std::string::npos) << load;
    systemLoad |= load.find("RICHED20.DLL") != std::string::npos || load.find("riched20.dll") != std::string::npos;
  }
  EXPECT_TRUE(systemLoad);
  EXPECT_EQ(m().outstanding().modules, 0);
}

// ---- Frame -------------------------------------------------------------------

TEST_F(WizardTest, StepLabelsAndButtonsPerPage) {
  struct Seen {
    std::string label;
    DWORD buttons;
  };
  std::vector<Seen> seen;
  auto look = See([&](WizardView& v) { seen.push_back({v.Text(IDC_STEP_LABEL), v.WizButtons()}); });
  Run({look, Next(), look, Click(IDC_AGREE_YES), look, Next(), look, Next(), look, Next(), look, Cancel()});
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[0].label, "1-5");
  EXPECT_EQ(seen[0].buttons, static_cast<DWORD>(PSWIZB_NEXT));
  EXPECT_EQ(seen[1].label, "2-5");
  EXPECT_EQ(seen[1].buttons, static_cast<DWORD>(PSWIZB_BACK));
  EXPECT_EQ(seen[2].buttons, static_cast<DWORD>(PSWIZB_BACK | PSWIZB_NEXT));
  EXPECT_EQ(seen[3].label, "3-5");
  EXPECT_EQ(seen[4].label, "4-5");
  EXPECT_EQ(seen[5].label, "5-5");
  EXPECT_EQ(seen[5].buttons, static_cast<DWORD>(PSWIZB_BACK | PSWIZB_FINISH));
}

TEST_F(WizardTest, SheetIsCentredOnlyTheFirstTime) {
  RECT first = {};
  Run({See([&](WizardView& v) { first = v.SheetRect(); }), Next(), Back(), Cancel()});
  int width = first.right - first.left;
  int height = first.bottom - first.top;
  EXPECT_EQ(first.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(first.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
  int moves = 0;
  for (const auto& e : Events("SetWindowPos")) moves += e.find(winsim::Machine::WindowTag(sheetWindow)) == 0;
  EXPECT_LE(moves, 1) << "returning to page 1 does not move the sheet";
}

// ---- Agreement -----------------------------------------------------------------

TEST_F(WizardTest, AgreementVariantFollowsTheWindowsVersion) {
  struct Case {
    WindowsVersion version;
    bool plain;
  };
  for (Case c : {Case{WindowsVersion::Win95, true}, Case{WindowsVersion::NT4, true},
                 Case{WindowsVersion::Win98, false}, Case{WindowsVersion::Win2000, false}}) {
    Use(c.version);
    std::string text;
    WPARAM font = 0;
    long limit = 0;
    Run({Next(), See([&](WizardView& v) {
           text = v.Text(IDC_AGREEMENT);
           font = m().FontOf(v.Control(IDC_AGREEMENT));
           limit = m().TextLimit(v.Control(IDC_AGREEMENT));
         }),
         Cancel()});
    ASSERT_FALSE(text.empty()) << static_cast<int>(c.version);
    EXPECT_EQ(text.rfind("{\\rtf", 0) == 0, !c.plain) << static_cast<int>(c.version);
    EXPECT_EQ(font == reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), c.plain);
    EXPECT_EQ(limit, 265535);
    // Both temporary files are gone again.
    for (const auto& name : m().List(m().TempDir()))
      EXPECT_EQ(name.find("qxsla"), std::string::npos) << name;
  }
}

TEST_F(WizardTest, NextOnlyAfterYesAndNoWithdrawsIt) {
  Run({Next(), See([](WizardView& v) {
         EXPECT_TRUE(v.Checked(IDC_AGREE_NO));
         EXPECT_FALSE(v.CanPress(WizButton::Next));
       }),
       Click(IDC_AGREE_YES), See([](WizardView& v) { EXPECT_TRUE(v.CanPress(WizButton::Next)); }),
       Click(IDC_AGREE_NO), See([](WizardView& v) { EXPECT_FALSE(v.CanPress(WizButton::Next)); }),
       Click(IDC_AGREE_YES), Next(), Back(), See([](WizardView& v) { EXPECT_TRUE(v.CanPress(WizButton::Next)); }),
       Cancel()});
}

TEST_F(WizardTest, WithoutTheRichEditLibraryYesOffersNextOnlyOnTheNextVisit) {
  m().RemoveSystemModule("riched20.dll");
  Run({Next(), Click(IDC_AGREE_YES), See([](WizardView& v) {
         EXPECT_FALSE(v.CanPress(WizButton::Next));
         EXPECT_EQ(v.Control(IDC_AGREEMENT), nullptr);
       }),
       Back(), Next(), See([](WizardView& v) { EXPECT_TRUE(v.CanPress(WizButton::Next)); }), Cancel()});
}

TEST_F(WizardTest, UnwritableTemporaryDirectoryLeavesTheAgreementEmpty) {
  // Another program holds the packed file's name without sharing.
  m().WriteText(m().TempDir() + "qxsla.rt_", "busy");
  int hold = m().Hold(m().TempDir() + "qxsla.rt_");
  Run({Next(), See([](WizardView& v) { EXPECT_EQ(v.Text(IDC_AGREEMENT), ""); }), Click(IDC_AGREE_YES), Next(),
       Cancel()});
  m().Release(hold);
  EXPECT_FALSE(m().Exists(m().TempDir() + "qxsla.rtf"));
}

TEST_F(WizardTest, AnExpandedAgreementThatCannotBeOpenedIsNotLeftBehind) {
  m().faults.failCall = winsim::Faults::CallFailure{"CreateFileA", 2, 1};  // the second: opening the expanded text
  Run({Next(), See([](WizardView& v) { EXPECT_EQ(v.Text(IDC_AGREEMENT), ""); }), Cancel()});
  ASSERT_EQ(Events("FailedCall").size(), 1u);
  EXPECT_NE(Events("FailedCall")[0].find("qxsla.rtf"), std::string::npos) << Events("FailedCall")[0];
  EXPECT_FALSE(m().Exists(m().TempDir() + "qxsla.rtf"));
  EXPECT_FALSE(m().Exists(m().TempDir() + "qxsla.rt_"));
}

// ---- Directories -------------------------------------------------------------------

TEST_F(WizardTest, PersonalFolderBindingFillsAndLocksTheWorkingDirectory) {
  // A fresh installation starts bound to the personal folder.
  std::string personal = m().ShellFolder(CSIDL_PERSONAL);
  auto bound = [&](WizardView& v) {
    EXPECT_TRUE(v.Checked(IDC_USE_PERSONAL));
    EXPECT_EQ(v.Text(IDC_WORKING_DIR), personal + "\\FTP");
    EXPECT_FALSE(v.Enabled(IDC_WORKING_DIR));
    EXPECT_FALSE(v.Enabled(IDC_BROWSE_WORKING));
    EXPECT_FALSE(v.Enabled(IDC_USE_COMMON));
  };
  Run({Next(), Click(IDC_AGREE_YES), Next(), See(bound), Type(IDC_INSTALL_DIR, "D:\\Shown"), Click(IDC_USE_PERSONAL),
       See([&](WizardView& v) {
         EXPECT_EQ(v.Text(IDC_WORKING_DIR), "D:\\Shown") << "the installation directory as shown";
         EXPECT_TRUE(v.Enabled(IDC_WORKING_DIR));
         EXPECT_TRUE(v.Enabled(IDC_USE_COMMON));
       }),
       Click(IDC_USE_PERSONAL), See(bound), Click(IDC_USE_PERSONAL), Click(IDC_USE_COMMON),
       See([](WizardView& v) { EXPECT_FALSE(v.Enabled(IDC_USE_PERSONAL)); }), Next(), Cancel()});
  EXPECT_EQ(setupState.workingDirType, 2);
  EXPECT_EQ(std::string(setupState.workingDir), m().ShellFolder(CSIDL_COMMON_DOCUMENTS) + "\\FTP");
  EXPECT_STREQ(setupState.installDir, "D:\\Shown");
}

TEST_F(WizardTest, CommonFolderBindingUndoneUnlocksTheWorkingDirectoryAndSurvivesBack) {
  std::string common = m().ShellFolder(CSIDL_COMMON_DOCUMENTS) + "\\FTP";
  auto boundToCommon = [&](WizardView& v) {
    EXPECT_TRUE(v.Checked(IDC_USE_COMMON));
    EXPECT_FALSE(v.Enabled(IDC_USE_PERSONAL));
    EXPECT_TRUE(v.Enabled(IDC_USE_COMMON));
    EXPECT_EQ(v.Text(IDC_WORKING_DIR), common);
    EXPECT_FALSE(v.Enabled(IDC_WORKING_DIR));
  };
  Run({Next(), Click(IDC_AGREE_YES), Next(), Type(IDC_INSTALL_DIR, "D:\\Shown"), Click(IDC_USE_PERSONAL),
       Click(IDC_USE_COMMON), See(boundToCommon), Back(), Next(), See(boundToCommon), Click(IDC_USE_COMMON),
       See([](WizardView& v) {
         EXPECT_FALSE(v.Checked(IDC_USE_COMMON));
         EXPECT_TRUE(v.Enabled(IDC_USE_PERSONAL));
         EXPECT_TRUE(v.Enabled(IDC_WORKING_DIR));
         EXPECT_EQ(v.Text(IDC_WORKING_DIR), "D:\\Shown") << "the installation directory as shown";
       }),
       Next(), Cancel()});
  EXPECT_EQ(setupState.workingDirType, 0);
  EXPECT_STREQ(setupState.workingDir, "D:\\Shown");
}

// Code page 932: "ソ" is 0x83 0x5C, a trail byte that is no backslash.
TEST_F(WizardTest, FolderEndingInATrailByte5CIsJoinedWithASeparator) {
  const std::string so = "\x83\x5C";
  m().SetAnsiCodePage(932);
  m().SetShellFolder(CSIDL_PERSONAL, "C:\\Docs\\" + so);
  Run({Next(), Click(IDC_AGREE_YES), Next(),
       See([&](WizardView& v) { EXPECT_EQ(v.Text(IDC_WORKING_DIR), "C:\\Docs\\" + so + "\\FTP"); }), Cancel()});
}

TEST_F(WizardTest, TypedDirectoryWithTrailBytes5CIsInstalledInto) {
  const std::string dir = "D:\\" + std::string("\x95\x5C") + "\\" + std::string("\x83\x5C");
  m().SetAnsiCodePage(932);
  Run(InstallRoad(dir));
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_EQ(FileText(dir + "\\QXFTP.EXE"), fixture::ProgramContent("QXFTP.EXE"));
  EXPECT_FALSE(m().Exists("D:\\\x95")) << "no directory of a lead byte alone";
}

TEST_F(WizardTest, CommonFolderIsNeverUsableBeforeWindows2000) {
  Use(WindowsVersion::Win98);
  Run({Next(), Click(IDC_AGREE_YES), Next(), See([](WizardView& v) { EXPECT_FALSE(v.Enabled(IDC_USE_COMMON)); }),
       Click(IDC_USE_PERSONAL), See([](WizardView& v) { EXPECT_FALSE(v.Enabled(IDC_USE_COMMON)); }), Back(), Next(),
       See([](WizardView& v) {
         EXPECT_FALSE(v.Enabled(IDC_USE_COMMON)) << "nor when the page is entered again unbound";
         EXPECT_TRUE(v.Enabled(IDC_USE_PERSONAL));
       }),
       Click(IDC_USE_PERSONAL), See([](WizardView& v) { EXPECT_FALSE(v.Enabled(IDC_USE_COMMON)); }), Cancel()});
}

TEST_F(WizardTest, BrowseFillsTheEditAndCancelLeavesIt) {
  m().ScriptBrowseForFolder(std::string("E:\\Picked"));
  Run({Next(), Click(IDC_AGREE_YES), Next(), Click(IDC_USE_PERSONAL), Click(IDC_BROWSE_INSTALL),
       See([&](WizardView&) { m().ScriptBrowseForFolder(std::nullopt); }), Click(IDC_BROWSE_WORKING),
       See([](WizardView& v) {
         EXPECT_EQ(v.Text(IDC_INSTALL_DIR), "E:\\Picked");
         EXPECT_NE(v.Text(IDC_WORKING_DIR), "E:\\Picked");
       }),
       Cancel()});
  EXPECT_EQ(m().outstanding().pidls, 0);
}

TEST_F(WizardTest, BindingThatWouldNotFitChangesNothing) {
  // A personal folder of 256 characters: plus "\FTP" it is no path.
  std::string longFolder = "D:\\" + std::string(253, 'p');
  m().SetShellFolder(CSIDL_PERSONAL, longFolder);
  m().SetShellFolder(CSIDL_COMMON_DOCUMENTS, longFolder);
  auto unbound = [](WizardView& v) {
    EXPECT_FALSE(v.Checked(IDC_USE_PERSONAL));
    EXPECT_FALSE(v.Checked(IDC_USE_COMMON));
    EXPECT_EQ(v.Text(IDC_WORKING_DIR), "D:\\Typed");
    EXPECT_TRUE(v.Enabled(IDC_WORKING_DIR));
    EXPECT_TRUE(v.Enabled(IDC_BROWSE_WORKING));
  };
  // The fresh installation is bound to the personal folder: unbind it first.
  Run({Next(), Click(IDC_AGREE_YES), Next(), Click(IDC_USE_PERSONAL), Type(IDC_WORKING_DIR, "D:\\Typed"),
       Click(IDC_USE_PERSONAL), See(unbound), Click(IDC_USE_COMMON), See(unbound), Next(), Cancel()});
  EXPECT_EQ(setupState.workingDirType, 0);
  EXPECT_STREQ(setupState.workingDir, "D:\\Typed");
}

TEST_F(WizardTest, FolderPickerIsOwnedByThePageAndTheSheetWaits) {
  m().ScriptBrowseForFolder(std::string("E:\\Picked"));
  HWND sheet = nullptr, page = nullptr;
  std::vector<bool> sheetEnabledDuringPicker;
  m().onBrowseForFolder = [&] { sheetEnabledDuringPicker.push_back(m().IsEnabledWindow(sheet)); };
  Run({Next(), Click(IDC_AGREE_YES), Next(), See([&](WizardView& v) {
         sheet = v.Sheet();
         page = v.PageWindow();
       }),
       Click(IDC_BROWSE_INSTALL), See([](WizardView& v) {
         EXPECT_EQ(v.Text(IDC_INSTALL_DIR), "E:\\Picked");
         EXPECT_TRUE(v.CanPress(WizButton::Next)) << "live again once the picker has closed";
       }),
       Cancel()});
  EXPECT_EQ(sheetEnabledDuringPicker, std::vector<bool>{false});
  auto events = m().journal().OfKind("SHBrowseForFolder");
  ASSERT_EQ(events.size(), 1u);
  ASSERT_EQ(events[0].fields.size(), 5u);
  EXPECT_EQ(events[0].fields[3], winsim::Machine::WindowTag(page));
  EXPECT_EQ(events[0].fields[4], "owner disabled");
}

TEST_F(WizardTest, OverLongDirectoriesAreCutAt259) {
  Run({Next(), Click(IDC_AGREE_YES), Next(), Type(IDC_INSTALL_DIR, "D:\\" + std::string(400, 'x')), Next(),
       Cancel()});
  EXPECT_EQ(std::strlen(setupState.installDir), 259u);
}

// ---- Program group -----------------------------------------------------------------

TEST_F(WizardTest, GroupListComesFromProgramManagerAndAnExistingGroupIsShown) {
  m().progman().Execute("[CreateGroup(Zeta)][CreateGroup(VORTAN FTP)][CreateGroup(Accessories)]");
  Run({Next(), Click(IDC_AGREE_YES), Next(), Next(), See([](WizardView& v) {
         EXPECT_EQ(v.Items(IDC_GROUP_NAME), (std::vector<std::string>{"Accessories", "StartUp", "VORTAN FTP", "Zeta"}));
         EXPECT_EQ(v.Text(IDC_GROUP_NAME), "VORTAN FTP");
       }),
       Type(IDC_GROUP_NAME, "vortan ftp"), Next(), Click(IDC_LAUNCH_HELP), Click(IDC_LAUNCH_PROGRAM), Finish()});
  auto commands = DdeCommands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands[0], "[ShowGroup(vortan ftp,1)]") << "listed in another letter case: shown, not created";
}

TEST_F(WizardTest, GroupListFailureShowsTheDdeError) {
  m().faults.noProgmanService = true;
  Run({Next(), Click(IDC_AGREE_YES), Next(), Next(),
       See([](WizardView& v) {
         EXPECT_TRUE(v.Items(IDC_GROUP_NAME).empty());
         EXPECT_EQ(v.Text(IDC_GROUP_NAME), "VORTAN FTP");
       }),
       Cancel()});
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "DDE Error = 400A");
  EXPECT_EQ(boxes()[0].caption, "Unable to Load Program Groups");
}

TEST_F(WizardTest, StrangeGroupRepliesAreListedSafely) {
  m().faults.groupsReply = std::string("A\r\n\n\n\r\nB\r\nA\r\n") + std::string(5000, 'x');
  Run({Next(), Click(IDC_AGREE_YES), Next(), Next(),
       See([](WizardView& v) { EXPECT_EQ(v.Items(IDC_GROUP_NAME).size(), 5u); }), Cancel()});
}

TEST_F(WizardTest, GroupAndShortcutChoicesAreStored) {
  WriteIni("[Program Group]\r\nUseGroup=N\r\n");
  Run({Next(), Click(IDC_AGREE_YES), Next(), Next(),
       See([](WizardView& v) {
         EXPECT_FALSE(v.Checked(IDC_USE_GROUP));
         EXPECT_FALSE(v.Enabled(IDC_GROUP_NAME));
       }),
       Click(IDC_USE_GROUP), Click(IDC_USE_GROUP),
       See([](WizardView& v) { EXPECT_FALSE(v.Enabled(IDC_GROUP_NAME)) << "unchecked again, the name is greyed again"; }),
       Click(IDC_USE_GROUP), Click(IDC_DESKTOP_SHORTCUT), Type(IDC_GROUP_NAME, std::string(80, 'g')), Next(),
       Cancel()});
  EXPECT_EQ(setupState.useGroup, 1);
  EXPECT_EQ(setupState.createDesktopShortcut, 0);
  EXPECT_EQ(std::string(setupState.groupName), std::string(63, 'g'));
}

TEST_F(WizardTest, QuietKeysCompleteSuppressTheFinalBoxAlsoInTheWizard) {
  WriteIni("[FTPSetup]\r\nDestinationDir=D:\\Q\r\n[Program Group]\r\nUseGroup=Y\r\nGroupName=G\r\nShortCut=N\r\n");
  Run({Next(), Click(IDC_AGREE_YES), Next(), Next(), Next(), Click(IDC_LAUNCH_HELP), Click(IDC_LAUNCH_PROGRAM),
       Finish()});
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(WizardTest, NothingIsLaunchedAfterAFailedInstallation) {
  m().RemoveTree("C:\\dist\\UNINS.EX_");
  Run({Next(), Click(IDC_AGREE_YES), Next(), Next(), Next(), Finish()});
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_TRUE(m().processes().empty());
}

TEST_F(WizardTest, FullDiskShowsTheDllBoxThenTheFailureBoxAndLaunchesNothing) {
  m().SetVolumeCapacity("D:\\", 3);
  Run(InstallRoad());
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Setup Error", "VORTAN FTP Install"}));
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].text, "Error code 100 installing QXFTP.DLL.  GetLastError( ) returned 112.");
  EXPECT_EQ(m().List("D:\\"), std::vector<std::string>{"Apps"}) << "nothing at the drive root";
  EXPECT_TRUE(m().processes().empty());
}

}  // namespace

#endif  // SETUP_RES_PATH

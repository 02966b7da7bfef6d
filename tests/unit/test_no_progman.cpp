// No Program Manager DDE server answers (DdeConnect fails): the group and
// its two items become a folder of the user's Programs folder with link
// files, recorded as "Program Group Folder", and the removal takes the links
// and, after the group question, the folder. Where DDE answers nothing
// changes.
#include "fixture.h"

namespace {

using namespace fixture;

class NoProgmanTest : public SetupTest, public ::testing::WithParamInterface<WindowsVersion> {
 protected:
  void SetUp() override { FreshMachine(GetParam()); }
  // The product key as the test reads the registry: a 32-bit program's
  // HKLM\Software is HKLM\Software\Wow6432Node on 64-bit Windows.
  std::string ProductKey() const {
    return GetParam() == WindowsVersion::Win10x64 ? "Software\\Wow6432Node\\VORTAN\\FTP" : kKey;
  }
  std::string Group() const { return m().ShellFolder(CSIDL_PROGRAMS) + "\\VORTAN FTP"; }
  const winsim::SavedLink* LinkAt(const std::string& path) const {
    for (const auto& link : m().savedLinks())
      if (link.path == path) return &link;
    return nullptr;
  }
};

TEST_P(NoProgmanTest, QuietInstallationMakesTheGroupAsAFolderOfLinksAndTheRemovalTakesIt) {
  m().faults.noProgmanService = true;
  WriteIni(QuietIni());
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1);
  EXPECT_TRUE(boxes().empty());
  EXPECT_TRUE(m().IsDirectory(Group()));
  const auto* program = LinkAt(Group() + "\\VORTAN FTP.lnk");
  const auto* uninstaller = LinkAt(Group() + "\\Uninstall VORTAN FTP.lnk");
  ASSERT_NE(program, nullptr);
  ASSERT_NE(uninstaller, nullptr);
  EXPECT_EQ(program->target, In("QXFTP.EXE"));
  EXPECT_EQ(uninstaller->target, In("UNINS.EXE"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, ProductKey(), "Program Group Folder"), Group());

  ResetSetupState();
  size_t before = boxes().size();
  WriteIni(kRemovalIni);
  RunSetup();
  ASSERT_EQ(boxes().size(), before + 2);
  EXPECT_EQ(boxes()[before].text,
            "All program items in group \"VORTAN FTP\" will be deleted.  Are you sure you want to delete the "
            "program group \"VORTAN FTP\"?");
  EXPECT_FALSE(m().Exists(Group()));
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, ProductKey()));
}

TEST_P(NoProgmanTest, AnsweringNoKeepsTheEmptiedFolder) {
  m().faults.noProgmanService = true;
  InstallQuietly();
  Answer("VORTAN FTP Uninstall", IDNO);
  WriteIni(kRemovalIni);
  RunSetup();
  EXPECT_TRUE(m().IsDirectory(Group()));
  EXPECT_TRUE(m().List(Group()).empty()) << "the items go either way";
}

TEST_P(NoProgmanTest, WhereProgramManagerAnswersNothingChanges) {
  WriteIni(QuietIni());
  RunSetup();
  EXPECT_FALSE(m().Exists(Group()));
  EXPECT_FALSE(RegString(HKEY_LOCAL_MACHINE, ProductKey(), "Program Group Folder").has_value());
  EXPECT_FALSE(DdeCommands().empty());
}

INSTANTIATE_TEST_SUITE_P(Editions, NoProgmanTest,
                         ::testing::Values(WindowsVersion::Win98, WindowsVersion::XP, WindowsVersion::Win10x64));

}  // namespace

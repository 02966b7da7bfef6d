// The Program Manager DDE service model: command parsing and quoting, the
// active group, name replacement, and payloads that must fail cleanly.
#include <gtest/gtest.h>

#include <winsim/machine.h>
#include <winsim/progman.h>

#include <set>
#include <string>

namespace {

// A Progman whose file system holds the given programs (exact paths).
winsim::Progman WithPrograms(std::set<std::string> programs = {"C:\\VORTAN\\QXFTP.EXE"}) {
  winsim::Progman pm;
  pm.targetExists = [programs](const std::string& path) { return programs.count(path) > 0; };
  return pm;
}

// "Group: item, item | Group: ..." in creation order, "*" marking the
// active group.
std::string State(const winsim::Progman& pm) {
  std::string s;
  for (const auto& g : pm.groups) {
    if (!s.empty()) s += " | ";
    s += g.name + (g.name == pm.activeGroup ? "*" : "") + ":";
    for (size_t i = 0; i < g.items.size(); ++i) s += (i ? ", " : " ") + g.items[i].name;
  }
  return s;
}

void ExpectRun(winsim::Progman& pm, const std::string& payload, bool ok, const std::string& state) {
  EXPECT_EQ(ok, pm.Execute(payload)) << "payload " << payload;
  EXPECT_EQ(state, State(pm)) << "after " << payload;
}

// The group names that CreateGroup produced from one payload.
std::string CreatedName(const std::string& payload) {
  winsim::Progman pm;
  if (!pm.Execute(payload)) return "<failed>";
  return pm.groups.empty() ? "<none>" : pm.groups.back().name;
}

bool Runs(const std::string& payload) {
  winsim::Progman pm = WithPrograms();
  return pm.Execute(payload);
}

}  // namespace

// --- Argument parsing ----------------------------------------------------------

TEST(ProgmanParsing, UnquotedArgumentEndsAtComma) { EXPECT_EQ("A", CreatedName("[CreateGroup(A,B)]")); }
TEST(ProgmanParsing, UnquotedArgumentTrailingBlanksTrimmed) { EXPECT_EQ("VORTAN FTP", CreatedName("[CreateGroup(VORTAN FTP   )]")); }
TEST(ProgmanParsing, LeadingBlanksSkipped) { EXPECT_EQ("Tools", CreatedName("[CreateGroup(   Tools)]")); }
TEST(ProgmanParsing, ParenthesisInUnquotedArgumentFails) { EXPECT_EQ("<failed>", CreatedName("[CreateGroup(Tools (x86))]")); }
TEST(ProgmanParsing, QuotedArgumentKeepsParenthesesAndBlanks) { EXPECT_EQ("Tools (x86) ", CreatedName("[CreateGroup(\"Tools (x86) \")]")); }
TEST(ProgmanParsing, QuotedArgumentKeepsCommaAndBrackets) { EXPECT_EQ("a,b[c]", CreatedName("[CreateGroup(\"a,b[c]\")]")); }
TEST(ProgmanParsing, QuoteHasNoEscape) { EXPECT_EQ("<failed>", CreatedName("[CreateGroup(\"say \"\"hi\"\"\")]")); }
TEST(ProgmanParsing, UnterminatedQuoteFails) { EXPECT_EQ("<failed>", CreatedName("[CreateGroup(\"open)]")); }
TEST(ProgmanParsing, CommandNameIsCaseInsensitive) { EXPECT_EQ("G", CreatedName("[cReAtEgRoUp(G)]")); }
TEST(ProgmanParsing, BlanksAroundTokens) { EXPECT_EQ("G", CreatedName("  [ CreateGroup ( G , 1 ) ]  ")); }
TEST(ProgmanParsing, TextAfterLastCommandIsIgnored) { EXPECT_EQ("G", CreatedName("[CreateGroup(G)] trailing")); }
TEST(ProgmanParsing, NulEndsThePayload) { EXPECT_EQ("G", CreatedName(std::string("[CreateGroup(G)]\0[Bad]", 22))); }

// --- Malformed payloads ---------------------------------------------------------

TEST(ProgmanMalformed, Empty) { EXPECT_FALSE(Runs("")); }
TEST(ProgmanMalformed, OnlyBlanks) { EXPECT_FALSE(Runs("   ")); }
TEST(ProgmanMalformed, NoBracket) { EXPECT_FALSE(Runs("CreateGroup(G)")); }
TEST(ProgmanMalformed, MissingCloseBracket) { EXPECT_FALSE(Runs("[CreateGroup(G)")); }
TEST(ProgmanMalformed, MissingCloseParenthesis) { EXPECT_FALSE(Runs("[CreateGroup(G]")); }
TEST(ProgmanMalformed, OpenBracketOnly) { EXPECT_FALSE(Runs("[")); }
TEST(ProgmanMalformed, EmptyCommand) { EXPECT_FALSE(Runs("[]")); }
TEST(ProgmanMalformed, UnknownCommand) { EXPECT_FALSE(Runs("[FormatDisk(C)]")); }
TEST(ProgmanMalformed, CreateGroupWithoutArgument) { EXPECT_FALSE(Runs("[CreateGroup()]")); }
TEST(ProgmanMalformed, CreateGroupWithoutParentheses) { EXPECT_FALSE(Runs("[CreateGroup]")); }
TEST(ProgmanMalformed, ShowGroupNeedsTwoArguments) { EXPECT_FALSE(Runs("[CreateGroup(G)][ShowGroup(G)]")); }
TEST(ProgmanMalformed, AddItemWithoutArgument) { EXPECT_FALSE(Runs("[CreateGroup(G)][AddItem()]")); }
TEST(ProgmanMalformed, DeleteItemWithoutArgument) { EXPECT_FALSE(Runs("[CreateGroup(G)][DeleteItem()]")); }
TEST(ProgmanMalformed, GroupNamesForTheProgramsFolderItself) {
  EXPECT_FALSE(Runs("[CreateGroup(\"\")]"));
  EXPECT_FALSE(Runs("[CreateGroup(..)]"));
  EXPECT_FALSE(Runs("[DeleteGroup(\"\")]"));
  EXPECT_FALSE(Runs("[DeleteGroup(.)]"));
}
TEST(ProgmanMalformed, ExitProgmanIsAccepted) { EXPECT_TRUE(Runs("[ExitProgman(1)]")); }

// --- Several commands in one payload ------------------------------------------

TEST(ProgmanSequence, RunInOrder) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[CreateGroup(A)][CreateGroup(B)][AddItem(C:\\VORTAN\\QXFTP.EXE,Client)]", true,
            "A: | B*: Client");
}
TEST(ProgmanSequence, StopAtFirstFailure) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[CreateGroup(A)][ShowGroup(Missing,1)][CreateGroup(B)]", false, "A*:");
}
TEST(ProgmanSequence, MalformedLaterCommandStillLetsEarlierOnesRun) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[CreateGroup(A)][CreateGroup(B", false, "A*:");
}

// --- Groups and the active group ------------------------------------------------

TEST(ProgmanGroups, CreateGroupMakesItActiveAndOpensIt) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[CreateGroup(VORTAN FTP)]", true, "VORTAN FTP*:");
  EXPECT_EQ(std::vector<std::string>{"VORTAN FTP"}, pm.openedWindows);
}
TEST(ProgmanGroups, CreateExistingGroupSucceedsKeepsItemsAndName) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(Vortan FTP)][AddItem(C:\\VORTAN\\QXFTP.EXE,Client)][CreateGroup(Other)]"));
  ExpectRun(pm, "[CreateGroup(VORTAN FTP)]", true, "Vortan FTP*: Client | Other:");
  EXPECT_EQ(3u, pm.openedWindows.size());
}
TEST(ProgmanGroups, ShowGroupActivatesExistingGroup) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(A)][CreateGroup(B)]"));
  ExpectRun(pm, "[ShowGroup(a,1)]", true, "A*: | B:");
  EXPECT_EQ((std::vector<std::string>{"A", "B", "A"}), pm.openedWindows);
}
TEST(ProgmanGroups, ShowGroupDoesNotCreate) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[ShowGroup(A,1)]", false, "");
  EXPECT_TRUE(pm.openedWindows.empty());
}
TEST(ProgmanGroups, DeleteGroupRemovesItemsAndClearsActive) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(A)][CreateGroup(B)][AddItem(C:\\VORTAN\\QXFTP.EXE,X)]"));
  ExpectRun(pm, "[DeleteGroup(b)]", true, "A:");
  EXPECT_EQ("", pm.activeGroup);
  ExpectRun(pm, "[CreateGroup(B)]", true, "A: | B*:");
}
TEST(ProgmanGroups, DeleteInactiveGroupKeepsActive) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(A)][CreateGroup(B)]"));
  ExpectRun(pm, "[DeleteGroup(A)]", true, "B*:");
}
TEST(ProgmanGroups, DeleteMissingGroupFails) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[DeleteGroup(A)]", false, "");
}
TEST(ProgmanGroups, FindGroupIgnoresCase) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(VORTAN FTP)]"));
  ASSERT_NE(nullptr, pm.FindGroup("vortan ftp"));
  EXPECT_EQ("VORTAN FTP", pm.FindGroup("vortan ftp")->name);
  EXPECT_EQ(nullptr, pm.FindGroup("VORTAN"));
}
TEST(ProgmanGroups, GroupsReplyListsEachNameWithCrLf) {
  auto pm = WithPrograms();
  EXPECT_EQ("", pm.GroupsReply());
  ASSERT_TRUE(pm.Execute("[CreateGroup(Accessories)][CreateGroup(\"VORTAN FTP\")]"));
  EXPECT_EQ("Accessories\r\nVORTAN FTP\r\n", pm.GroupsReply());
}

// --- Items --------------------------------------------------------------------

TEST(ProgmanItems, AddItemNeedsActiveGroup) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[AddItem(C:\\VORTAN\\QXFTP.EXE,Client)]", false, "");
}
TEST(ProgmanItems, AddItemNeedsExistingProgram) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[CreateGroup(G)][AddItem(C:\\VORTAN\\MISSING.EXE,Client)]", false, "G*:");
}
TEST(ProgmanItems, AddItemWithoutTargetCheckFails) {
  winsim::Progman pm;  // no file system attached: nothing exists
  ExpectRun(pm, "[CreateGroup(G)][AddItem(C:\\VORTAN\\QXFTP.EXE,Client)]", false, "G*:");
}
TEST(ProgmanItems, AddItemKeepsCommandLineAndSplitsProgram) {
  auto pm = WithPrograms({"C:\\Program Files\\VORTAN FTP\\QXFTP.EXE"});
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)][AddItem(\"C:\\Program Files\\VORTAN FTP\\QXFTP.EXE -s Start.qft\",Client)]"));
  const auto& item = pm.groups.at(0).items.at(0);
  EXPECT_EQ("C:\\Program Files\\VORTAN FTP\\QXFTP.EXE -s Start.qft", item.cmdline);
  EXPECT_EQ("C:\\Program Files\\VORTAN FTP\\QXFTP.EXE", item.program);
  EXPECT_EQ("-s Start.qft", item.arguments);
}
TEST(ProgmanItems, CommandLineCannotQuoteItsProgram) {
  // A leading quote makes the whole DDE argument a quoted one, which ends at
  // the inner closing quote: the rest no longer parses.
  auto pm = WithPrograms({"C:\\A B\\X.EXE"});
  ExpectRun(pm, "[CreateGroup(G)][AddItem(\"C:\\A B\\X.EXE\" /q,X)]", false, "G*:");
}
TEST(ProgmanItems, ProgramWithBlanksFoundByDroppingWords) {
  auto pm = WithPrograms({"C:\\A B\\X.EXE"});
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)][AddItem(C:\\A B\\X.EXE /q /r,X)]"));
  EXPECT_EQ("C:\\A B\\X.EXE", pm.groups.at(0).items.at(0).program);
  EXPECT_EQ("/q /r", pm.groups.at(0).items.at(0).arguments);
}
TEST(ProgmanItems, ProgramFoundWithExeAdded) {
  auto pm = WithPrograms({"C:\\VORTAN\\QXFTP.exe"});
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)][AddItem(C:\\VORTAN\\QXFTP)]"));
  EXPECT_EQ("C:\\VORTAN\\QXFTP.exe", pm.groups.at(0).items.at(0).program);
}
TEST(ProgmanItems, ItemNameDefaultsToProgramName) {
  auto pm = WithPrograms();
  ExpectRun(pm, "[CreateGroup(G)][AddItem(C:\\VORTAN\\QXFTP.EXE)]", true, "G*: QXFTP");
}
TEST(ProgmanItems, AddItemGoesToActiveGroupAfterShowGroup) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(A)][CreateGroup(B)]"));
  ExpectRun(pm, "[ShowGroup(A,1)][AddItem(C:\\VORTAN\\QXFTP.EXE,Client)]", true, "A*: Client | B:");
}
TEST(ProgmanItems, AddingSameNameReplaces) {
  auto pm = WithPrograms({"C:\\VORTAN\\QXFTP.EXE", "C:\\VORTAN\\UNINS.EXE"});
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)][AddItem(C:\\VORTAN\\QXFTP.EXE,Client)]"));
  ExpectRun(pm, "[AddItem(C:\\VORTAN\\UNINS.EXE,CLIENT)]", true, "G*: Client");
  EXPECT_EQ("C:\\VORTAN\\UNINS.EXE", pm.groups.at(0).items.at(0).cmdline);
}
TEST(ProgmanItems, DeleteItemRemovesFromActiveGroup) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)][AddItem(C:\\VORTAN\\QXFTP.EXE,Client)][AddItem(C:\\VORTAN\\QXFTP.EXE,Other)]"));
  ExpectRun(pm, "[DeleteItem(client)]", true, "G*: Other");
}
TEST(ProgmanItems, DeleteMissingItemFails) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)]"));
  ExpectRun(pm, "[DeleteItem(Client)]", false, "G*:");
}
TEST(ProgmanItems, DeleteItemWithoutActiveGroupFails) {
  // Windows fails the command; Wine's server crashes instead (recorded by
  // the Wine scenario, not modelled).
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)][AddItem(C:\\VORTAN\\QXFTP.EXE,Client)][DeleteGroup(G)]"));
  ExpectRun(pm, "[DeleteItem(Client)]", false, "");
}
TEST(ProgmanItems, DeleteItemLooksOnlyInActiveGroup) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(A)][AddItem(C:\\VORTAN\\QXFTP.EXE,Client)][CreateGroup(B)]"));
  ExpectRun(pm, "[DeleteItem(Client)]", false, "A: Client | B*:");
}

// --- Name replacement ----------------------------------------------------------

TEST(ProgmanNames, GroupNameCharactersReplaced) { EXPECT_EQ("a_b_c_d_e_f_g_h_i_j", CreatedName("[CreateGroup(\"a*b/c:d<e>f?g\\h|i\tj\")]")); }
TEST(ProgmanNames, ShowAndDeleteGroupUseReplacedName) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(\"A:B\")][CreateGroup(C)]"));
  ExpectRun(pm, "[ShowGroup(\"A:B\",1)]", true, "A_B*: | C:");
  ExpectRun(pm, "[DeleteGroup(\"A:B\")]", true, "C:");
}
TEST(ProgmanNames, ItemNameReplacedOnAddButNotOnDelete) {
  auto pm = WithPrograms();
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)][AddItem(C:\\VORTAN\\QXFTP.EXE,\"FTP: Client?\")]"));
  ExpectRun(pm, "[DeleteItem(\"FTP: Client?\")]", false, "G*: FTP_ Client_");
  ExpectRun(pm, "[DeleteItem(FTP_ Client_)]", true, "G*:");
}
TEST(ProgmanNames, HighCharactersKept) { EXPECT_EQ("Caf\xE9", CreatedName("[CreateGroup(Caf\xE9)]")); }

// --- Double-byte code pages ------------------------------------------------------

// On code page 932 "ソ" is 0x83 0x5C and "ゼ" 0x83 0x5B: trail bytes that look
// like "\" and "[" but belong to their characters, as the shell reads them.
TEST(ProgmanDoubleByte, TrailBytesAreNeitherReplacedNorDelimiters) {
  winsim::Machine machine;
  winsim::CurrentMachine current(machine);
  machine.SetAnsiCodePage(932);
  const std::string so = "\x83\x5C", ze = "\x83\x5B";
  EXPECT_EQ(so + ze, CreatedName("[CreateGroup(" + so + ze + ")]"));
  EXPECT_EQ("a_" + so, CreatedName("[CreateGroup(\"a|" + so + "\")]")) << "a real | is still replaced";
  auto pm = WithPrograms({"C:\\" + so + "\\QXFTP.EXE"});
  ASSERT_TRUE(pm.Execute("[CreateGroup(G)][AddItem(C:\\" + so + "\\QXFTP.EXE,X" + so + ")]"));
  ASSERT_EQ(pm.groups.back().items.size(), 1u);
  EXPECT_EQ(pm.groups.back().items[0].program, "C:\\" + so + "\\QXFTP.EXE");
  EXPECT_EQ(pm.groups.back().items[0].name, "X" + so);
}
TEST(ProgmanDoubleByte, OnCodePage1252TheSameBytesAreReplaced) {
  EXPECT_EQ("\x83_", CreatedName("[CreateGroup(\x83\\)]"));
}

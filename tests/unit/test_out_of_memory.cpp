// Memory running out in the Program Manager conversation: a command that
// cannot be composed is not sent (nor any of its sequence), the step still
// counts on the progress bar, and nothing is left open.
#include "allocation_faults.h"
#include "fixture.h"
#include "wizard/wizard.h"

namespace {

using fixture::AllocationFault;
using fixture::SetupTest;

class OutOfMemoryTest : public SetupTest {
 protected:
  void SetUp() override {
    SeedDistribution();
    StartUp();
    page_ = m().CreateTestWindow(400, 300);
    CreateProgressWindow(page_, 100);
    m().progman().Execute("[CreateGroup(VORTAN FTP)]");
    m().journal().Clear();
  }
  void TearDown() override {
    progressWindow = nullptr;
    groupPageWindow = nullptr;
  }
  int Progress() const { return m().ProgressPos(progressWindow); }
  // Calls call for the group while the first allocation fails, and checks
  // that one did.
  static int WithOneAllocationFailing(int (*call)(const char*), const char* group) {
    AllocationFault fault(1);
    int result = call(group);
    EXPECT_EQ(fault.failures(), 1u);
    return result;
  }
  HWND page_ = nullptr;
};

TEST_F(OutOfMemoryTest, GroupCommandThatCannotBeComposedIsNotSent) {
  EXPECT_EQ(WithOneAllocationFailing(DeleteProgramGroup, "VORTAN FTP"), 0);
  EXPECT_TRUE(Events("DdeInitialize").empty()) << "no conversation for nothing to say";
  EXPECT_NE(m().progman().FindGroup("VORTAN FTP"), nullptr);
  EXPECT_EQ(Progress(), 10);
}

TEST_F(OutOfMemoryTest, ItemRemovalSendsAllOfItsCommandsOrNone) {
  EXPECT_EQ(WithOneAllocationFailing(DeleteProgramItems, "VORTAN FTP"), 0);
  EXPECT_TRUE(DdeCommands().empty()) << "not a ShowGroup without its DeleteItems";
  EXPECT_TRUE(Events("DdeInitialize").empty());
  EXPECT_EQ(Progress(), 20);

  // With memory, the same call sends the whole sequence.
  EXPECT_EQ(DeleteProgramItems("VORTAN FTP"), 1);
  EXPECT_EQ(DdeCommands(), (std::vector<std::string>{"[ShowGroup(VORTAN FTP,1)]", "[DeleteItem(VORTAN FTP)]",
                                                     "[DeleteItem(Uninstall VORTAN FTP)]"}));
  EXPECT_EQ(Progress(), 40);
}

TEST_F(OutOfMemoryTest, GroupsReplyTooLargeToCopyListsNothingAndClosesEverything) {
  const std::string reply = std::string(4 << 20, 'G') + "\r\nVORTAN FTP\r\n";
  m().faults.groupsReply = reply;
  HWND combo = m().AddTestControl(page_, "ComboBox", IDC_GROUP_NAME);
  groupPageWindow = page_;
  {
    // The reply itself exists (the DDE library holds it); a terminated
    // copy of it does not fit.
    AllocationFault fault(reply.size() + reply.size() / 2, AllocationFault::Times::Always);
    EXPECT_EQ(ListProgramGroups(), 1);
    EXPECT_GE(fault.failures(), 1u);
  }
  EXPECT_TRUE(m().ComboItems(combo).empty());
  EXPECT_TRUE(boxes().empty()) << "no DDE error to report";
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

}  // namespace

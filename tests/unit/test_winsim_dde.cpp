// DDEML as a client of the shell's Program Manager: the "Groups" request,
// execute transactions, the failure switches and the handle accounting.
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

HDDEDATA CALLBACK NoCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

class DdeTest : public WinsimTest {
 protected:
  // One client conversation with PROGMAN, released in the right order by Close().
  bool Open() {
    if (DdeInitializeA(&inst_, &NoCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return false;
    progman_ = DdeCreateStringHandleA(inst_, "PROGMAN", CP_WINANSI);
    CONVCONTEXT cc = {};
    cc.cb = sizeof cc;
    conv_ = DdeConnect(inst_, progman_, progman_, &cc);
    return conv_ != nullptr;
  }
  void Close() {
    if (conv_) DdeDisconnect(conv_);
    if (progman_) DdeFreeStringHandle(inst_, progman_);
    if (inst_) DdeUninitialize(inst_);
    conv_ = nullptr;
    progman_ = nullptr;
    inst_ = 0;
  }
  // Sends one command as a data handle; "ok" or the DMLERR code in hex.
  std::string Execute(const std::string& command) {
    HDDEDATA data = DdeCreateDataHandle(inst_, reinterpret_cast<LPBYTE>(const_cast<char*>(command.c_str())),
                                        static_cast<DWORD>(command.size() + 1), 0, nullptr, CF_TEXT, 0);
    HDDEDATA r = DdeClientTransaction(reinterpret_cast<LPBYTE>(data), 0xFFFFFFFF, conv_, nullptr, 0, XTYP_EXECUTE,
                                      10000, nullptr);
    if (r) return "ok";
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", DdeGetLastError(inst_));
    return buf;
  }
  // The bytes of the "Groups" reply ("<none>" when the request fails).
  std::string Groups() {
    HSZ item = DdeCreateStringHandleA(inst_, "Groups", CP_WINANSI);
    HDDEDATA data = DdeClientTransaction(nullptr, 0, conv_, item, CF_TEXT, XTYP_REQUEST, 1000, nullptr);
    DdeFreeStringHandle(inst_, item);
    if (!data) return "<none>";
    DWORD size = 0;
    LPBYTE p = DdeAccessData(data, &size);
    std::string r(reinterpret_cast<const char*>(p), size);
    DdeUnaccessData(data);
    DdeFreeDataHandle(data);
    return r;
  }
  DWORD inst_ = 0;
  HSZ progman_ = nullptr;
  HCONV conv_ = nullptr;
};

TEST_F(DdeTest, GroupsReplyIsProgmansListWithItsNul) {
  ASSERT_TRUE(Open());
  EXPECT_EQ(Groups(), std::string("Accessories\r\nStartUp\r\n", 22) + '\0');
  Close();
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
  EXPECT_EQ(Last("DdeRequest"), "Groups | 1 | 1000 | 1 | 0");
}

TEST_F(DdeTest, ARawReplyIsDeliveredByteForByte) {
  m().faults.groupsReply = std::string("A\n\n\rB", 5);
  ASSERT_TRUE(Open());
  EXPECT_EQ(Groups(), std::string("A\n\n\rB", 5)) << "no NUL added";
  Close();
}

TEST_F(DdeTest, ExecuteRunsProgmanCommandsAndReportsTheirFailure) {
  ASSERT_TRUE(Open());
  EXPECT_EQ(Execute("[CreateGroup(VORTAN FTP)]"), "ok");
  EXPECT_NE(m().progman().FindGroup("vortan ftp"), nullptr);
  EXPECT_EQ(Execute("[AddItem(C:\\PROGRA~1\\VORTAN\\FTP\\QXFTP.EXE,VORTAN FTP)]"), "0x4009") << "no such program";
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE", "MZ");
  EXPECT_EQ(Execute("[AddItem(C:\\PROGRA~1\\VORTAN\\FTP\\QXFTP.EXE,VORTAN FTP)]"), "ok");
  Close();
  EXPECT_EQ(Last("DdeExecute"), "[AddItem(C:\\PROGRA~1\\VORTAN\\FTP\\QXFTP.EXE,VORTAN FTP)] | 10000 | 1 | 0");
  EXPECT_TRUE(m().outstanding().Clean()) << "the execute data handles went to DDEML: " << m().outstanding().Describe();
}

TEST_F(DdeTest, WithoutTheServiceNoConversationIsEstablished) {
  m().faults.noProgmanService = true;
  EXPECT_FALSE(Open());
  EXPECT_EQ(DdeGetLastError(inst_), static_cast<UINT>(DMLERR_NO_CONV_ESTABLISHED));
  EXPECT_EQ(DdeGetLastError(inst_), 0u) << "reading the error clears it";
  EXPECT_EQ(Last("DdeConnect"), "PROGMAN | PROGMAN | 0x400A");
  Close();
}

TEST_F(DdeTest, InitialisationCanBeRefused) {
  m().faults.ddeInitialize = DMLERR_DLL_USAGE;
  DWORD inst = 0;
  EXPECT_EQ(DdeInitializeA(&inst, &NoCallback, APPCMD_CLIENTONLY, 0), static_cast<UINT>(DMLERR_DLL_USAGE));
  EXPECT_EQ(m().outstanding().ddeInstances, 0);
}

TEST_F(DdeTest, TransactionsOnNoConversationFail) {
  ASSERT_EQ(DdeInitializeA(&inst_, &NoCallback, APPCMD_CLIENTONLY, 0), static_cast<UINT>(DMLERR_NO_ERROR));
  EXPECT_EQ(Execute("[CreateGroup(X)]"), "0x0") << "the instance is unknown to the transaction";
  EXPECT_EQ(Last("DdeExecute"), "[CreateGroup(X)] | 10000 | 0 | 0x400A");
  EXPECT_EQ(m().outstanding().ddeDataHandles, 0) << "the handle still went to DDEML";
  Close();
}

TEST_F(DdeTest, ExecuteTimeOutsAreReported) {
  m().faults.ddeExecuteTimesOut = true;
  ASSERT_TRUE(Open());
  EXPECT_EQ(Execute("[ShowGroup(X,1)]"), "0x4005");
  Close();
}

TEST_F(DdeTest, StringHandlesAreSharedAtomsWithReferenceCounts) {
  ASSERT_EQ(DdeInitializeA(&inst_, &NoCallback, APPCMD_CLIENTONLY, 0), static_cast<UINT>(DMLERR_NO_ERROR));
  HSZ a = DdeCreateStringHandleA(inst_, "PROGMAN", CP_WINANSI);
  HSZ b = DdeCreateStringHandleA(inst_, "progman", CP_WINANSI);
  EXPECT_EQ(a, b);
  char buf[4];
  EXPECT_EQ(DdeQueryStringA(inst_, a, buf, sizeof buf, CP_WINANSI), 3u);
  EXPECT_STREQ(buf, "PRO");
  EXPECT_EQ(m().outstanding().ddeStrings, 2);
  DdeFreeStringHandle(inst_, a);
  EXPECT_EQ(m().outstanding().ddeStrings, 1);
  DdeUninitialize(inst_);
  inst_ = 0;
  EXPECT_EQ(m().outstanding().ddeReclaimed, 1) << "a leaked reference is counted when the instance ends";
}

TEST_F(DdeTest, AWrongContextSizeIsRefused) {
  ASSERT_EQ(DdeInitializeA(&inst_, &NoCallback, APPCMD_CLIENTONLY, 0), static_cast<UINT>(DMLERR_NO_ERROR));
  progman_ = DdeCreateStringHandleA(inst_, "PROGMAN", CP_WINANSI);
  CONVCONTEXT cc = {};
  cc.cb = 32;
  EXPECT_EQ(DdeConnect(inst_, progman_, progman_, &cc), nullptr);
  EXPECT_EQ(DdeGetLastError(inst_), static_cast<UINT>(DMLERR_INVALIDPARAMETER));
  Close();
}

}  // namespace

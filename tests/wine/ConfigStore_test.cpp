// The configuration store against the real private-profile functions and a
// real NEWUDPSRVR.INI in the Windows directory.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "config/ConfigStore.h"
#include "shell/AppGlobals.h"
#include "shell/PlatformCalls.h"
#include "shell/Messages.h"

namespace {

int AllocCalls;
bool FailAlloc;

HGLOBAL WINAPI CountingAlloc(UINT flags, SIZE_T bytes) {
    ++AllocCalls;
    return FailAlloc ? nullptr : GlobalAlloc(flags, bytes);
}

class ConfigStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveConfigFile();
        std::memset(HostTable, 0, sizeof HostTable);
        std::memset(&LocalAddresses, 0, sizeof LocalAddresses);
        std::memset(HostConfigured, 0, sizeof HostConfigured);
        AllocCalls = 0;
        FailAlloc = false;
        GlobalAllocProc = CountingAlloc;
        owner_ =
            CreateWindowExA(0, "STATIC", "owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        DestroyWindow(owner_);
        GlobalAllocProc = GlobalAlloc;
        RemoveConfigFile();
    }
    // Writes the file byte for byte, as an editor would.
    void WriteRaw(const std::string& text) {
        RemoveConfigFile();
        std::ofstream(ConfigFilePath(), std::ios::binary) << text;
    }
    // Whether the load posted the Configure command to the owner.
    bool ConfigurePosted() {
        MSG message;
        bool posted = false;
        while (PeekMessageA(&message, owner_, 0, 0, PM_REMOVE))
            posted |= message.message == WM_SYSCOMMAND && message.wParam == IDM_CONFIGURE;
        return posted;
    }
    HWND owner_ = nullptr;
};

const char FullLocal[] = "[LOCAL_DTE_ADDR]\r\nSENDMCASTADD=239.1.1.1\r\nHOSTSIDEIPADDRESS=198.51.100.1\r\n"
                         "KLORSIDEIPADDRESS=203.0.113.1\r\n";

TEST_F(ConfigStoreTest, NoFileAsksForConfigurationAndLeavesStoreEmpty) {
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_TRUE(ConfigurePosted());
    EXPECT_STREQ("", LocalAddresses.SENDMCASTADD);
    EXPECT_STREQ("", LocalAddresses.HOSTSIDEIPADDRESS);
    for (int h = 0; h < 6; ++h) {
        EXPECT_EQ(0, HostConfigured[h]);
        EXPECT_STREQ("", HostTable[h].RECVUDPPORTID);
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ConfigFilePath().c_str()))
        << "the load never creates it";
}

TEST_F(ConfigStoreTest, MissingHostSideAddressStopsAfterCopyingWhatWasRead) {
    WriteRaw("[LOCAL_DTE_ADDR]\r\nSENDMCASTADD=239.1.1.1\r\nKLORSIDEIPADDRESS=203.0.113.1\r\n"
             "[HOST0]\r\nRECVUDPPORTID=7000\r\n");
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_TRUE(ConfigurePosted());
    EXPECT_STREQ("239.1.1.1", LocalAddresses.SENDMCASTADD);
    EXPECT_STREQ("", LocalAddresses.HOSTSIDEIPADDRESS);
    EXPECT_STREQ("", LocalAddresses.KLORSIDEIPADDRESS);
    EXPECT_EQ(0, HostConfigured[0]) << "no host section is read after an early stop";
    EXPECT_STREQ("", HostTable[0].RECVUDPPORTID);
}

TEST_F(ConfigStoreTest, AddressBeginningWithQuestionMarkStopsTheLoad) {
    WriteRaw("[LOCAL_DTE_ADDR]\r\nSENDMCASTADD=239.1.1.1\r\nHOSTSIDEIPADDRESS=?12\r\nKLORSIDEIPADDRESS=203.0."
             "113.1\r\n"
             "[HOST0]\r\nRECVUDPPORTID=7000\r\n");
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_TRUE(ConfigurePosted());
    EXPECT_EQ(0, HostConfigured[0]);
}

TEST_F(ConfigStoreTest, EmptySendGroupCountsAsPresent) {
    WriteRaw("[LOCAL_DTE_ADDR]\r\nSENDMCASTADD=\r\nHOSTSIDEIPADDRESS=198.51.100.1\r\nKLORSIDEIPADDRESS=203.0."
             "113.1\r\n"
             "[HOST0]\r\nRECVUDPPORTID=7000\r\n");
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_FALSE(ConfigurePosted());
    EXPECT_STREQ("", LocalAddresses.SENDMCASTADD);
    EXPECT_STREQ("203.0.113.1", LocalAddresses.KLORSIDEIPADDRESS);
    EXPECT_EQ(1, HostConfigured[0]);
}

TEST_F(ConfigStoreTest, HostConfiguredFollowsTheReceivingPortKeyAlone) {
    WriteRaw(
        std::string(FullLocal) +
        "[HOST0]\r\nRECVUDPPORTID=\r\nRECVMCASTADDR=239.2.2.1\r\n"     // empty: configured
        "[HOST1]\r\nRECVMCASTADDR=239.2.2.2\r\nSENDUDPPORTID=6789\r\n" // key missing
        "[HOST2]\r\nRECVUDPPORTID=?12\r\nRECVMCASTADDR=239.2.2.3\r\nSENDUDPPORTID=6789\r\n" // configured
        "[HOST3]\r\nRECVUDPPORTID=?\r\nRECVMCASTADDR=239.9.9.9\r\nSENDUDPPORTID=6795\r\n"   // not configured
        "[HOST5]\r\nRECVUDPPORTID=7005\r\nRECVMCASTADDR=239.2.2.6\r\nSENDUDPPORTID=6790\r\n");
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_FALSE(ConfigurePosted());
    const int expected[6] = {1, 0, 1, 0, 0, 1};
    for (int h = 0; h < 6; ++h)
        EXPECT_EQ(expected[h], HostConfigured[h]) << "host " << h;
    EXPECT_STREQ("", HostTable[0].RECVUDPPORTID);
    EXPECT_STREQ("?", HostTable[1].RECVUDPPORTID);
    EXPECT_STREQ("239.2.2.2", HostTable[1].RECVMCASTADDR);
    EXPECT_STREQ("?12", HostTable[2].RECVUDPPORTID);
    EXPECT_STREQ("239.9.9.9", HostTable[3].RECVMCASTADDR) << "an unconfigured host keeps its texts";
    EXPECT_STREQ("6795", HostTable[3].SENDUDPPORTID);
    EXPECT_STREQ("?", HostTable[4].RECVUDPPORTID) << "a missing section reads as unconfigured";
    EXPECT_STREQ("", HostTable[4].RECVMCASTADDR) << "nothing of host 3 survives in the scratch record";
    EXPECT_STREQ("", HostTable[4].SENDUDPPORTID) << "nothing of host 3 survives in the scratch record";
    EXPECT_STREQ("7005", HostTable[5].RECVUDPPORTID);
    EXPECT_STREQ("239.2.2.6", HostTable[5].RECVMCASTADDR);
    EXPECT_STREQ("6790", HostTable[5].SENDUDPPORTID);
}

TEST_F(ConfigStoreTest, LoadNeverClearsAConfiguredFlag) {
    WriteRaw(FullLocal);
    HostConfigured[3] = 1;
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_EQ(1, HostConfigured[3]);
}

TEST_F(ConfigStoreTest, OverlongAndGarbageValuesAreCutToTheirFields) {
    const std::string garbage(300, 'x');
    WriteRaw("[LOCAL_DTE_ADDR]\r\nSENDMCASTADD=239.100.100.100.55\r\nHOSTSIDEIPADDRESS=" + garbage +
             "\r\nKLORSIDEIPADDRESS=203.0.113.1\r\n"
             "[HOST0]\r\nRECVUDPPORTID=1234567\r\nRECVMCASTADDR=239.200.200.200.99\r\nSENDUDPPORTID=" +
             garbage + "\r\n");
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_STREQ("239.100.100.100.", LocalAddresses.SENDMCASTADD);
    EXPECT_EQ(std::string(16, 'x'), LocalAddresses.HOSTSIDEIPADDRESS);
    EXPECT_STREQ("203.0.113.1", LocalAddresses.KLORSIDEIPADDRESS);
    EXPECT_STREQ("12345", HostTable[0].RECVUDPPORTID);
    EXPECT_STREQ("239.200.200.200.", HostTable[0].RECVMCASTADDR);
    EXPECT_STREQ("xxxxx", HostTable[0].SENDUDPPORTID);
    EXPECT_EQ(1, HostConfigured[0]);
}

TEST_F(ConfigStoreTest, ScratchFailureShowsBoxReturnsZeroAndChangesNothing) {
    WriteRaw(std::string(FullLocal) + "[HOST0]\r\nRECVUDPPORTID=7000\r\n");
    std::strcpy(LocalAddresses.SENDMCASTADD, "keep");
    FailAlloc = true;
    BoxAnswerer answer("Error Message", MB_OK | MB_ICONERROR, IDOK);
    EXPECT_EQ(0, GetParamsFromINIFile(owner_));
    EXPECT_EQ(1, answer.Answered());
    EXPECT_EQ("Error in allocating memory in GetParamsFromINIFile", answer.LastText());
    EXPECT_STREQ("keep", LocalAddresses.SENDMCASTADD);
    EXPECT_EQ(0, HostConfigured[0]);
}

TEST_F(ConfigStoreTest, EarlyStopKeepsScratchForTheNextLoad) {
    EXPECT_EQ(1, GetParamsFromINIFile(owner_)); // no file: early stop
    EXPECT_EQ(1, AllocCalls);
    WriteRaw(std::string(FullLocal) + "[HOST1]\r\nRECVUDPPORTID=7001\r\n");
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_EQ(1, AllocCalls) << "the held record is used again";
    EXPECT_EQ(1, HostConfigured[1]);
    EXPECT_EQ(1, GetParamsFromINIFile(owner_));
    EXPECT_EQ(2, AllocCalls) << "a complete load released it";
}

TEST_F(ConfigStoreTest, WriteHostSettingsWritesTheThreeKeysOfTheEntry) {
    const HostEntry entry = {"7003", "239.2.2.4", "6789"};
    EXPECT_EQ(WriteHostSettings(&entry, 3), 1);
    EXPECT_EQ(WriteHostSettings(&entry, 9), 1); // no such host: nothing is written
    EXPECT_EQ(std::memcmp(&HostTable[3], &entry, sizeof entry), 0) << "on file, so in the table";
    char value[32];
    GetPrivateProfileStringA("HOST3", "RECVUDPPORTID", "", value, sizeof value, ConfigFileName);
    EXPECT_STREQ("7003", value);
    GetPrivateProfileStringA("HOST3", "RECVMCASTADDR", "", value, sizeof value, ConfigFileName);
    EXPECT_STREQ("239.2.2.4", value);
    GetPrivateProfileStringA("HOST3", "SENDUDPPORTID", "", value, sizeof value, ConfigFileName);
    EXPECT_STREQ("6789", value);
    char sections[256] = {};
    GetPrivateProfileSectionNamesA(sections, sizeof sections, ConfigFileName);
    EXPECT_STREQ("HOST3", sections);
    EXPECT_EQ('\0', sections[std::strlen(sections) + 1]) << "only one section";
}

TEST_F(ConfigStoreTest, ClearChangeFlagsClearsEveryChangeFlag) {
    SendMcastModified = HostSideModified = KLORSideModified = 1;
    for (int& flag : HostModified)
        flag = 1;
    HostConfigured[2] = 1;
    ClearChangeFlags();
    EXPECT_EQ(0, SendMcastModified + HostSideModified + KLORSideModified);
    for (int flag : HostModified)
        EXPECT_EQ(0, flag);
    EXPECT_EQ(1, HostConfigured[2]) << "configured flags are not change flags";
}

} // namespace

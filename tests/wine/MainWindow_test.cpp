// The main window in this process: start sequence, system menu, minimised
// state, system commands and the shutdown order. The statistics timer is seen
// through the open dialog (StatusDialogs_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "config/ConfigStore.h"
#include "relay/RecvChannel.h"
#include "relay/SendChannel.h"
#include "shell/AppGlobals.h"
#include "shell/PlatformCalls.h"
#include "shell/MainWindow.h"
#include "shell/Messages.h"

namespace {

// The close confirmation: Yes and No, No the default, the question icon.
const UINT CloseQuestionBox = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

int AllocFailuresLeft;

HGLOBAL WINAPI FailingAlloc(UINT flags, SIZE_T bytes) {
    if (AllocFailuresLeft > 0) {
        --AllocFailuresLeft;
        return nullptr;
    }
    return GlobalAlloc(flags, bytes);
}

std::vector<std::string> DestroyOrder;
WNDPROC RecvOriginal, SendOriginal;

LRESULT CALLBACK RecvSpy(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_DESTROY)
        DestroyOrder.push_back("recv");
    return CallWindowProcA(RecvOriginal, w, m, wp, lp);
}

LRESULT CALLBACK SendSpy(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_DESTROY)
        DestroyOrder.push_back("send");
    return CallWindowProcA(SendOriginal, w, m, wp, lp);
}

std::vector<EXECUTION_STATE> ExecutionStates;
EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE flags) {
    ExecutionStates.push_back(flags);
    return ES_CONTINUOUS;
}

struct Posted {
    HWND window;
    UINT message;
    WPARAM wparam;
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GetTempPathA(MAX_PATH, temp_);
        SetCurrentDirectoryA(temp_); // the event log, if any, goes there
        RemoveConfigFile();
        MainWindow = RecvChannelWindow = SendChannelWindow = nullptr;
        GlobalAllocProc = FailingAlloc;
        AllocFailuresLeft = 0;
        // A load that stopped early keeps its scratch record; a complete one
        // releases it, so that every test starts without one.
        WriteSampleConfig({});
        GetParamsFromINIFile(nullptr);
        RemoveConfigFile();
        DestroyOrder.clear();
    }
    void TearDown() override {
        Stop();
        GlobalAllocProc = GlobalAlloc;
        GetMessageProc = GetMessageA;
        SetThreadExecutionStateProc = SetThreadExecutionState;
        RemoveConfigFile();
    }
    HWND Start() { return StartMainWindow(GetModuleHandleA(nullptr)); }
    void Stop() {
        if (MainWindow != nullptr && IsWindow(MainWindow))
            DestroyWindow(MainWindow);
        Drain();
        for (const char* name : {"UDPSERVER", "UdpRecvProc", "UdpProc"})
            UnregisterClassA(name, GetModuleHandleA(nullptr));
    }
    // The event log's lines in the working directory, lower-cased.
    static std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        std::ifstream log("UDPMessages.Log");
        for (std::string line; std::getline(log, line);) {
            std::transform(line.begin(), line.end(), line.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            lines.push_back(line);
        }
        return lines;
    }

    // Takes every queued message; records the connect requests, the Configure
    // command and the quit request without acting on them, dispatches the rest.
    std::vector<Posted> Drain() {
        std::vector<Posted> seen;
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            seen.push_back({m.hwnd, m.message, m.wParam});
            const bool hold = m.message == WM_CONNECTHOST || m.message == WM_QUIT ||
                              (m.message == WM_SYSCOMMAND && m.wParam == IDM_CONFIGURE);
            if (!hold)
                DispatchMessageA(&m);
        }
        return seen;
    }
    static std::vector<WPARAM> ConnectRequests(const std::vector<Posted>& seen) {
        std::vector<WPARAM> hosts;
        for (const Posted& p : seen)
            if (p.message == WM_CONNECTHOST && p.window == RecvChannelWindow)
                hosts.push_back(p.wparam);
        return hosts;
    }
    static bool Has(const std::vector<Posted>& seen, HWND window, UINT message, WPARAM wparam) {
        for (const Posted& p : seen)
            if (p.window == window && p.message == message && p.wparam == wparam)
                return true;
        return false;
    }
    char temp_[MAX_PATH] = {};
};

TEST_F(MainWindowTest, SystemMenuCarriesTheThreeCommandsAfterTheStandardEntries) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    HMENU menu = GetSystemMenu(MainWindow, FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 6);
    const struct {
        bool separator;
        UINT id;
        const char* text;
    } expected[5] = {{true, 0, ""},
                     {false, IDM_CONFIGURE, "Con&figure"},
                     {false, IDM_STATISTICS, "S&tatistics"},
                     {true, 0, ""},
                     {false, IDM_ABOUT, "&About VQX UDP broadcast Server"}};
    for (int i = 0; i < 5; ++i) {
        char text[64] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(count - 5 + i), TRUE, &info));
        EXPECT_EQ(expected[i].separator, (info.fType & MFT_SEPARATOR) != 0) << "entry " << i;
        if (!expected[i].separator) {
            EXPECT_EQ(expected[i].id, info.wID);
            EXPECT_STREQ(expected[i].text, text);
        }
    }
    int close = -1;
    for (int i = 0; i < count; ++i)
        if (GetMenuItemID(menu, i) == SC_CLOSE)
            close = i;
    EXPECT_TRUE(close >= 0 && close < count - 5) << "the standard entries come first";
}

TEST_F(MainWindowTest, WindowIsMinimisedNotActivatedAndRefusesRestoreAndMaximise) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    Drain();
    EXPECT_TRUE(IsIconic(MainWindow));
    EXPECT_TRUE(IsWindowVisible(MainWindow));
    EXPECT_NE(MainWindow, GetActiveWindow());
    EXPECT_EQ(1, SendMessageA(MainWindow, WM_SYSCOMMAND, SC_RESTORE, 0));
    EXPECT_EQ(1, SendMessageA(MainWindow, WM_SYSCOMMAND, SC_MAXIMIZE, 0));
    Drain();
    EXPECT_TRUE(IsIconic(MainWindow));
    EXPECT_FALSE(IsZoomed(MainWindow));
}

// The starter's show state may have shown the window maximised and active in
// place of the program's first show (start /max): minimised and inactive
// all the same.
TEST_F(MainWindowTest, WindowShownMaximisedByTheStarterEndsMinimisedAndInactive) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    ShowWindow(MainWindow, SW_SHOWMAXIMIZED); // what the substituted first show does
    ASSERT_EQ(MainWindow, GetActiveWindow());
    KeepMinimisedAndInactive(MainWindow);
    Drain();
    EXPECT_TRUE(IsIconic(MainWindow));
    EXPECT_NE(MainWindow, GetActiveWindow());
}

TEST_F(MainWindowTest, PaintMinimisesTheWindowAgain) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    ShowWindow(MainWindow, SW_RESTORE); // around the system command
    ASSERT_FALSE(IsIconic(MainWindow));
    InvalidateRect(MainWindow, nullptr, TRUE);
    UpdateWindow(MainWindow);
    Drain();
    EXPECT_TRUE(IsIconic(MainWindow));
}

TEST_F(MainWindowTest, StartPostsOneConnectRequestPerConfiguredHostInOrder) {
    WriteSampleConfig({4, 1});
    ASSERT_NE(nullptr, Start());
    ASSERT_NE(nullptr, RecvChannelWindow);
    ASSERT_NE(nullptr, SendChannelWindow);
    EXPECT_EQ(GetParent(RecvChannelWindow), MainWindow);
    EXPECT_FALSE(IsWindowVisible(RecvChannelWindow));
    EXPECT_FALSE(IsWindowVisible(SendChannelWindow));
    const std::vector<Posted> seen = Drain();
    EXPECT_EQ((std::vector<WPARAM>{1, 4}), ConnectRequests(seen));
    EXPECT_FALSE(Has(seen, MainWindow, WM_SYSCOMMAND, IDM_CONFIGURE));
}

TEST_F(MainWindowTest, NoHostConfiguredPostsNoConnectRequest) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    EXPECT_TRUE(ConnectRequests(Drain()).empty());
}

TEST_F(MainWindowTest, MissingLocalAddressPostsConfigureAndConnectsNoHost) {
    WriteSampleConfig({0, 2});
    WriteConfigValue("LOCAL_DTE_ADDR", "KLORSIDEIPADDRESS", nullptr); // delete the key
    ASSERT_NE(nullptr, Start());
    const std::vector<Posted> seen = Drain();
    EXPECT_TRUE(Has(seen, MainWindow, WM_SYSCOMMAND, IDM_CONFIGURE));
    EXPECT_TRUE(ConnectRequests(seen).empty());
}

TEST_F(MainWindowTest, MemoryFailureRetryThenStartsNormally) {
    WriteSampleConfig({3});
    AllocFailuresLeft = 1;
    BoxAnswerer store("Error Message", MB_OK | MB_ICONERROR, IDOK);
    BoxAnswerer start(MainWindowTitle, MB_RETRYCANCEL, IDRETRY);
    ASSERT_NE(nullptr, Start());
    EXPECT_EQ(1, start.Answered());
    EXPECT_EQ(
        "Error in allocating memory for configuration.\nProgram will Abort.\n Try Restarting the Server.",
        start.LastText());
    EXPECT_EQ((std::vector<WPARAM>{3}), ConnectRequests(Drain()));
}

TEST_F(MainWindowTest, MemoryFailureCancelAtALaterRepetitionCreatesNoWindow) {
    WriteSampleConfig({3});
    AllocFailuresLeft = 100;
    BoxAnswerer store("Error Message", MB_OK | MB_ICONERROR, IDOK, 3);
    BoxAnswerer start(MainWindowTitle, MB_RETRYCANCEL, std::vector<int>{IDRETRY, IDRETRY, IDCANCEL});
    EXPECT_EQ(nullptr, Start());
    EXPECT_EQ(3, start.Answered());
    EXPECT_EQ(nullptr, FindWindowExA(nullptr, nullptr, MainWindowClass, MainWindowTitle));
}

TEST_F(MainWindowTest, ChannelWindowFailureReportsAndShutsDown) {
    WriteSampleConfig({0});
    WNDCLASSA taken = {};
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = GetModuleHandleA(nullptr);
    taken.lpszClassName = "UdpRecvProc";
    ASSERT_NE(0, RegisterClassA(&taken)); // so the program's own registration fails
    BoxAnswerer box(MainWindowTitle, MB_OK, IDOK);
    ASSERT_NE(nullptr, Start()) << "the creation itself completes";
    EXPECT_EQ(1, box.Answered());
    EXPECT_EQ("Error in starting the Server.\nProgram will Abort.\n Try Restarting the Server.",
              box.LastText());
    const std::vector<Posted> seen = Drain();
    EXPECT_TRUE(Has(seen, nullptr, WM_QUIT, 0)) << "the shutdown posted the quit request";
    EXPECT_TRUE(ConnectRequests(seen).empty());
}

TEST_F(MainWindowTest, CloseAnsweredNoKeepsRunningYesShutsDownInOrder) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    Drain();
    RecvOriginal = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(RecvChannelWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecvSpy)));
    SendOriginal = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(SendChannelWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SendSpy)));
    {
        BoxAnswerer no("UDP Server", CloseQuestionBox, IDNO);
        EXPECT_EQ(0, SendMessageA(MainWindow, WM_SYSCOMMAND, SC_CLOSE, 0));
        EXPECT_EQ(1, no.Answered());
        EXPECT_EQ("This will disconnect all the broadcast connections.\nAre You Sure you want to do that?",
                  no.LastText());
    }
    EXPECT_TRUE(IsWindow(MainWindow));
    EXPECT_TRUE(DestroyOrder.empty());
    {
        BoxAnswerer yes("UDP Server", CloseQuestionBox, IDYES);
        SendMessageA(MainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(1, yes.Answered());
    }
    EXPECT_FALSE(IsWindow(MainWindow));
    // Sent by the shutdown, then delivered again by the destruction itself.
    EXPECT_EQ((std::vector<std::string>{"send", "recv", "recv", "send"}), DestroyOrder);
    EXPECT_TRUE(Has(Drain(), nullptr, WM_QUIT, 0));
}

TEST_F(MainWindowTest, CloseMessageWithoutSystemCommandIsNotConfirmed) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    BoxAnswerer watch("UDP Server", CloseQuestionBox, IDNO);
    SendMessageA(MainWindow, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(MainWindow));
    EXPECT_EQ(0, watch.Answered());
}

int GetCalls;
// The real GetMessageA once, then a failure.
BOOL WINAPI FailingSecondGet(LPMSG message, HWND window, UINT first, UINT last) {
    return ++GetCalls == 1 ? GetMessageA(message, window, first, last) : -1;
}

// A failed GetMessageA ends the loop with exit code 0, not with what the
// message before it carried.
TEST_F(MainWindowTest, FailedGetMessageEndsTheLoopWithExitCodeZero) {
    Drain();
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 50, 77, 0);
    GetCalls = 0;
    GetMessageProc = FailingSecondGet;
    EXPECT_EQ(0, RunMessageLoop());
    EXPECT_EQ(2, GetCalls);
}

// A queue that never runs dry: each call posts one more message first, so no
// WM_TIMER is ever made, as under traffic above what the relay can carry.
DWORD FloodEndTick;
BOOL WINAPI FloodingGet(LPMSG message, HWND window, UINT first, UINT last) {
    if (static_cast<LONG>(GetTickCount() - FloodEndTick) >= 0) {
        *message = MSG{};
        message->message = WM_QUIT;
        return FALSE;
    }
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 52, 0, 0);
    return GetMessageA(message, window, first, last);
}

// The status file is renewed by the loop itself when its timer is starved,
// so that a busy relay never looks stuck to a watchdog.
TEST_F(MainWindowTest, StatusFileIsRenewedWhileTheQueueNeverRunsDry) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    Drain();
    ASSERT_TRUE(DeleteFileA("NewUdpSrvr.prom")); // the start's own file
    FloodEndTick = GetTickCount() + 7000;        // the timer misses two periods
    GetMessageProc = FloodingGet;
    EXPECT_EQ(0, RunMessageLoop());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("NewUdpSrvr.prom"));
}

// Idle timers do not see datagrams: the system is held awake (not the
// display) from the start to the shutdown.
TEST_F(MainWindowTest, SystemIsHeldAwakeFromTheStartAndReleasedAtShutdown) {
    WriteSampleConfig({});
    ExecutionStates.clear();
    SetThreadExecutionStateProc = RecordExecutionState;
    ASSERT_NE(nullptr, Start());
    Drain();
    const EXECUTION_STATE held = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
    EXPECT_EQ((std::vector<EXECUTION_STATE>{held}), ExecutionStates);
    SendMessageA(MainWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ((std::vector<EXECUTION_STATE>{held, ES_CONTINUOUS}), ExecutionStates);
}

// Windows' own low four bits: a caption's double click sends SC_MAXIMIZE + 2.
TEST_F(MainWindowTest, SystemCommandsAreMatchedWithoutTheirLowFourBits) {
    WriteSampleConfig({});
    ASSERT_NE(nullptr, Start());
    Drain();
    EXPECT_EQ(1, SendMessageA(MainWindow, WM_SYSCOMMAND, SC_MAXIMIZE + 2, 0));
    EXPECT_EQ(1, SendMessageA(MainWindow, WM_SYSCOMMAND, SC_RESTORE + 2, 0));
    Drain();
    EXPECT_TRUE(IsIconic(MainWindow));
    EXPECT_FALSE(IsZoomed(MainWindow));
    BoxAnswerer no("UDP Server", CloseQuestionBox, IDNO);
    EXPECT_EQ(0, SendMessageA(MainWindow, WM_SYSCOMMAND, SC_CLOSE + 3, 0));
    EXPECT_EQ(1, no.Answered());
    EXPECT_TRUE(IsWindow(MainWindow));
}

// A predecessor's copy in the user's VirtualStore: one record naming it when
// it differs from the file read, none when it is the same; never read.
TEST_F(MainWindowTest, AVirtualStoreCopyThatDiffersIsNamedOnceAndNeverRead) {
    char local[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableA("LOCALAPPDATA", local, MAX_PATH));
    const std::string store = std::string(local) + "\\VirtualStore";
    const std::string copy = store + "\\Windows\\NEWUDPSRVR.INI";
    CreateDirectoryA(store.c_str(), nullptr);
    CreateDirectoryA((store + "\\Windows").c_str(), nullptr);
    WriteSampleConfig({1});
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "NEWUDPSRVR.INI"); // on disk now
    for (const bool differs : {false, true}) {
        DeleteFileA("UDPMessages.Log");
        ASSERT_TRUE(CopyFileA(ConfigFilePath().c_str(), copy.c_str(), FALSE));
        if (differs) { // a host more, as the predecessor saved it
            WritePrivateProfileStringA("HOST4", "RECVUDPPORTID", "7004", copy.c_str());
            WritePrivateProfileStringA(nullptr, nullptr, nullptr, copy.c_str());
        }
        ASSERT_NE(nullptr, Start());
        EXPECT_EQ((std::vector<WPARAM>{1}), ConnectRequests(Drain())) << "differs: " << differs;
        std::string expected = "  in udp srvr" + std::string(28, ' ') +
                               "virtualstore copy of newudpsrvr.ini differs. not read: " + copy;
        std::transform(expected.begin(), expected.end(), expected.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const std::vector<std::string> lines = LogLines();
        if (differs) {
            ASSERT_EQ(1u, lines.size());
            EXPECT_NE(std::string::npos, lines[0].find(expected)) << lines[0];
        } else {
            EXPECT_TRUE(lines.empty()) << lines[0];
        }
        Stop();
    }
    DeleteFileA(copy.c_str());
}

} // namespace

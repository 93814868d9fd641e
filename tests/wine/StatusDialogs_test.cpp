// The Statistics dialog and the About box, opened for real through the main
// window. A dialog is modal, so the test thread sits in its message loop while
// a driver thread watches it and has steps run on the GUI thread (OnGui).
#include "TestSupport.h"

#include "config/HostConfig.h"
#include "relay/HostCounters.h"
#include "resources/resource.h"
#include "shell/AppGlobals.h"
#include "shell/MainWindow.h"
#include "shell/Messages.h"
#include "status/StatusDialogs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const char StatisticsCaption[] = "VQX UDP Broadcast Server Data v3.04.00";
const char AboutCaption[] = "About VQX UDP Broadcast Server";
const UINT WM_RUNSTEP = WM_APP + 1; // Invoker: run the std::function in lparam
const UINT WM_MARKER = WM_APP + 2;  // Invoker: count; posted after input to know it was handled

// What the GUI thread retrieved and was sent, counted by hooks.
std::atomic<int> RefreshArrivals{0};
std::atomic<int> StatisticsTicks{0};
std::atomic<int> CancelCommands{0};
std::atomic<int> MarkersHandled{0};
HHOOK RetrieveHook;
HHOOK SendHook;
HWND Invoker;

LRESULT CALLBACK CountRetrieved(int code, WPARAM wparam, LPARAM lparam) {
    const MSG* message = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE) {
        if (message->message == WM_REFRESHSTATISTICS)
            ++RefreshArrivals;
        if (message->message == WM_TIMER && message->hwnd == MainWindow && message->wParam == IDT_STATISTICS)
            ++StatisticsTicks;
    }
    return CallNextHookEx(RetrieveHook, code, wparam, lparam);
}

LRESULT CALLBACK CountSent(int code, WPARAM wparam, LPARAM lparam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && call->message == WM_COMMAND && LOWORD(call->wParam) == IDCANCEL)
        ++CancelCommands;
    return CallNextHookEx(SendHook, code, wparam, lparam);
}

LRESULT CALLBACK InvokerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_RUNSTEP:
        (*reinterpret_cast<const std::function<void()>*>(lparam))();
        return 1;
    case WM_MARKER:
        ++MarkersHandled;
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// The main window of the program, started once with a configuration that has
// the local addresses and no host; each test then sets HostTable itself.
class StatusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        RemoveConfigFile();
        WriteSampleConfig({});
        HINSTANCE instance = GetModuleHandleA(nullptr);
        ASSERT_NE(StartMainWindow(instance), nullptr);
        WNDCLASSA invokerClass = {};
        invokerClass.lpfnWndProc = InvokerProc;
        invokerClass.hInstance = instance;
        invokerClass.lpszClassName = "StatusTestInvoker";
        RegisterClassA(&invokerClass);
        Invoker = CreateWindowExA(0, "StatusTestInvoker", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                  nullptr);
        ASSERT_NE(Invoker, nullptr);
        RetrieveHook = SetWindowsHookExA(WH_GETMESSAGE, CountRetrieved, nullptr, GetCurrentThreadId());
        SendHook = SetWindowsHookExA(WH_CALLWNDPROC, CountSent, nullptr, GetCurrentThreadId());
        ASSERT_NE(RetrieveHook, nullptr);
        ASSERT_NE(SendHook, nullptr);
        PumpMessages(200);
    }
    void TearDown() override {
        UnhookWindowsHookEx(RetrieveHook);
        UnhookWindowsHookEx(SendHook);
        DestroyWindow(MainWindow);
        PumpMessages(200);
        RemoveConfigFile();
    }
};
[[maybe_unused]] const auto* const Environment = ::testing::AddGlobalTestEnvironment(new StatusEnvironment);

// Runs `step` on the GUI thread from the driver thread, through the dialog's
// own message loop. Bounded: gives up after 5 s.
bool OnGui(const std::function<void()>& step) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(Invoker, WM_RUNSTEP, 0, reinterpret_cast<LPARAM>(&step), SMTO_NORMAL, 5000,
                               &result) != 0 &&
           result == 1;
}

bool WaitUntil(DWORD ms, const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(20);
    }
    return true;
}

// Posts a message and waits until the GUI thread has handled it: a marker
// posted after it is handled after it.
bool PostAndSettle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const int before = MarkersHandled;
    PostMessageA(window, message, wparam, lparam);
    PostMessageA(Invoker, WM_MARKER, 0, 0);
    return WaitUntil(5000, [&] { return MarkersHandled > before; });
}

bool WaitForRefreshes(int count, DWORD ms) {
    const int before = RefreshArrivals;
    // One round trip after the arrival: the refresh has been dispatched by then.
    return WaitUntil(ms, [&] { return RefreshArrivals >= before + count; }) && OnGui([] {});
}

bool IsOpen(HWND dialog) {
    bool open = false;
    OnGui([&] { open = IsWindow(dialog) && IsWindowVisible(dialog); });
    return open;
}

// Opens a dialog with `open` on this thread while `script` drives it from a
// helper thread. A dialog the script left open is ended, as a failure.
void DriveDialog(const char* caption, const std::function<void()>& open,
                 const std::function<void(HWND)>& script) {
    std::atomic<bool> finished{false};
    std::thread driver([&] {
        HWND dialog = nullptr;
        WaitUntil(5000, [&] { return (dialog = FindDialog(caption)) != nullptr; });
        if (dialog == nullptr) {
            ADD_FAILURE() << "no dialog \"" << caption << "\" opened";
        } else {
            script(dialog);
            if (!WaitUntil(2000, [&] { return !IsWindow(dialog); })) {
                ADD_FAILURE() << "the dialog was still open at the end of the script";
                OnGui([&] { EndDialog(dialog, 0); });
            }
        }
        finished = true;
    });
    open();
    PumpMessages(10000, [&] { return finished.load(); });
    driver.join();
}

void OpenStatistics() {
    SendMessageA(MainWindow, WM_SYSCOMMAND, IDM_STATISTICS, 0);
}
void OpenAbout() {
    SendMessageA(MainWindow, WM_SYSCOMMAND, IDM_ABOUT, 0);
}

void PressButton(HWND dialog, int id) {
    OnGui([&] { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); });
}

std::vector<std::string> ListLines(HWND dialog) {
    std::vector<std::string> lines;
    OnGui([&] {
        HWND list = GetDlgItem(dialog, IDC_STAT_LIST);
        const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count && i < 16; ++i) {
            char text[256] = {};
            if (SendMessageA(list, LB_GETTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof text))
                SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            lines.push_back(text);
        }
    });
    return lines;
}

void SetHost(int host, const char* port, const char* group, HostCounterRecord counters) {
    std::strcpy(HostTable[host].RECVUDPPORTID, port);
    std::strcpy(HostTable[host].RECVMCASTADDR, group);
    std::strcpy(HostTable[host].SENDUDPPORTID, "6789");
    HostCounters[host] = counters;
}

void ClearHosts() {
    for (int host = 0; host < 6; ++host)
        SetHost(host, "?", "", {-1, 0, 0});
}

// Centred on the primary display, the OK button focused, CurrentDialog set.
void ExpectCentredAndFocused(HWND dialog, int okId) {
    OnGui([&] {
        RECT outer;
        GetWindowRect(dialog, &outer);
        const int width = outer.right - outer.left, height = outer.bottom - outer.top;
        EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
        EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, okId));
        EXPECT_EQ(CurrentDialog, dialog);
    });
}

class StatusDialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearHosts();
        KillTimer(MainWindow, IDT_STATISTICS);
        PumpMessages(50);
    }
    void TearDown() override { ClearHosts(); }
};

TEST_F(StatusDialogs, NoHostListsNothingAndStillRefreshes) {
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        EXPECT_TRUE(StatisticsOpen);
        ExpectCentredAndFocused(dialog, IDC_STAT_OK);
        EXPECT_TRUE(ListLines(dialog).empty());
        // Two cycles: each refresh arms the timer again.
        EXPECT_TRUE(WaitForRefreshes(2, 8000));
        EXPECT_TRUE(ListLines(dialog).empty());
        PressButton(dialog, IDC_STAT_OK);
    });
    EXPECT_EQ(StatisticsOpen, 0);
}

TEST_F(StatusDialogs, ListStopsAtTheFirstUnconfiguredHost) {
    SetHost(0, "7000", "239.2.2.1", {0, 120, 118});
    SetHost(1, "7001", "239.2.2.2", {-1, 0, 0});
    SetHost(3, "7003", "239.2.2.4", {0, 9, 9});
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        const std::vector<std::string> expected = {
            "Host0 239.2.2.1                    120         118            Receiving",
            "Host1 239.2.2.2                      0           0        Not Receiving",
        };
        EXPECT_EQ(ListLines(dialog), expected);
        EXPECT_TRUE(WaitForRefreshes(1, 5000));
        EXPECT_EQ(ListLines(dialog), expected);
        PressButton(dialog, IDC_STAT_OK);
    });
}

// Six lines in host order; a refresh replaces each in place with the counters
// of the moment, including a host that has started receiving.
TEST_F(StatusDialogs, AllSixHostsInOrderAndRefreshedInPlace) {
    const char* const groups[6] = {"239.2.2.1", "239.2.2.2",       "239.10.20.30",
                                   "233.1.2.5", "239.255.255.255", "239.2.2.6"};
    for (int host = 0; host < 6; ++host)
        SetHost(host, "7000", groups[host],
                {host == 5 ? 3 : -1, host, 0}); // status 3: never stored by the relay
    DriveDialog(StatisticsCaption, OpenStatistics, [&](HWND dialog) {
        EXPECT_EQ(ListLines(dialog),
                  (std::vector<std::string>{
                      "Host0 239.2.2.1                      0           0        Not Receiving",
                      "Host1 239.2.2.2                      1           0        Not Receiving",
                      "Host2 239.10.20.30                   2           0        Not Receiving",
                      "Host3 233.1.2.5                      3           0        Not Receiving",
                      "Host4 239.255.255.255                4           0        Not Receiving",
                      "Host5 239.2.2.6                      5           0        Not Receiving",
                  }));
        OnGui([] {
            for (int host = 0; host < 6; ++host)
                HostCounters[host] = {0, 1000 * (host + 1), 999 * (host + 1)};
            HostCounters[3] = {0, INT32_MIN, -1};
        });
        EXPECT_TRUE(WaitForRefreshes(1, 5000));
        EXPECT_EQ(ListLines(dialog),
                  (std::vector<std::string>{
                      "Host0 239.2.2.1                   1000         999            Receiving",
                      "Host1 239.2.2.2                   2000        1998            Receiving",
                      "Host2 239.10.20.30                3000        2997            Receiving",
                      "Host3 233.1.2.5             -2147483648          -1            Receiving",
                      "Host4 239.255.255.255             5000        4995            Receiving",
                      "Host5 239.2.2.6                   6000        5994            Receiving",
                  }));
        PressButton(dialog, IDC_STAT_OK);
    });
}

// Escape (as a key and as its IDCANCEL command) leaves the dialog open; the
// close box (WM_CLOSE) ends it.
TEST_F(StatusDialogs, StatisticsIgnoresEscapeAndClosesOnClose) {
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        const int cancels = CancelCommands;
        HWND ok = GetDlgItem(dialog, IDC_STAT_OK);
        EXPECT_TRUE(PostAndSettle(ok, WM_KEYDOWN, VK_ESCAPE, 0x00010001));
        EXPECT_TRUE(PostAndSettle(ok, WM_KEYUP, VK_ESCAPE, 0xC0010001));
        OnGui([&] { SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0); });
        EXPECT_EQ(CancelCommands, cancels + 2); // the key did become IDCANCEL
        EXPECT_TRUE(IsOpen(dialog));
        EXPECT_TRUE(StatisticsOpen);
        EXPECT_TRUE(PostAndSettle(dialog, WM_CLOSE, 0, 0));
        EXPECT_TRUE(WaitUntil(2000, [&] { return !IsWindow(dialog); }));
    });
    EXPECT_EQ(StatisticsOpen, 0);
}

TEST_F(StatusDialogs, AboutIgnoresEscapeAndClosesOnEnter) {
    int opened = 0;
    DriveDialog(
        AboutCaption, [&] { opened = ShowAboutBox(MainWindow); },
        [](HWND dialog) {
            ExpectCentredAndFocused(dialog, IDC_ABOUT_OK);
            const int cancels = CancelCommands;
            HWND ok = GetDlgItem(dialog, IDC_ABOUT_OK);
            EXPECT_TRUE(PostAndSettle(ok, WM_KEYDOWN, VK_ESCAPE, 0x00010001));
            OnGui([&] { SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0); });
            EXPECT_EQ(CancelCommands, cancels + 2);
            EXPECT_TRUE(IsOpen(dialog));
            EXPECT_TRUE(PostAndSettle(ok, WM_KEYDOWN, VK_RETURN, 0x001C0001));
            EXPECT_TRUE(WaitUntil(2000, [&] { return !IsWindow(dialog); }));
        });
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(StatisticsOpen, 0);
}

TEST_F(StatusDialogs, AboutClosesOnCloseRequest) {
    DriveDialog(AboutCaption, OpenAbout, [](HWND dialog) {
        EXPECT_TRUE(PostAndSettle(dialog, WM_CLOSE, 0, 0));
        EXPECT_TRUE(WaitUntil(2000, [&] { return !IsWindow(dialog); }));
    });
}

// The texts, kinds and styles the operator relies on, as the templates give them.
TEST_F(StatusDialogs, TemplatesCarryTheirControls) {
    DriveDialog(AboutCaption, OpenAbout, [](HWND dialog) {
        OnGui([&] {
            char text[64] = {};
            GetDlgItemTextA(dialog, IDC_ABOUT_VERSION, text, sizeof text);
            EXPECT_STREQ(text, "Version 3.04.00");
            EXPECT_NE(SendDlgItemMessageA(dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0), 0);
            const int first = GetWindowTextLengthA(GetDlgItem(dialog, IDC_ABOUT_NAME1));
            const int second = GetWindowTextLengthA(GetDlgItem(dialog, IDC_ABOUT_NAME2));
            EXPECT_GT(first, 0);
            EXPECT_LT(first, second);
            const LONG okStyle = GetWindowLongA(GetDlgItem(dialog, IDC_ABOUT_OK), GWL_STYLE);
            EXPECT_EQ(okStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
            EXPECT_EQ(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU, 0);
        });
        PressButton(dialog, IDC_ABOUT_OK);
    });
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        OnGui([&] {
            char text[64] = {};
            GetDlgItemTextA(dialog, IDC_STAT_HOSTADDR, text, sizeof text);
            EXPECT_STREQ(text, "Host       IP Address");
            GetDlgItemTextA(dialog, IDC_STAT_STATUS, text, sizeof text);
            EXPECT_STREQ(text, "Connection Status");
            // The dialog turns the border into a sunken edge; the scroll bar shows when needed.
            HWND list = GetDlgItem(dialog, IDC_STAT_LIST);
            const LONG expected = LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_TABSTOP;
            EXPECT_EQ(GetWindowLongA(list, GWL_STYLE) & expected, expected);
            EXPECT_TRUE((GetWindowLongA(list, GWL_STYLE) & WS_BORDER) ||
                        (GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
            EXPECT_NE(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU, 0);
        });
        PressButton(dialog, IDC_STAT_OK);
    });
}

// Closing and reopening within 3 s: the reopen re-arms the one timer, so a
// single cycle runs — two refreshes in 7.5 s, not more.
TEST_F(StatusDialogs, ReopeningWithinThreeSecondsLeavesOneCycle) {
    SetHost(0, "7000", "239.2.2.1", {0, 1, 1});
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        Sleep(1000);
        PressButton(dialog, IDC_STAT_OK);
    });
    int refreshes = -1;
    DriveDialog(StatisticsCaption, OpenStatistics, [&](HWND dialog) {
        const int before = RefreshArrivals;
        Sleep(7500);
        refreshes = RefreshArrivals - before;
        EXPECT_EQ(ListLines(dialog).size(), 1u);
        PressButton(dialog, IDC_STAT_OK);
    });
    EXPECT_EQ(refreshes, 2);
}

// After the dialog has closed the pending tick only stops the timer: nothing
// is posted, even to a live CurrentDialog, and no further tick follows.
TEST_F(StatusDialogs, ExpiryAfterCloseEndsTheCycle) {
    int opened = 0;
    DriveDialog(
        StatisticsCaption, [&] { opened = ShowStatisticsBox(MainWindow); },
        [](HWND dialog) { PressButton(dialog, IDC_STAT_OK); });
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(StatisticsOpen, 0);
    CurrentDialog = Invoker;
    const int refreshes = RefreshArrivals, ticks = StatisticsTicks;
    EXPECT_TRUE(PumpMessages(5000, [&] { return StatisticsTicks > ticks; }));
    PumpMessages(3500);
    EXPECT_EQ(StatisticsTicks, ticks + 1);
    EXPECT_EQ(RefreshArrivals, refreshes);
}

} // namespace

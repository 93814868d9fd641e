#pragma once
// Drives the program's dialogs in the Win32 tests. A dialog is modal, so the
// test thread sits in its message loop while a driver thread watches it and
// has steps run on the GUI thread (OnGui). Hooks on the GUI thread count the
// refresh requests, the statistics timer's ticks and the cancel commands.
#include "TestSupport.h"

#include "config/HostConfig.h"
#include "relay/HostCounters.h"
#include "Version.h"
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
#include <utility>
#include <vector>

inline const char StatisticsCaption[] = RELAY_DATA_CAPTION;
inline const char AboutCaption[] = "About VQX UDP Broadcast Server";
inline const UINT WM_RUNSTEP = WM_APP + 1; // Invoker: run the std::function in lparam
inline const UINT WM_MARKER = WM_APP + 2;  // Invoker: count; posted after input to know it was handled

// What the GUI thread retrieved and was sent, counted by hooks.
inline std::atomic<int> RefreshArrivals{0};
inline std::atomic<int> StatisticsTicks{0};
inline std::atomic<int> CancelCommands{0};
inline std::atomic<int> MarkersHandled{0};
inline HHOOK RetrieveHook;
inline HHOOK SendHook;
inline HWND Invoker;

inline LRESULT CALLBACK CountRetrieved(int code, WPARAM wparam, LPARAM lparam) {
    const MSG* message = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE) {
        if (message->message == WM_REFRESHSTATISTICS)
            ++RefreshArrivals;
        if (message->message == WM_TIMER && message->hwnd == MainWindow && message->wParam == IDT_STATISTICS)
            ++StatisticsTicks;
    }
    return CallNextHookEx(RetrieveHook, code, wparam, lparam);
}

inline LRESULT CALLBACK CountSent(int code, WPARAM wparam, LPARAM lparam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && call->message == WM_COMMAND && LOWORD(call->wParam) == IDCANCEL)
        ++CancelCommands;
    return CallNextHookEx(SendHook, code, wparam, lparam);
}

inline LRESULT CALLBACK InvokerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
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

// The main window of the program, started once per test program from the
// NEWUDPSRVR.INI that `writeConfig` writes, and the hooks and the invoker
// the driver needs.
class StatusEnvironment : public ::testing::Environment {
  public:
    explicit StatusEnvironment(std::function<void()> writeConfig) : writeConfig_(std::move(writeConfig)) {}
    void SetUp() override {
        RemoveConfigFile();
        writeConfig_();
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

  private:
    std::function<void()> writeConfig_;
};

// Runs `step` on the GUI thread from the driver thread, through the dialog's
// own message loop. Bounded: gives up after 5 s.
inline bool OnGui(const std::function<void()>& step) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(Invoker, WM_RUNSTEP, 0, reinterpret_cast<LPARAM>(&step), SMTO_NORMAL, 5000,
                               &result) != 0 &&
           result == 1;
}

inline bool WaitUntil(DWORD ms, const std::function<bool()>& done) {
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
inline bool PostAndSettle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const int before = MarkersHandled;
    PostMessageA(window, message, wparam, lparam);
    PostMessageA(Invoker, WM_MARKER, 0, 0);
    return WaitUntil(5000, [&] { return MarkersHandled > before; });
}

inline bool WaitForRefreshes(int count, DWORD ms) {
    const int before = RefreshArrivals;
    // One round trip after the arrival: the refresh has been dispatched by then.
    return WaitUntil(ms, [&] { return RefreshArrivals >= before + count; }) && OnGui([] {});
}

inline bool IsOpen(HWND dialog) {
    bool open = false;
    OnGui([&] { open = IsWindow(dialog) && IsWindowVisible(dialog); });
    return open;
}

// Opens a dialog with `open` on this thread while `script` drives it from a
// helper thread. A dialog the script left open is ended, as a failure.
inline void DriveDialog(const char* caption, const std::function<void()>& open,
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

inline void OpenStatistics() {
    SendMessageA(MainWindow, WM_SYSCOMMAND, IDM_STATISTICS, 0);
}
inline void OpenAbout() {
    SendMessageA(MainWindow, WM_SYSCOMMAND, IDM_ABOUT, 0);
}

inline void PressButton(HWND dialog, int id) {
    OnGui([&] { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); });
}

inline std::vector<std::string> ListLines(HWND dialog, int listId = IDC_STAT_LIST) {
    std::vector<std::string> lines;
    OnGui([&] {
        HWND list = GetDlgItem(dialog, listId);
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

inline void SetHost(int host, const char* port, const char* group, HostCounterRecord counters) {
    std::strcpy(HostTable[host].RECVUDPPORTID, port);
    std::strcpy(HostTable[host].RECVMCASTADDR, group);
    std::strcpy(HostTable[host].SENDUDPPORTID, "6789");
    HostCounters[host] = counters;
}

inline void ClearHosts() {
    for (int host = 0; host < 6; ++host)
        SetHost(host, "?", "", {-1, 0, 0});
}

// Centred on the primary display, the OK button focused, CurrentDialog set.
inline void ExpectCentredAndFocused(HWND dialog, int okId) {
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

// NewUdpSrvrStatus: prints the lines of the running relay's Statistics dialog,
// as the dialog shows them, for a site that has no screen to look at it (the
// Linux service). The relay has no other interface than its windows, so this
// opens the dialog through the relay's system menu, reads its list and
// presses its OK button. The relay goes on relaying meanwhile: the dialog is
// modal and its loop dispatches the channel windows' messages.
//
// Exit code: 0 the lines were printed; 1 no relay runs; 3 another dialog or
// box of the relay is open (its caption and text are printed); 4 the
// Statistics dialog did not come up.
//
// --check-display: exit 0 when this process can make a window, i.e. the
// graphics driver configured for the Wine prefix serves (the service's
// launcher asks before it runs the relay without a display server).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "shell/AppGlobals.h"
#include "shell/Messages.h"

namespace {

enum : DWORD {
    DIALOG_WAIT_MS = 10000, // the relay's thread may be busy relaying a backlog
    CLOSE_WAIT_MS = 5000,
};

std::string Narrow(const wchar_t* wide) {
    char text[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

// Across processes the ANSI text messages come back wide under Wine: ask for
// the wide text and convert it.
std::string WindowText(HWND window) {
    wchar_t wide[512] = {};
    GetWindowTextW(window, wide, 512);
    return Narrow(wide);
}

bool IsDialog(HWND window) {
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    return lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(window);
}

bool IsStatisticsDialog(HWND window) {
    char cls[16] = {};
    HWND list = GetDlgItem(window, IDC_STAT_LIST);
    return IsDialog(window) && list != nullptr && GetClassNameA(list, cls, sizeof cls) &&
           lstrcmpiA(cls, "ListBox") == 0 && GetDlgItem(window, IDC_STAT_OK) != nullptr;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM lparam) {
    if (IsDialog(window))
        reinterpret_cast<std::vector<HWND>*>(lparam)->push_back(window);
    return TRUE;
}

// The visible dialogs and message boxes of the relay's GUI thread.
std::vector<HWND> OpenDialogs(DWORD thread) {
    std::vector<HWND> found;
    EnumThreadWindows(thread, CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindStatistics(DWORD thread) {
    for (HWND dialog : OpenDialogs(thread))
        if (IsStatisticsDialog(dialog))
            return dialog;
    return nullptr;
}

HWND WaitForStatistics(DWORD thread, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        if (HWND dialog = FindStatistics(thread))
            return dialog;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

std::vector<std::string> ListLines(HWND dialog) {
    std::vector<std::string> lines;
    HWND list = GetDlgItem(dialog, IDC_STAT_LIST);
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t wide[512] = {};
        if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < 512)
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
        lines.push_back(Narrow(wide));
    }
    return lines;
}

// A box or dialog that holds the relay's main window disabled: says which,
// so that an operator without a screen learns what the relay waits for.
int ReportBlockingDialogs(DWORD thread) {
    for (HWND dialog : OpenDialogs(thread)) {
        HWND text = GetDlgItem(dialog, 0xFFFF); // a message box's text
        std::fprintf(stderr, "the relay shows \"%s\"%s%s\n", WindowText(dialog).c_str(), text ? ": " : "",
                     text ? WindowText(text).c_str() : "");
    }
    return 3;
}

void CloseStatistics(HWND dialog) {
    HWND ok = GetDlgItem(dialog, IDC_STAT_OK);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_STAT_OK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    const DWORD start = GetTickCount();
    while (IsWindow(dialog) && GetTickCount() - start < CLOSE_WAIT_MS)
        Sleep(20);
}

int PrintStatistics() {
    HWND main = FindWindowExA(nullptr, nullptr, MainWindowClass, MainWindowTitle);
    if (main == nullptr) {
        std::fprintf(stderr, "no relay is running (no window \"%s\")\n", MainWindowTitle);
        return 1;
    }
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    // Open already (an operator, or another status command): read it and
    // leave it open.
    HWND dialog = FindStatistics(thread);
    const bool opened = dialog == nullptr;
    if (opened) {
        if (!IsWindowEnabled(main))
            return ReportBlockingDialogs(thread);
        PostMessageA(main, WM_SYSCOMMAND, IDM_STATISTICS, 0);
        dialog = WaitForStatistics(thread, DIALOG_WAIT_MS);
        if (dialog == nullptr) {
            std::fprintf(stderr, "the relay's Statistics dialog did not open within %lu ms\n",
                         static_cast<unsigned long>(DIALOG_WAIT_MS));
            return 4;
        }
    }
    const std::vector<std::string> lines = ListLines(dialog);
    if (opened)
        CloseStatistics(dialog);
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    if (lines.empty())
        std::fprintf(stderr, "the relay lists no host: host 0 is not configured\n");
    return 0;
}

int CheckDisplay() {
    HWND window = CreateWindowExA(0, "STATIC", "display check", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr)
        return 1;
    DestroyWindow(window);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && lstrcmpA(argv[1], "--check-display") == 0)
        return CheckDisplay();
    // Lines end in a bare newline, on Windows as under Wine's Unix terminal.
    _setmode(_fileno(stdout), _O_BINARY);
    return PrintStatistics();
}

#include "shell/MainWindow.h"

#include <cstdlib>

#include "config/ConfigStore.h"
#include "config/Syscfg/ConfigDialog.h"
#include "config/VirtualStoreCopy.h"
#include "log/EventLog.h"
#include "relay/RecvChannel.h"
#include "relay/SendChannel.h"
#include "resources/resource.h"
#include "shell/AppGlobals.h"
#include "shell/Messages.h"
#include "shell/PlatformCalls.h"
#include "status/StatusDialogs.h"
#include "status/StatusFile.h"

static_assert(WM_CONNECTHOST == WM_USER + 4 && WM_FORWARDDATAGRAM == WM_USER + 6, "message catalogue");
static_assert(WM_REFRESHSTATISTICS == WM_USER + 7 && WM_SOCKETEVENT == WM_USER + 101, "message catalogue");

namespace {

const char MemoryFailureText[] =
    "Error in allocating memory for configuration.\nProgram will Abort.\n Try Restarting the Server.";
const char StartFailureText[] =
    "Error in starting the Server.\nProgram will Abort.\n Try Restarting the Server.";
const char CloseQuestion[] =
    "This will disconnect all the broadcast connections.\nAre You Sure you want to do that?";
const char GuardRefusalText[] = "Instance guard held by another process. Not started";
const char SessionEndText[] = "Windows session ending. Relay stopped";
// Global\: one relay per machine, not one per logon session (Remote Desktop,
// fast user switching), where the window search sees only its own desktop.
const char InstanceMutexName[] = "Global\\VQX UDP Broadcast Server instance";

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Held by the running copy for as long as it lives (the system releases it
// with the process).
HANDLE InstanceMutex;

// Two copies started at the same instant can both find no window, since
// neither has made one yet; the mutex lets only one of them past. The thread
// that holds it may take it again. A refusal sets `refusal` to the error the
// record carries: 0 when another process holds the mutex, ERROR_ACCESS_DENIED
// when another account made it.
bool TakeInstanceMutex(DWORD& refusal) {
    refusal = 0;
    if (InstanceMutex == nullptr)
        InstanceMutex = CreateMutexA(nullptr, FALSE, InstanceMutexName);
    // The mutex of a copy that another account started admits only that
    // account: access denied means that copy runs.
    if (InstanceMutex == nullptr) {
        refusal = GetLastError();
        return refusal != ERROR_ACCESS_DENIED; // else the window check alone decides
    }
    // Abandoned: the copy that held it ended without releasing it (ended by
    // force, or it failed); this copy takes its place.
    const DWORD taken = WaitForSingleObject(InstanceMutex, 0);
    return taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED;
}

// A start refused by the guard says so, unless a window of the relay is on
// this desktop: that is the operator starting it twice, who sees it running.
void ReportRefusedStart(DWORD refusal) {
    if (FindWindowExA(nullptr, nullptr, MainWindowClass, MainWindowTitle) == nullptr)
        WriteLogRecord(ShellModule, 0, static_cast<int32_t>(refusal), GuardRefusalText, "", "");
}

// Datagrams arriving do not count as activity for the power plan's idle
// timer: without this request an idle PC sleeps under the running relay.
// The display may still turn off.
void HoldSystemAwake() {
    SetThreadExecutionStateProc(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void ReleaseSystemAwake() {
    SetThreadExecutionStateProc(ES_CONTINUOUS);
}

void ClearConfiguredFlags() {
    for (int& flag : HostConfigured)
        flag = 0;
}

void ConnectConfiguredHosts() {
    for (unsigned host = 0; host < HOST_COUNT; ++host)
        if (HostConfigured[host])
            PostMessageA(RecvChannelWindow, WM_CONNECTHOST, host, 0);
}

// The start sequence of the main window's WM_CREATE. -1 refuses the creation.
LRESULT StartSequence(HWND window, WPARAM wparam, LPARAM lparam) {
    ClearConfiguredFlags();
    if (!GetParamsFromINIFile(window)) {
        if (MessageBoxA(window, MemoryFailureText, MainWindowTitle, MB_RETRYCANCEL) == IDRETRY)
            return SendMessageA(window, WM_CREATE, 0, 0);
        return -1;
    }
    if (CreateChannelWindows(window, AppInstance)) {
        ReportVirtualStoreCopy();
        ConnectConfiguredHosts();
        HoldSystemAwake();
        StartStatusFile(window);
    } else {
        MessageBoxA(window, StartFailureText, MainWindowTitle, MB_OK);
        SendMessageA(window, WM_DESTROY, 0, 0);
    }
    return DefWindowProcA(window, WM_CREATE, wparam, lparam);
}

// Blue text on black, then back to the minimised state the program lives in.
LRESULT PaintMainWindow(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SetBkColor(dc, PALETTERGB(0, 0, 0));
    RECT client;
    GetClientRect(window, &client);
    SetTextColor(dc, PALETTERGB(0, 0, 255));
    DrawTextA(dc, "Main Screen... UDP Broadcast Server", -1, &client, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    EndPaint(window, &paint);
    ShowWindow(window, SW_MINIMIZE);
    return 0;
}

// The program's own commands carry their ids whole; they are no multiples of
// 16, so they are compared in full before the system's commands, whose low
// four bits Windows uses for itself (a caption's double click sends
// SC_MAXIMIZE + 2).
LRESULT SystemCommand(HWND window, WPARAM wparam, LPARAM lparam) {
    switch (wparam) {
    case IDM_ABOUT:
        ShowAboutBox(window);
        return 0;
    case IDM_CONFIGURE:
        ShowConfigDialog(window);
        return 0;
    case IDM_STATISTICS:
        ShowStatisticsBox(window);
        return 0;
    }
    switch (wparam & 0xFFF0) {
    case SC_MAXIMIZE:
    case SC_RESTORE:
        return 1; // the main window stays minimised
    case SC_CLOSE:
        if (MessageBoxA(window, CloseQuestion, "UDP Server", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
            IDNO)
            return 0;
        break;
    }
    return DefWindowProcA(window, WM_SYSCOMMAND, wparam, lparam);
}

void StatisticsTimer(HWND window) {
    KillTimer(window, IDT_STATISTICS);
    if (StatisticsOpen)
        PostMessageA(CurrentDialog, WM_REFRESHSTATISTICS, 0, 0);
}

// Send socket first, then the receive side; the receive sockets are left to
// the end of the process.
void Shutdown(HWND window) {
    KillTimer(window, IDT_STATISTICS);
    StopStatusFile(window);
    SendMessageA(SendChannelWindow, WM_DESTROY, 0, 0);
    SendMessageA(RecvChannelWindow, WM_DESTROY, 0, 0);
    ReleaseSystemAwake();
    PostQuitMessage(0);
}

// The logoff, Remote Desktop session end or shutdown goes ahead: Windows may
// end the process at any moment once this message has been handled, so the
// record, the shutdown and the exit all happen here.
void EndWithSession(HWND window, bool ending) {
    if (!ending)
        return; // another program refused; the session and the relay go on
    WriteLogRecord(ShellModule, 0, 0, SessionEndText, "", "");
    Shutdown(window);
    std::exit(0);
}

// The program's window classes: redrawn whole on resize, the arrow cursor,
// a black background. The main window adds its icon.
WNDCLASSEXA BlackWindowClass(const char* className, WNDPROC procedure, HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = className;
    return windowClass;
}

// Registers the class of a hidden channel window and creates the window,
// whose WM_CREATE runs inside; NULL when either fails.
HWND CreateChannelWindow(const char* className, WNDPROC procedure, HWND mainWindow, HINSTANCE instance) {
    const WNDCLASSEXA windowClass = BlackWindowClass(className, procedure, instance);
    if (RegisterClassExA(&windowClass) == 0)
        return nullptr;
    HWND window = CreateWindowExA(0, className, nullptr, WS_CHILD, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, mainWindow, nullptr, instance, nullptr);
    if (window != nullptr)
        ShowWindow(window, SW_HIDE);
    return window;
}

bool RegisterMainClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = BlackWindowClass(MainWindowClass, MainWndProc, instance);
    windowClass.hIcon = LoadIconA(instance, UDP_ICONS);
    // The icon's own small image, not its large one shrunk.
    windowClass.hIconSm =
        static_cast<HICON>(LoadImageA(instance, UDP_ICONS, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                      GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    return RegisterClassExA(&windowClass) != 0;
}

void AppendCommands(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_CONFIGURE, "Con&figure");
    AppendMenuA(menu, MF_STRING, IDM_STATISTICS, "S&tatistics");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_ABOUT, "&About VQX UDP broadcast Server");
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        return StartSequence(window, wparam, lparam);
    case WM_PAINT:
        return PaintMainWindow(window);
    case WM_SYSCOMMAND:
        return SystemCommand(window, wparam, lparam);
    case WM_TIMER:
        if (wparam == IDT_STATISTICS)
            StatisticsTimer(window);
        else if (wparam == IDT_STATUSFILE)
            WriteStatusFile();
        break;
    case WM_QUERYENDSESSION:
        return TRUE; // never a question that would hold up a logoff or a shutdown
    case WM_ENDSESSION:
        EndWithSession(window, wparam != FALSE);
        break;
    case WM_DESTROY:
        Shutdown(window);
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

int CreateChannelWindows(HWND mainWindow, HINSTANCE instance) {
    RecvChannelWindow = CreateChannelWindow(RecvChannelClass, UdpRecvWndProc, mainWindow, instance);
    if (RecvChannelWindow == nullptr)
        return 0;
    SendChannelWindow = CreateChannelWindow(SendChannelClass, UdpSendWndProc, mainWindow, instance);
    return SendChannelWindow != nullptr ? 1 : 0;
}

HWND StartMainWindow(HINSTANCE instance) {
    AppInstance = instance;
    DWORD refusal = 0;
    if (!TakeInstanceMutex(refusal)) {
        ReportRefusedStart(refusal);
        return nullptr; // one instance runs already; it is left as it is
    }
    if (FindWindowExA(nullptr, nullptr, MainWindowClass, MainWindowTitle) != nullptr)
        return nullptr; // this thread's own copy runs
    if (!RegisterMainClass(instance))
        return nullptr;
    HWND window =
        CreateWindowExA(0, MainWindowClass, MainWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return nullptr;
    MainWindow = window;
    AppendCommands(window);
    ShowWindow(window, SW_SHOWMINNOACTIVE);
    KeepMinimisedAndInactive(window);
    UpdateWindow(window);
    return window;
}

void KeepMinimisedAndInactive(HWND window) {
    if (IsIconic(window) && GetActiveWindow() != window)
        return;
    // Minimising alone leaves the only window of the desktop active; hiding
    // hands the activation on, and the window comes back without it.
    ShowWindow(window, SW_HIDE);
    ShowWindow(window, SW_SHOWMINNOACTIVE);
}

int RunMessageLoop() {
    MSG message;
    BOOL got;
    while ((got = GetMessageProc(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        RenewOverdueStatusFile();
    }
    // A failed GetMessageA (-1) leaves the message as it was: no quit code.
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}

// winprobe: looks at the running relay from another process under the same
// Wine server, as an operator's tools would. One command per call; prints
// what it saw and exits 0 when the expectation held, 1 when not, 2 on misuse.
#include <windows.h>

#include <msiquery.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MessageBoxShape.h"

namespace {

const char MainClass[] = "UDPSERVER";
// "Sever" as the relay's title has always been: tools find the window by it.
const char MainTitle[] = "VQX UDP Broadcast Sever";

HWND WaitForWindow(const char* cls, const char* title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        HWND window = FindWindowExA(nullptr, nullptr, cls, title);
        if (window != nullptr)
            return window;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

std::string WindowText(HWND window) {
    wchar_t wide[1024] = {};
    GetWindowTextW(window, wide, 1024);
    char text[2048] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

int MainState(DWORD timeoutMs) {
    HWND window = WaitForWindow(MainClass, MainTitle, timeoutMs);
    if (window == nullptr)
        return 1;
    std::printf("visible=%d minimized=%d zoomed=%d foreground=%d\n", IsWindowVisible(window) ? 1 : 0,
                IsIconic(window) ? 1 : 0, IsZoomed(window) ? 1 : 0, GetForegroundWindow() == window ? 1 : 0);
    return 0;
}

struct BoxSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM lparam) {
    auto* search = reinterpret_cast<BoxSearch*>(lparam);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(window) && WindowText(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForBox(const char* caption, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        BoxSearch search{caption, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

// A dialog's button, pressed as the operator would (BM_CLICK on the button).
int PressButton(const char* caption, int button, DWORD timeoutMs) {
    HWND dialog = WaitForBox(caption, timeoutMs);
    return dialog != nullptr && PressBoxButton(dialog, button) ? 0 : 1;
}

// Prints the message box's shape as MB_ flags ("type=0x124 MB_YESNO|...") and
// its text, then presses the button if the box has it. Exit 0 only when the
// shape is the expected one and the button was pressed; 3 otherwise.
int AnswerBox(const char* caption, UINT type, int button, DWORD timeoutMs) {
    HWND box = WaitForBox(caption, timeoutMs);
    if (box == nullptr)
        return 1;
    const UINT shape = MessageBoxShape(box);
    HWND text = GetDlgItem(box, 0xFFFF);
    std::printf("type=%#x %s\n%s\n", shape, DescribeBoxShape(shape).c_str(),
                text ? WindowText(text).c_str() : "");
    std::fflush(stdout);
    const bool pressed = PressBoxButton(box, button);
    return pressed && shape == (type & MessageBoxShapeMask) ? 0 : 3;
}

// A control of a dialog found by its caption (NULL when either is missing).
HWND DialogItem(const char* caption, int id, DWORD timeoutMs = 5000, HWND* dialog = nullptr) {
    HWND found = WaitForBox(caption, timeoutMs);
    if (dialog != nullptr)
        *dialog = found;
    return found != nullptr ? GetDlgItem(found, id) : nullptr;
}

// A dialog's button clicked without waiting for what the click opens.
int ClickButton(const char* caption, int id, DWORD timeoutMs) {
    HWND button = DialogItem(caption, id, timeoutMs);
    return button != nullptr && PostMessageA(button, BM_CLICK, 0, 0) ? 0 : 1;
}

// Types over the whole text of an edit field, one character message each, as
// the keyboard would; an empty text is a backspace over the selection.
int TypeText(const char* caption, int id, const char* text) {
    HWND field = DialogItem(caption, id);
    if (field == nullptr)
        return 1;
    SendMessageA(field, EM_SETSEL, 0, -1);
    if (*text == '\0')
        SendMessageA(field, WM_CHAR, '\b', 1);
    for (const char* c = text; *c != '\0'; ++c)
        SendMessageA(field, WM_CHAR, static_cast<unsigned char>(*c), 1);
    return 0;
}

// Selects a list line and tells the dialog, as a click on the line would.
int SelectLine(const char* caption, int id, int index) {
    HWND dialog = nullptr;
    HWND list = DialogItem(caption, id, 5000, &dialog);
    if (list == nullptr || SendMessageA(list, LB_SETCURSEL, index, 0) == LB_ERR)
        return 1;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    return 0;
}

// Prints a list's lines. Across processes LB_GETTEXT comes back wide.
int ListLines(const char* caption, int id) {
    HWND list = DialogItem(caption, id);
    if (list == nullptr)
        return 1;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t wide[512] = {};
        if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < 512)
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
        char line[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, wide, -1, line, sizeof line, nullptr, nullptr);
        std::printf("%s\n", line);
    }
    return 0;
}

LRESULT CALLBACK FakeProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, m, wp, lp);
}

// A top-level window of the program's class with another title.
int FakeWindow(const char* title, DWORD ms) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = FakeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = MainClass;
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, MainClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    if (window == nullptr)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(10);
    }
    return 0;
}

// Says "ready" once the mutex handle is there (nullptr: it is not, exit 1),
// then keeps it for ms.
int KeepMutexHandle(HANDLE mutex, DWORD ms) {
    if (mutex == nullptr)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(ms);
    return 0;
}

// Holds the named mutex for a while, as a copy in another logon session does.
int HoldMutex(const char* name, DWORD ms) {
    return KeepMutexHandle(CreateMutexA(nullptr, TRUE, name), ms);
}

// Holds a handle to the named mutex without owning it, so that the mutex
// outlives a copy that ends holding it: the next wait finds it abandoned.
int OpenMutexHandle(const char* name, DWORD ms) {
    return KeepMutexHandle(OpenMutexA(SYNCHRONIZE, FALSE, name), ms);
}

// Ends the relay's process by force, as Task Manager's End task would.
int TerminateRelay() {
    HWND window = WaitForWindow(MainClass, MainTitle, 5000);
    DWORD id = 0;
    if (window == nullptr || GetWindowThreadProcessId(window, &id) == 0)
        return 1;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    const bool ended = process != nullptr && TerminateProcess(process, 9) &&
                       WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    if (process != nullptr)
        CloseHandle(process);
    return ended ? 0 : 1;
}

// What Windows sends at a logoff: WM_QUERYENDSESSION, then WM_ENDSESSION
// with TRUE. Prints the query's answer ("query=1"), or "query=none" when it
// did not come within 5 s (a box would hold it).
int EndSession() {
    HWND window = WaitForWindow(MainClass, MainTitle, 5000);
    if (window == nullptr)
        return 1;
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer) ==
        0) {
        std::printf("query=none\n");
        return 1;
    }
    std::printf("query=%d\n", static_cast<int>(answer));
    std::fflush(stdout);
    SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer);
    return 0;
}

// Hands a field of a dialog an address as its word-break procedure and asks
// it to select a word, so that the field's procedure faults as a bug of its
// own would: the program's fatal exception report comes up.
int FaultField(const char* caption, int id) {
    HWND field = DialogItem(caption, id);
    if (field == nullptr)
        return 1;
    SendMessageA(field, EM_SETWORDBREAKPROC, 0, 0x10);
    PostMessageA(field, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(4, 4));
    return 0;
}

// Prints the version resource's names and version of a program file, one
// "Key=value" line each.
int PrintVersion(const char* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::string data(size, '\0');
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, data.data()))
        return 1;
    for (const char* key : {"CompanyName", "ProductName", "ProductVersion", "FileVersion"}) {
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + key;
        char* value = nullptr;
        UINT length = 0;
        if (VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value)
            std::printf("%s=%s\n", key, value);
    }
    return 0;
}

// Prints one property of an installer package's Property table.
int PrintMsiProperty(const char* path, const char* name) {
    MSIHANDLE database = 0, view = 0, record = 0;
    const std::string query = std::string("SELECT `Value` FROM `Property` WHERE `Property` = '") + name + "'";
    char value[256] = "";
    DWORD size = sizeof value;
    const bool read = MsiOpenDatabaseA(path, MSIDBOPEN_READONLY, &database) == ERROR_SUCCESS &&
                      MsiDatabaseOpenViewA(database, query.c_str(), &view) == ERROR_SUCCESS &&
                      MsiViewExecute(view, 0) == ERROR_SUCCESS &&
                      MsiViewFetch(view, &record) == ERROR_SUCCESS &&
                      MsiRecordGetStringA(record, 1, value, &size) == ERROR_SUCCESS;
    for (MSIHANDLE handle : {record, view, database})
        if (handle)
            MsiCloseHandle(handle);
    if (!read)
        return 1;
    std::printf("%s\n", value);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: winprobe state|post-syscommand ID|answer CAPTION MB_FLAGS ID [MS]|"
                 "press CAPTION ID [MS]|click CAPTION ID [MS]|type CAPTION ID TEXT|select CAPTION ID INDEX|"
                 "list CAPTION ID|wait-box CAPTION [MS]|fault-field CAPTION ID|version FILE|fake-window "
                 "TITLE MS|hold-mutex NAME MS|open-mutex NAME MS|terminate|end-session|msi-property MSI NAME|"
                 "gone [MS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const std::string cmd = argv[1];
    if (cmd == "state")
        return MainState(argc > 2 ? std::atoi(argv[2]) : 5000);
    if (cmd == "post-syscommand" && argc > 2) {
        HWND window = WaitForWindow(MainClass, MainTitle, 5000);
        return window && PostMessageA(window, WM_SYSCOMMAND, std::strtoul(argv[2], nullptr, 0), 0) ? 0 : 1;
    }
    if (cmd == "answer" && argc > 4)
        return AnswerBox(argv[2], std::strtoul(argv[3], nullptr, 0), std::atoi(argv[4]),
                         argc > 5 ? std::atoi(argv[5]) : 5000);
    if (cmd == "press" && argc > 3)
        return PressButton(argv[2], std::atoi(argv[3]), argc > 4 ? std::atoi(argv[4]) : 5000);
    if (cmd == "click" && argc > 3)
        return ClickButton(argv[2], std::atoi(argv[3]), argc > 4 ? std::atoi(argv[4]) : 5000);
    if (cmd == "type" && argc > 4)
        return TypeText(argv[2], std::atoi(argv[3]), argv[4]);
    if (cmd == "select" && argc > 4)
        return SelectLine(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (cmd == "list" && argc > 3)
        return ListLines(argv[2], std::atoi(argv[3]));
    if (cmd == "wait-box" && argc > 2)
        return WaitForBox(argv[2], argc > 3 ? std::atoi(argv[3]) : 5000) ? 0 : 1;
    if (cmd == "msi-property" && argc > 3)
        return PrintMsiProperty(argv[2], argv[3]);
    if (cmd == "version" && argc > 2)
        return PrintVersion(argv[2]);
    if (cmd == "fault-field" && argc > 3)
        return FaultField(argv[2], std::atoi(argv[3]));
    if (cmd == "fake-window" && argc > 3)
        return FakeWindow(argv[2], std::atoi(argv[3]));
    if (cmd == "hold-mutex" && argc > 3)
        return HoldMutex(argv[2], std::atoi(argv[3]));
    if (cmd == "open-mutex" && argc > 3)
        return OpenMutexHandle(argv[2], std::atoi(argv[3]));
    if (cmd == "terminate")
        return TerminateRelay();
    if (cmd == "end-session")
        return EndSession();
    if (cmd == "gone") { // exit 0 once no main window exists
        const DWORD start = GetTickCount(), ms = argc > 2 ? std::atoi(argv[2]) : 5000;
        do {
            if (FindWindowExA(nullptr, nullptr, MainClass, MainTitle) == nullptr)
                return 0;
            Sleep(20);
        } while (GetTickCount() - start < ms);
        return 1;
    }
    return Usage();
}

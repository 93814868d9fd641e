// The fatal exception report of the field procedure, watched from outside
// the faulting process: this test program starts itself again as a child
// that faults inside (or outside) the guarded procedure, finds the child's
// report box, checks it, presses its OK button and reads the exit code. One
// case relays in the lab while the box is open.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "FieldDialog.h"
#include "LabSockets.h"
#include "MessageBoxShape.h"
#include "TestSupport.h"
#include "shell/FatalReport.h"
#include "shell/MainWindow.h"

namespace {

const char ChildVariable[] = "FATAL_GUARD_CHILD";
const char UnguardedTitle[] = "FatalGuard unguarded window";
const char ReportCaption[] = "FATAL ERROR: Call Support";
enum : DWORD { ChildWentOn = 7, ChildNoField = 9, ChildLoopOnFaultedStack = 11 };
enum : UINT { FaultMessage = WM_USER + 123, NestingMessage = WM_USER + 1, NestedMessage = WM_USER + 2 };

// ---- the child: a field of the configuration dialog whose own procedure
// faults in the way the scenario names.

LRESULT CALLBACK DividingProc(HWND, UINT, WPARAM wparam, LPARAM) {
    volatile int divisor = static_cast<int>(wparam) + 5; // 0 for the wparam -5 sent
    return 100 / divisor;
}

LRESULT CALLBACK NullWritingProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_CHAR)
        *static_cast<volatile int*>(nullptr) = 1;
    return 0;
}

LRESULT CALLBACK RaisingProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == FaultMessage) // not on the paint that the report's own loop brings
        RaiseException(0xE0001234u, 0, 0, nullptr);
    return 0;
}

// Calls itself, through a pointer the compiler cannot follow, NullWriteDepth
// calls deep (1,000: some 300 KB), notes its deepest frame and writes through
// null there; with a depth of 0 it goes on until the stack overflows.
char* volatile DeepestFrame = nullptr;
int volatile NullWriteDepth = 1000;
LRESULT CALLBACK DeeplyNullWritingProc(HWND field, UINT message, WPARAM wparam, LPARAM lparam);
WNDPROC volatile Recurse = DeeplyNullWritingProc;
LRESULT CALLBACK DeeplyNullWritingProc(HWND field, UINT message, WPARAM wparam, LPARAM lparam) {
    static int depth;
    volatile char frame[256] = {};
    if (message != WM_CHAR)
        return 0;
    DeepestFrame = const_cast<char*>(frame);
    if (++depth == NullWriteDepth)
        return NullWritingProc(field, message, wparam, lparam);
    return Recurse(field, message, wparam, lparam) + frame[wparam % sizeof frame];
}

LRESULT CALLBACK NestingProc(HWND field, UINT message, WPARAM, LPARAM lparam) {
    if (message == NestingMessage)
        return SendMessageA(field, NestedMessage, 22, 33);
    if (message == NestedMessage)
        return DividingProc(field, message, static_cast<WPARAM>(-5), lparam);
    return 0;
}

// Raises and handles inside: a C++ exception, and the platform's own.
LRESULT CALLBACK HandlingProc(HWND, UINT, WPARAM, LPARAM) {
    int caught = 0;
    try {
        throw std::runtime_error("handled inside");
    } catch (const std::exception&) {
        caught = 40;
    }
    OutputDebugStringA("handled by the platform");
    return caught + (IsBadReadPtr(nullptr, 4) ? 2 : 0);
}

void FaultInField(WNDPROC fieldProc, UINT message, WPARAM wparam, LPARAM lparam) {
    HWND dialog = OpenFieldDialog(fieldProc);
    if (dialog == nullptr)
        ExitProcess(ChildNoField);
    const LRESULT result = SendMessageA(GetDlgItem(dialog, IDC_RECVPORT), message, wparam, lparam);
    ExitProcess(result == 42 ? DWORD{ChildWentOn} : 0);
}

// The relay of host 0 runs in this thread; the fault comes once it is
// connected, so the box's message loop is what relays from then on.
void FaultWhileRelaying() {
    WriteSampleConfig({0});
    if (StartMainWindow(GetModuleHandleA(nullptr)) == nullptr)
        ExitProcess(ChildNoField);
    PumpMessages(5000, [] { return HostChannelUp(0); });
    FaultInField(DividingProc, FaultMessage, static_cast<WPARAM>(-5), -7);
}

// The last resort of the process, instead of the platform's debugger.
LONG WINAPI ExitWithExceptionCode(EXCEPTION_POINTERS* exception) {
    ExitProcess(exception->ExceptionRecord->ExceptionCode);
}

// A window outside the guard: on the parent's FaultMessage, while the report
// is open, it tells whether the report's loop runs on the stack that the
// field faulted on (below its deepest frame), or else divides by zero.
LRESULT CALLBACK UnguardedProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    volatile char here = 0;
    if (message == FaultMessage && &here < DeepestFrame)
        ExitProcess(ChildLoopOnFaultedStack);
    return DividingProc(window, message, wparam, lparam);
}

// The field faults deep down, and the unguarded window waits for its turn.
void FaultHereAndLaterElsewhere() {
    SetUnhandledExceptionFilter(ExitWithExceptionCode);
    HWND unguarded =
        CreateWindowA("STATIC", UnguardedTitle, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(unguarded, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(UnguardedProc));
    FaultInField(DeeplyNullWritingProc, WM_CHAR, '7', 1);
}

[[noreturn]] void RunChild(const std::string& scenario) {
    if (scenario == "divide")
        FaultInField(DividingProc, FaultMessage, static_cast<WPARAM>(-5), -7);
    if (scenario == "access")
        FaultInField(NullWritingProc, WM_CHAR, '7', 1);
    if (scenario == "overflow") { // with the reserve the program's start asks for
        ReserveStackForFatalReport();
        NullWriteDepth = 0;
        FaultInField(DeeplyNullWritingProc, WM_CHAR, '7', 1);
    }
    if (scenario == "unknown")
        FaultInField(RaisingProc, FaultMessage, 512, 0);
    if (scenario == "twice")
        FaultHereAndLaterElsewhere();
    if (scenario == "nested")
        FaultInField(NestingProc, NestingMessage, 11, 0);
    if (scenario == "handled")
        FaultInField(HandlingProc, FaultMessage, 0, 0);
    if (scenario == "relay")
        FaultWhileRelaying();
    if (scenario == "outside") { // no guard here: the fault reaches the top level
        SetUnhandledExceptionFilter(ExitWithExceptionCode);
        ExitProcess(static_cast<UINT>(DividingProc(nullptr, 0, static_cast<WPARAM>(-5), 0)));
    }
    ExitProcess(0);
}

// ---- the parent.

struct ChildRun {
    PROCESS_INFORMATION process = {};
    HWND box = nullptr;
    std::string text;
};

ChildRun StartChild(const char* scenario) {
    ChildRun run;
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe +
                          "\" --gtest_filter=FatalGuardChild.* --gtest_catch_exceptions=0 --gtest_brief=1";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    SetEnvironmentVariableA(ChildVariable, scenario);
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp); // the child's event log, if any, goes there
    const BOOL started =
        CreateProcessA(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr, temp, &startup, &run.process);
    SetEnvironmentVariableA(ChildVariable, nullptr);
    EXPECT_TRUE(started) << GetLastError();
    return run;
}

// Waits for the child's report box (at most 10 s, or until the child ends)
// and checks what the operator sees: no owner, OK alone with the hand icon,
// the text.
bool WaitForReport(ChildRun& run) {
    for (int i = 0; i < 500 && run.box == nullptr; ++i) {
        run.box = FindDialog(ReportCaption, run.process.dwProcessId);
        if (run.box == nullptr && WaitForSingleObject(run.process.hProcess, 20) == WAIT_OBJECT_0)
            return false;
    }
    if (run.box == nullptr)
        return false;
    char text[1024] = {};
    GetWindowTextA(GetDlgItem(run.box, 0xFFFF), text, sizeof text);
    run.text = text;
    EXPECT_EQ(GetWindow(run.box, GW_OWNER), nullptr);
    EXPECT_EQ(DescribeBoxShape(MessageBoxShape(run.box)), DescribeBoxShape(MB_OK | MB_ICONHAND));
    return true;
}

// Presses OK in the report (when there is one) and returns the exit code.
DWORD FinishChild(ChildRun& run) {
    if (run.box != nullptr)
        PressBoxButton(run.box, IDOK);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(run.process.hProcess, 10000) == WAIT_OBJECT_0)
        GetExitCodeProcess(run.process.hProcess, &code);
    else
        TerminateProcess(run.process.hProcess, 99);
    CloseHandle(run.process.hProcess);
    CloseHandle(run.process.hThread);
    return code;
}

std::string ReportHead(unsigned message, const char* hex, int wparam, int lparam) {
    return "MODULE : SrvrConfigChildProc in Syscfg \n\n Message : " + std::to_string(message) +
           " (Dec.)    " + hex + "(Hex) \n Wparam : " + std::to_string(wparam) +
           "   Lparam : " + std::to_string(lparam) + "\n\n";
}

void ExpectReport(const char* scenario, const std::string& text) {
    ChildRun run = StartChild(scenario);
    EXPECT_TRUE(WaitForReport(run)) << scenario;
    EXPECT_EQ(run.text, text) << scenario;
    EXPECT_EQ(FinishChild(run), 1u) << scenario;
}

const char Quit[] = "\n\nAPPLICATION WILL QUIT";

} // namespace

// The child's entry; skipped when this program runs as the parent.
TEST(FatalGuardChild, Run) {
    char scenario[32] = {};
    if (GetEnvironmentVariableA(ChildVariable, scenario, sizeof scenario) == 0)
        GTEST_SKIP() << "started by the FatalGuard tests only";
    RunChild(scenario);
}

const std::string AccessReport =
    ReportHead(WM_CHAR, "102", '7', 1) +
    "Exception : Attempted to read from or write to a virtual address \nfor which "
    "it does not have the appropriate access." +
    Quit;

TEST(FatalGuard, ProcessorFaultsAndForeignCodesAreReportedAndExitWithOne) {
    const struct {
        const char* scenario;
        std::string report;
    } kinds[] = {
        {"divide",
         ReportHead(FaultMessage, "47B", -5, -7) + "Exception: Integer being divided by zero" + Quit},
        {"access", AccessReport},
        {"unknown", ReportHead(FaultMessage, "47B", 512, 0) + "Unknown Exception or error" + Quit},
    };
    for (const auto& kind : kinds)
        ExpectReport(kind.scenario, kind.report);
}

// Only the unwound stack has room left for the report's box.
TEST(FatalGuard, AStackOverflowIsReportedOnceTheGuardHasUnwound) {
#if defined(_WIN64)
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr)
        GTEST_SKIP()
            << "Wine's 64-bit exception dispatch ends the thread on a stack overflow before any handler runs";
#endif
    ExpectReport("overflow", ReportHead(WM_CHAR, "102", '7', 1) + "Unknown Exception or error" + Quit);
}

TEST(FatalGuard, InnermostGuardReportsItsOwnMessage) {
    ExpectReport("nested", ReportHead(NestedMessage, "402", 22, 33) +
                               "Exception: Integer being divided by zero" + Quit);
}

TEST(FatalGuard, ExceptionsHandledInsideOrRaisedOutsideGiveNoReport) {
    ChildRun handled = StartChild("handled");
    EXPECT_FALSE(WaitForReport(handled));
    EXPECT_EQ(FinishChild(handled), ChildWentOn);
    ChildRun outside = StartChild("outside");
    EXPECT_FALSE(WaitForReport(outside));
    EXPECT_EQ(FinishChild(outside), 0xC0000094u); // it reached the top level unreported
}

// The report is shown once the guard has unwound: its box's loop runs above
// the frames that faulted (so a stack overflow leaves it stack to run on),
// and a fault of another window while the box is open is none of the
// field's, and nothing catches it.
TEST(FatalGuard, TheReportRunsAboveTheFaultedFramesAndAFaultElsewhereIsNotTheFields) {
    ChildRun run = StartChild("twice");
    ASSERT_TRUE(WaitForReport(run));
    EXPECT_EQ(run.text, AccessReport);
    PostMessageA(FindWindowA(nullptr, UnguardedTitle), FaultMessage, static_cast<WPARAM>(-5), 0);
    run.box = nullptr; // left open: the second fault ends the child
    EXPECT_EQ(FinishChild(run), 0xC0000094u);
}

TEST(FatalGuard, RelayingGoesOnWhileTheReportIsOpenAndStopsWithTheExit) {
    RemoveConfigFile();
    ChildRun run = StartChild("relay");
    ASSERT_TRUE(WaitForReport(run));
    SOCKET sender = HostSender(), receiver = KlorReceiver();
    ASSERT_NE(receiver, INVALID_SOCKET);
    auto sendAndCount = [&](int count) {
        SendForHost(sender, 0, count, HostGroup(0));
        return ReceivePerHost(receiver, count)[0];
    };
    EXPECT_EQ(sendAndCount(20), 20);
    EXPECT_EQ(FinishChild(run), 1u);
    EXPECT_EQ(sendAndCount(5), 0);
    closesocket(sender);
    closesocket(receiver);
    RemoveConfigFile();
}

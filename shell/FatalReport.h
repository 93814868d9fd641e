#pragma once
// The fatal exception report, and the guard that runs a window procedure's
// body under a frame-based exception handler and reports whatever escapes it.
#include <windows.h>

// Shows the report in a box without owner, then ends the process through the
// C runtime's exit with code 1. Never returns.
[[noreturn]] void ReportFatalException(const char* module, DWORD code, UINT message, WPARAM wparam,
                                       LPARAM lparam);

// One window-procedure call to run under the guard. The layout is read by the
// x64 guard written in assembly: keep the members in this order.
struct GuardedCall {
    WNDPROC body;
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    const char* module; // names the procedure in the report
};

// Calls call->body with the call's message. An exception that nothing inside
// the call handles ends in ReportFatalException with the call's module text
// and message; one that code inside handles itself is not seen. Each guarded
// call has its own guard, so in nested calls the innermost one reports.
extern "C" LRESULT CallUnderFatalGuard(const GuardedCall* call);

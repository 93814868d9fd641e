#pragma once
// The fatal exception report, and the guard that runs a window procedure's
// body under a frame-based exception handler and reports whatever escapes it.
#include <windows.h>

// Asks the system to keep stack in reserve for the calling thread's stack
// overflow, so that the exception's dispatch and the guard's unwind can run
// where the overflow struck; the report itself and its box come after the
// unwind, on the stack the faulted call had used. Called at the start of the
// thread that runs the guarded procedures.
void ReserveStackForFatalReport();

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
// the call handles ends in the report: its text, with the call's module text
// and message, in a box without owner, then the C runtime's exit with code 1.
// One that code inside handles itself is not seen. Each guarded call has its
// own guard, so in nested calls the innermost one reports.
extern "C" LRESULT CallUnderFatalGuard(const GuardedCall* call);

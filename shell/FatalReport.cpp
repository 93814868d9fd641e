#include "shell/FatalReport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "shell/FatalReportText.h"

namespace {

// Never returns.
[[noreturn]] void ReportFatalException(const char* module, DWORD code, UINT message, WPARAM wparam,
                                       LPARAM lparam) {
    // A fixed buffer: the heap may be what failed. Only the low 32 bits of the
    // parameters are reported, on either word width.
    char report[FATAL_REPORT_SIZE];
    FormatFatalReport(report, sizeof report, module, code, message, static_cast<int32_t>(wparam),
                      static_cast<int32_t>(lparam));
    MessageBoxA(nullptr, report, "FATAL ERROR: Call Support", MB_OK | MB_ICONHAND);
    std::exit(1);
}

} // namespace

// The dispatch of an exception copies the processor context (with the
// extended state, a few KB) onto the stack, and the unwind a second one;
// 64 KiB also leaves room should the box ever have to open there. The
// program's stack reserve is far larger (2 MiB as MinGW links it, 1 MiB
// with MSVC's default).
enum : ULONG { FatalReportStackGuarantee = 64 * 1024 };

void ReserveStackForFatalReport() {
    ULONG size = FatalReportStackGuarantee;
    SetThreadStackGuarantee(&size); // on failure the system's own reserve stays
}

#if defined(_MSC_VER)

extern "C" LRESULT CallUnderFatalGuard(const GuardedCall* call) {
    DWORD code = 0;
    __try {
        return call->body(call->window, call->message, call->wparam, call->lparam);
    } __except (code = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        ReportFatalException(call->module, code, call->message, call->wparam, call->lparam);
    }
}

#elif defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

// GCC has no __try. The guard is a small procedure in assembly with a
// frame-based handler of its own, which the system's dispatcher consults
// exactly where it would consult a __try at the guard's frame: after every
// frame further in, and only for exceptions none of them handled. As an
// __except block does, the handler only decides; it unwinds to the guard's
// frame and resumes there, outside the guarded range, and only then is the
// report formatted and shown. So the report has the stack the call had used
// (a stack overflow leaves next to none where it struck), and while the box
// is open nothing of the call is left on the stack to catch another fault.
namespace {

// What a first-pass dispatch (not an unwind) hands the guard's handler.
bool IsFirstPass(const EXCEPTION_RECORD* record) {
    return (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) == 0;
}

} // namespace

// Called by the guard's assembly once unwound, on the guard's own frame.
extern "C" [[noreturn]] void ReportEscaped(const GuardedCall* call, DWORD code) {
    ReportFatalException(call->module, code, call->message, call->wparam, call->lparam);
}

#if defined(__x86_64__)

// The guard's handler is named in its unwind data (.seh_handler). Its frame
// holds the callee's home area, and it keeps the call in its caller's home
// slot of the first argument, just above its return address. The
// continuation FatalGuardEscaped lies in a procedure of its own whose unwind
// data describes the same frame and names no handler: a fault after the
// unwind passes the guard by, as one in an __except block does.
static_assert(offsetof(GuardedCall, body) == 0 && offsetof(GuardedCall, window) == 8 &&
                  offsetof(GuardedCall, message) == 16 && offsetof(GuardedCall, wparam) == 24 &&
                  offsetof(GuardedCall, lparam) == 32,
              "the assembly below reads these offsets");

extern "C" char FatalGuardEscaped[];

// Frames further in are unwound (their own handlers run) and the guard's
// frame is resumed at FatalGuardEscaped with the exception code in RAX.
extern "C" EXCEPTION_DISPOSITION FatalGuardHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                                   DISPATCHER_CONTEXT* dispatch) {
    if (IsFirstPass(record))
        RtlUnwindEx(frame, FatalGuardEscaped, record,
                    reinterpret_cast<void*>(uintptr_t{record->ExceptionCode}), dispatch->ContextRecord,
                    dispatch->HistoryTable);
    return ExceptionContinueSearch;
}

asm(R"(
    .set GUARD_FRAME, 40
    .text
    .p2align 4
    .globl CallUnderFatalGuard
    .def CallUnderFatalGuard; .scl 2; .type 32; .endef
    .seh_proc CallUnderFatalGuard
CallUnderFatalGuard:
    subq $GUARD_FRAME, %rsp
    .seh_stackalloc GUARD_FRAME
    .seh_endprologue
    movq %rcx, GUARD_FRAME+8(%rsp)
    movq %rcx, %rax
    movq 8(%rax), %rcx
    movl 16(%rax), %edx
    movq 24(%rax), %r8
    movq 32(%rax), %r9
    callq *(%rax)
    nop
    addq $GUARD_FRAME, %rsp
    ret
    .seh_handler FatalGuardHandler, @except
    .seh_endproc

    .p2align 4
    .def FatalGuardEscape; .scl 3; .type 32; .endef
    .seh_proc FatalGuardEscape
FatalGuardEscape:
    subq $GUARD_FRAME, %rsp        # never run: describes the frame resumed on
    .seh_stackalloc GUARD_FRAME
    .seh_endprologue
FatalGuardEscaped:
    movq GUARD_FRAME+8(%rsp), %rcx # the call
    movl %eax, %edx                # the exception code
    callq ReportEscaped
    int3
    .seh_endproc
)");

#else

// On 32-bit Windows the handlers are a chain of registration records on the
// stack, the innermost first, headed at fs:[0]. The guard links its record
// {next, handler} just below its saved frame pointer for the length of the
// call. The handler has RtlUnwind call the handlers further in and unlink
// their records, then resumes on the guard's frame, where the guard's record
// leaves the chain before the report: a fault after that passes it by.
static_assert(offsetof(GuardedCall, body) == 0 && offsetof(GuardedCall, window) == 4 &&
                  offsetof(GuardedCall, message) == 8 && offsetof(GuardedCall, wparam) == 12 &&
                  offsetof(GuardedCall, lparam) == 16,
              "the assembly below reads these offsets");

extern "C" [[noreturn]] void FatalGuardEscape(void* frame, EXCEPTION_RECORD* record);

extern "C" EXCEPTION_DISPOSITION __cdecl FatalGuardHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                                           void*) {
    if (IsFirstPass(record))
        FatalGuardEscape(frame, record);
    return ExceptionContinueSearch;
}

// RtlUnwind returns to the address it is given, or to its caller where that
// is ignored: the same place here, as either reading leaves EBX, ESI and EDI
// as they were.
asm(R"(
    .text
    .p2align 4
    .globl _CallUnderFatalGuard
    .def _CallUnderFatalGuard; .scl 2; .type 32; .endef
_CallUnderFatalGuard:
    pushl %ebp
    movl %esp, %ebp
    pushl $_FatalGuardHandler      # the record {next, handler}
    pushl %fs:0
    movl %esp, %fs:0
    movl 8(%ebp), %eax             # the call
    pushl 16(%eax)
    pushl 12(%eax)
    pushl 8(%eax)
    pushl 4(%eax)
    calll *(%eax)                  # stdcall: pops its arguments
    popl %fs:0
    leave
    ret

    .p2align 4
    .def _FatalGuardEscape; .scl 3; .type 32; .endef
_FatalGuardEscape:
    movl 4(%esp), %ebx             # the guard's record
    movl 8(%esp), %esi
    movl (%esi), %edi              # the exception code
    pushl $0
    pushl %esi
    pushl $1f
    pushl %ebx
    calll _RtlUnwind@16
1:  movl %ebx, %esp                # on the guard's frame again
    leal 8(%esp), %ebp
    popl %fs:0                     # the guard's record leaves the chain
    pushl %edi
    pushl 8(%ebp)                  # the call
    calll _ReportEscaped
    int3
)");

#endif

#else
#error "no exception guard for this compiler and processor"
#endif

#include "shell/FatalReport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "shell/FatalReportText.h"

void ReportFatalException(const char* module, DWORD code, UINT message, WPARAM wparam, LPARAM lparam) {
    // A fixed buffer: the heap may be what failed. Only the low 32 bits of the
    // parameters are reported, on either word width.
    char report[FATAL_REPORT_SIZE];
    FormatFatalReport(report, sizeof report, module, code, message, static_cast<int32_t>(wparam),
                      static_cast<int32_t>(lparam));
    MessageBoxA(nullptr, report, "FATAL ERROR: Call Support", MB_OK | MB_ICONHAND);
    std::exit(1);
}

namespace {

// What a first-pass dispatch (not an unwind) hands the guard's handler.
bool IsFirstPass(const EXCEPTION_RECORD* record) {
    return (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) == 0;
}

[[noreturn]] void ReportEscaped(const GuardedCall* call, const EXCEPTION_RECORD* record) {
    ReportFatalException(call->module, record->ExceptionCode, call->message, call->wparam, call->lparam);
}

} // namespace

#if defined(_MSC_VER)

extern "C" LRESULT CallUnderFatalGuard(const GuardedCall* call) {
    DWORD code = 0;
    __try {
        return call->body(call->window, call->message, call->wparam, call->lparam);
    } __except (code = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        ReportFatalException(call->module, code, call->message, call->wparam, call->lparam);
    }
}

#elif defined(__GNUC__) && defined(__x86_64__)

// GCC has no __try. The guard is a small procedure whose unwind data names
// FatalGuardHandler as its exception handler, so the system's dispatcher
// consults it exactly where a __try at this frame would be consulted: after
// every frame further in, and only for exceptions none of them handled. The
// handler reports during the search pass; the process ends there, so there
// is nothing to unwind to.
static_assert(offsetof(GuardedCall, body) == 0 && offsetof(GuardedCall, window) == 8 &&
                  offsetof(GuardedCall, message) == 16 && offsetof(GuardedCall, wparam) == 24 &&
                  offsetof(GuardedCall, lparam) == 32,
              "the assembly below reads these offsets");

extern "C" EXCEPTION_DISPOSITION FatalGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame, CONTEXT*,
                                                   void*) {
    if (!IsFirstPass(record))
        return ExceptionContinueSearch;
    // The guard keeps its call in its caller's home slot of the first
    // argument: 40 bytes of its own frame and the return address above the
    // frame the dispatcher names.
    ReportEscaped(*reinterpret_cast<const GuardedCall* const*>(static_cast<char*>(establisherFrame) + 48),
                  record);
}

asm(R"(
    .text
    .p2align 4
    .globl CallUnderFatalGuard
    .def CallUnderFatalGuard; .scl 2; .type 32; .endef
    .seh_proc CallUnderFatalGuard
CallUnderFatalGuard:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, 48(%rsp)
    movq %rcx, %rax
    movq 8(%rax), %rcx
    movl 16(%rax), %edx
    movq 24(%rax), %r8
    movq 32(%rax), %r9
    callq *(%rax)
    nop
    addq $40, %rsp
    ret
    .seh_handler FatalGuardHandler, @except
    .seh_endproc
)");

#elif defined(__GNUC__) && defined(__i386__)

// On 32-bit Windows the handlers are a chain of records on the stack, the
// innermost first, headed at fs:[0]. The guard links its own record for the
// length of the call; the handler finds the call beside the link.
namespace {

struct GuardRecord {
    GuardRecord* next;
    void* handler;
    const GuardedCall* call;
};

extern "C" EXCEPTION_DISPOSITION __cdecl FatalGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                           CONTEXT*, void*) {
    if (!IsFirstPass(record))
        return ExceptionContinueSearch;
    ReportEscaped(static_cast<GuardRecord*>(establisherFrame)->call, record);
}

GuardRecord* ChainHead() {
    GuardRecord* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head) : : "memory");
    return head;
}

void SetChainHead(volatile GuardRecord* head) {
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

} // namespace

extern "C" LRESULT CallUnderFatalGuard(const GuardedCall* call) {
    volatile GuardRecord record = {ChainHead(), reinterpret_cast<void*>(FatalGuardHandler), call};
    SetChainHead(&record);
    const LRESULT result = call->body(call->window, call->message, call->wparam, call->lparam);
    SetChainHead(record.next);
    return result;
}

#else
#error "no exception guard for this compiler and processor"
#endif

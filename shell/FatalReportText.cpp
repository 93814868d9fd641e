#include "shell/FatalReportText.h"

#include <cstdio>

namespace {

struct ExceptionText {
    uint32_t code;
    const char* text;
};

const ExceptionText ExceptionTexts[] = {
    {0x80000002u, "Exception: Attempted to read or write data that is \nmisaligned on hardware that does not "
                  "provide alignment"},
    {0x80000003u, "Exception :A breakpoint was encountered"},
    {0x80000004u, "Exception :A trace trap or other single-instruction \nmechanism signaled that one "
                  "instruction has been executed"},
    {0xC0000005u, "Exception : Attempted to read from or write to a virtual address \nfor which it does not "
                  "have the appropriate access."},
    {0xC0000025u, "Exception:The thread attempted to continue execution after a noncontinuable exception "
                  "occurred."},
    {0xC000008Cu, "Exception : Attempted to access an array element that is out of bounds"},
    {0xC000008Du, "Exception: One of the operands in a floating-point operation is denormal. \nA denormal "
                  "value is one that is too small to represent as a \nstandard floating-point value."},
    {0xC000008Eu, "Exception : Float being divided by zero"},
    {0xC000008Fu, "Exception:The result of a floating-point operation cannot be represented \nexactly as a "
                  "decimal fraction"},
    {0xC0000090u, "Exception:This exception represents any floating-point exception not included in this "
                  "list."},
    {0xC0000091u, "Exception:The exponent of a floating-point operation is greater than the magnitude "
                  "allowed by the corresponding type."},
    {0xC0000092u, "Exception:The stack overflowed or underflowed as the result of a floating-point "
                  "operation."},
    {0xC0000093u, "Exception:The exponent of a floating-point operation is less than the magnitude allowed "
                  "by the corresponding type."},
    {0xC0000094u, "Exception: Integer being divided by zero"},
    {0xC0000095u, "Exception:The result of an integer operation caused a carry out of the most significant "
                  "bit of the result"},
    {0xC0000096u, "Exception:The thread attempted to execute an instruction whose operation is not allowed "
                  "in the current machine mode."},
};

const char* FatalExceptionText(uint32_t code) {
    for (const ExceptionText& entry : ExceptionTexts)
        if (entry.code == code)
            return entry.text;
    return "Unknown Exception or error";
}

} // namespace

size_t FormatFatalReport(char* report, size_t size, const char* module, uint32_t code, uint32_t message,
                         int32_t wparam, int32_t lparam) {
    const int length = std::snprintf(
        report, size, "MODULE : %s \n\n Message : %d (Dec.)    %X(Hex) \n Wparam : %d   Lparam : %d\n\n%s%s",
        module != nullptr ? module : "", static_cast<int>(message), static_cast<unsigned>(message),
        static_cast<int>(wparam), static_cast<int>(lparam), FatalExceptionText(code),
        "\n\nAPPLICATION WILL QUIT");
    return length < 0 ? size : static_cast<size_t>(length);
}

#include "shell/FatalReportText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

const char Module[] = "SrvrConfigChildProc in Syscfg";

std::string Report(uint32_t code, uint32_t message, int32_t wparam, int32_t lparam,
                   const char* module = Module) {
    char report[FATAL_REPORT_SIZE];
    const size_t length = FormatFatalReport(report, sizeof report, module, code, message, wparam, lparam);
    EXPECT_LT(length, sizeof report);
    EXPECT_EQ(length, std::strlen(report));
    return report;
}

// The exception text as the report shows it, between the header and the end.
std::string ExceptionTextOf(uint32_t code) {
    const std::string report = Report(code, 1, 2, 3);
    const std::string head = "Lparam : 3\n\n", tail = "\n\nAPPLICATION WILL QUIT";
    const size_t start = report.find(head);
    if (start == std::string::npos || report.size() < start + head.size() + tail.size() ||
        report.compare(report.size() - tail.size(), tail.size(), tail) != 0)
        return "(no exception text in: " + report + ")";
    return report.substr(start + head.size(), report.size() - tail.size() - start - head.size());
}

} // namespace

TEST(FatalReport, HeaderWithNegativeNumbersAndHex) {
    EXPECT_EQ(
        Report(0xC0000094u, 512, -5, -7),
        "MODULE : SrvrConfigChildProc in Syscfg \n\n Message : 512 (Dec.)    200(Hex) \n"
        " Wparam : -5   Lparam : -7\n\nException: Integer being divided by zero\n\nAPPLICATION WILL QUIT");
    EXPECT_NE(
        Report(0xC0000005u, 258, 65, 0).find(" Message : 258 (Dec.)    102(Hex) \n Wparam : 65   Lparam : 0"),
        std::string::npos);
}

TEST(FatalReport, EveryCodeOfTheTableAndNoOther) {
    const struct {
        uint32_t code;
        const char* text;
    } table[] = {
        {0x80000002u,
         "Exception: Attempted to read or write data that is \nmisaligned on hardware that does not "
         "provide alignment"},
        {0x80000003u, "Exception :A breakpoint was encountered"},
        {0x80000004u, "Exception :A trace trap or other single-instruction \nmechanism signaled that one "
                      "instruction has been executed"},
        {0xC0000005u,
         "Exception : Attempted to read from or write to a virtual address \nfor which it does not "
         "have the appropriate access."},
        {0xC0000025u, "Exception:The thread attempted to continue execution after a noncontinuable exception "
                      "occurred."},
        {0xC000008Cu, "Exception : Attempted to access an array element that is out of bounds"},
        {0xC000008Du,
         "Exception: One of the operands in a floating-point operation is denormal. \nA denormal "
         "value is one that is too small to represent as a \nstandard floating-point value."},
        {0xC000008Eu, "Exception : Float being divided by zero"},
        {0xC000008Fu,
         "Exception:The result of a floating-point operation cannot be represented \nexactly as a "
         "decimal fraction"},
        {0xC0000090u, "Exception:This exception represents any floating-point exception not included in this "
                      "list."},
        {0xC0000091u, "Exception:The exponent of a floating-point operation is greater than the magnitude "
                      "allowed by the corresponding type."},
        {0xC0000092u, "Exception:The stack overflowed or underflowed as the result of a floating-point "
                      "operation."},
        {0xC0000093u,
         "Exception:The exponent of a floating-point operation is less than the magnitude allowed "
         "by the corresponding type."},
        {0xC0000094u, "Exception: Integer being divided by zero"},
        {0xC0000095u,
         "Exception:The result of an integer operation caused a carry out of the most significant "
         "bit of the result"},
        {0xC0000096u,
         "Exception:The thread attempted to execute an instruction whose operation is not allowed "
         "in the current machine mode."},
    };
    for (const auto& row : table)
        EXPECT_EQ(ExceptionTextOf(row.code), row.text) << std::hex << row.code;
    // Neighbours of the table's codes, and codes the table leaves out.
    for (uint32_t code : {0x80000001u, 0xC0000004u, 0xC000001Du, 0xC00000FDu, 0xC0000006u, 0xC0000097u,
                          0xC000008Bu, 0x20474343u, 0xE06D7363u, 0u})
        EXPECT_EQ(ExceptionTextOf(code), "Unknown Exception or error") << std::hex << code;
}

TEST(FatalReport, LongestIsWhole) {
    const std::string longest = Report(0xC000008Du, 0x80000000u, INT_MIN, INT_MIN);
    EXPECT_EQ(longest.size(), 324u);
    const std::string head = "MODULE : SrvrConfigChildProc in Syscfg \n\n Message : -2147483648 (Dec.)    "
                             "80000000(Hex) \n Wparam : -2147483648   Lparam : -2147483648\n\n";
    const std::string tail = "standard floating-point value.\n\nAPPLICATION WILL QUIT";
    EXPECT_EQ(longest.substr(0, head.size()), head);
    EXPECT_EQ(longest.substr(longest.size() - tail.size()), tail);
    // The buffer holds the report of the longest module text it is made for.
    const std::string module(FATAL_MODULE_TEXT_MAX, 'm');
    EXPECT_EQ(Report(0xC000008Du, 0x80000000u, INT_MIN, INT_MIN, module.c_str()).size(),
              324u - std::strlen(Module) + FATAL_MODULE_TEXT_MAX);
}

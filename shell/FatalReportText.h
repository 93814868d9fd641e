#pragma once
// The text of the fatal exception report. Only the C library, so every text
// and the header's number formats are tested natively.
#include <cstddef>
#include <cstdint>

// Large enough for the whole report with a module text of up to
// FATAL_MODULE_TEXT_MAX characters; the longest report with the field
// procedure's module text is 324 characters.
enum : unsigned { FATAL_MODULE_TEXT_MAX = 256, FATAL_REPORT_SIZE = 640 };

// Header, the operator's text for the exception code (one of sixteen
// processor and floating-point exceptions, or "Unknown Exception or error")
// and "APPLICATION WILL QUIT" into `report` (size bytes). Returns the length
// of the whole report; when that is `size` or more, the text was cut (as with
// snprintf) and the caller's buffer is too small.
size_t FormatFatalReport(char* report, size_t size, const char* module, uint32_t code, uint32_t message,
                         int32_t wparam, int32_t lparam);

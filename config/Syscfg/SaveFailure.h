#pragma once
// What the operator is told when NEWUDPSRVR.INI could not be written, and
// how to configure all the same.
#include <windows.h>

#include <cstddef>

// The text of the box: the file, the reason for `error` (a GetLastError
// code), that host `host` was not saved, and what to do.
void SaveFailureText(char* text, size_t size, int host, DWORD error);

#include "log/EventLog.h"
#include "log/LogFormat.h"

#include <windows.h>

#include <cstdio>

// OpenFile searches the program's directory first for a bare name; records
// and the rename use the current directory, so the probe names it too.
static const char LogProbePath[] = ".\\UDPMessages.Log";

// The log's whole size (a log of 4 GiB or more is no small one because its
// low 32 bits are), or -1 when it cannot be opened or measured.
static long long ProbeLogSize() {
    OFSTRUCT probe = {};
    const HFILE file = OpenFile(LogProbePath, &probe, OF_READ);
    if (file == HFILE_ERROR)
        return -1;
    DWORD high = 0;
    const DWORD low = GetFileSize(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)), &high);
    const bool failed = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR;
    _lclose(file);
    return failed ? -1 : static_cast<long long>(high) << 32 | low;
}

void RotateEventLog() {
    const long long size = ProbeLogSize();
    if (size < static_cast<long long>(LogRotateLimit))
        return;
    char lineTime[LogTimeTextSize];
    char fileStem[LogTimeTextSize];
    GetLogTimeStamps(lineTime, fileStem);
    char rotatedName[LogTimeTextSize + 4];
    std::snprintf(rotatedName, sizeof rotatedName, "%s.log", fileStem);
    // A name that exists already makes the rename fail: the log stays and
    // keeps growing until a later start succeeds.
    (void)std::rename(EventLogName, rotatedName);
}

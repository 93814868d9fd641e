#include "log/EventLog.h"
#include "log/LogFormat.h"

#include <windows.h>

#include <cstdio>

// OpenFile searches the program's directory first for a bare name; records
// and the rename use the current directory, so the probe names it too.
static const char LogProbePath[] = ".\\UDPMessages.Log";

// The log's size, or INVALID_FILE_SIZE when it cannot be opened or measured.
static DWORD ProbeLogSize() {
    OFSTRUCT probe = {};
    const HFILE file = OpenFile(LogProbePath, &probe, OF_READ);
    if (file == HFILE_ERROR)
        return INVALID_FILE_SIZE;
    const DWORD size = GetFileSize(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)), nullptr);
    _lclose(file);
    return size;
}

void RotateEventLog() {
    const DWORD size = ProbeLogSize();
    if (size == INVALID_FILE_SIZE || size < LogRotateLimit)
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

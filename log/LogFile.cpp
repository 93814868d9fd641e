#include "log/EventLog.h"
#include "log/LogFile.h"
#include "log/LogFormat.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

// What fopen "a+" asks of the system, but the type looked at before a byte is
// written: Wine opens every file without waiting, so a FIFO of the log's name
// opens at once, and only the write into it would wait for a reader.
std::FILE* OpenLogForRecord() {
    HANDLE file = CreateFileA(EventLogName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT);
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* log = _fdopen(descriptor, "a+");
    if (!log)
        _close(descriptor);
    return log;
}

// The log's whole size (a log of 4 GiB or more is no small one because its
// low 32 bits are), or -1 when there is none or it cannot be measured. The
// bare name is the current directory's log, the one records and the rename
// use, in a working folder of any depth; reading attributes only, the probe
// is refused by no other program's sharing mode.
static long long ProbeLogSize() {
    HANDLE file = CreateFileA(EventLogName, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER size = {};
    const bool measured = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size);
    CloseHandle(file);
    return measured ? size.QuadPart : -1;
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

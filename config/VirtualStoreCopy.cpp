#include "config/VirtualStoreCopy.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "config/ConfigStore.h"
#include "log/EventLog.h"
#include "shell/AppGlobals.h"

namespace {

const char CopyDiffersText[] = "VirtualStore copy of NEWUDPSRVR.INI differs. Not read: ";

// The file read: NEWUDPSRVR.INI in the Windows folder, where the
// private-profile functions look for a name without a path.
std::string ConfigFilePath() {
    char folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "";
    return std::string(folder) + "\\" + ConfigFileName;
}

// Virtualization keeps the path below the drive: C:\Windows\X goes to
// %LOCALAPPDATA%\VirtualStore\Windows\X. Empty when there is no such folder.
std::string VirtualStorePath(const std::string& file) {
    char local[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", local, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || file.size() < 3 || file[1] != ':')
        return "";
    return std::string(local) + "\\VirtualStore" + file.substr(2);
}

HANDLE OpenForReading(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Compares the two files block by block, whatever their size; a file that
// cannot be read counts as different.
bool SameContents(HANDLE first, HANDLE second) {
    LARGE_INTEGER firstSize = {}, secondSize = {};
    if (!GetFileSizeEx(first, &firstSize) || !GetFileSizeEx(second, &secondSize) ||
        firstSize.QuadPart != secondSize.QuadPart)
        return false;
    char a[4096], b[4096];
    for (;;) {
        DWORD gotA = 0, gotB = 0;
        if (!ReadFile(first, a, sizeof a, &gotA, nullptr) || !ReadFile(second, b, sizeof b, &gotB, nullptr) ||
            gotA != gotB)
            return false;
        if (gotA == 0)
            return true;
        if (std::memcmp(a, b, gotA) != 0)
            return false;
    }
}

} // namespace

void ReportVirtualStoreCopy() {
    const std::string file = ConfigFilePath();
    const std::string copy = VirtualStorePath(file);
    if (copy.empty())
        return;
    HANDLE copyFile = OpenForReading(copy);
    if (copyFile == INVALID_HANDLE_VALUE)
        return; // no copy: the usual case
    HANDLE readFile = OpenForReading(file);
    const bool same = readFile != INVALID_HANDLE_VALUE && SameContents(readFile, copyFile);
    if (readFile != INVALID_HANDLE_VALUE)
        CloseHandle(readFile);
    CloseHandle(copyFile);
    if (!same)
        WriteLogRecord(ShellModule, 0, 0, (CopyDiffersText + copy).c_str(), "", "");
}

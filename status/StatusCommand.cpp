// NewUdpSrvrStatus: prints the running relay's Statistics dialog lines from
// its status file NewUdpSrvr.prom, for a site without a screen (the Linux
// service) or another logon session. It reads the file alone and never
// touches the relay's windows, so it works from any session, elevated or
// not, while the operator has a dialog open.
//
//   NewUdpSrvrStatus [--prom] [FOLDER]
//
// FOLDER is the relay's working folder, the data folder by default. --prom
// prints the file as it is instead of the lines.
//
// Exit code: 0 the file is fresh; 1 no relay is running; 2 a relay runs but
// its file is missing or older than STALE_AFTER_S (the relay is stuck: its
// one thread renews the file every 3 s).
//
// --check-display: exit 0 when this process can make a window, i.e. the
// graphics driver configured for the Wine prefix serves (the service's
// launcher asks before it runs the relay without a display server).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "status/StatusMetrics.h"

namespace {

enum : unsigned { STALE_AFTER_S = 10 };

const char RelayProgram[] = "NewUdpSrvr.exe";
const char DataFolderName[] = "VQX UDP Broadcast Server"; // under the common application data

// A process of the relay's name in the whole system, whichever session or
// account runs it: the snapshot lists every process, and reading its names
// opens none of them.
bool RelayRuns() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        found = lstrcmpiA(entry.szExeFile, RelayProgram) == 0;
    CloseHandle(snapshot);
    return found;
}

std::string DataFolder() {
    char common[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)))
        return ".";
    return std::string(common) + "\\" + DataFolderName;
}

// The file's text and its age in seconds (0 for one written in the future).
bool ReadStatusFile(const std::string& path, std::string& text, unsigned long long& ageSeconds) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME written = {}, now = {};
    LARGE_INTEGER size = {};
    bool read = GetFileType(file) == FILE_TYPE_DISK && GetFileTime(file, nullptr, nullptr, &written) &&
                GetFileSizeEx(file, &size) && size.QuadPart < (1 << 20);
    if (read) {
        text.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = text.empty() || (ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) &&
                                got == text.size());
    }
    CloseHandle(file);
    GetSystemTimeAsFileTime(&now);
    const ULARGE_INTEGER then = {{written.dwLowDateTime, written.dwHighDateTime}};
    const ULARGE_INTEGER at = {{now.dwLowDateTime, now.dwHighDateTime}};
    ageSeconds = at.QuadPart > then.QuadPart ? (at.QuadPart - then.QuadPart) / 10000000ull : 0;
    return read;
}

int PrintStatus(const std::string& folder, bool prom) {
    if (!RelayRuns()) {
        std::fprintf(stderr, "no relay is running\n");
        return 1;
    }
    const std::string path = folder + "\\" + StatusFileName;
    std::string text;
    unsigned long long age = 0;
    if (!ReadStatusFile(path, text, age)) {
        std::fprintf(stderr, "a relay runs, but %s cannot be read: it is not written in this folder\n",
                     path.c_str());
        return 2;
    }
    if (prom) {
        std::fwrite(text.data(), 1, text.size(), stdout);
    } else {
        StatusHostReading readings[HOST_COUNT];
        ReadStatusHosts(text, readings);
        const std::string lines = StatisticsLinesOf(readings);
        std::fwrite(lines.data(), 1, lines.size(), stdout);
        if (lines.empty())
            std::fprintf(stderr, "the relay lists no host: host 0 is not configured\n");
    }
    if (age > STALE_AFTER_S) {
        std::fprintf(stderr, "%s is %llu s old: the relay is stuck\n", path.c_str(), age);
        return 2;
    }
    return 0;
}

int CheckDisplay() {
    HWND window = CreateWindowExA(0, "STATIC", "display check", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr)
        return 1;
    DestroyWindow(window);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && lstrcmpA(argv[1], "--check-display") == 0)
        return CheckDisplay();
    bool prom = false;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        if (lstrcmpA(argv[i], "--prom") == 0)
            prom = true;
        else if (folder.empty())
            folder = argv[i];
        else {
            std::fprintf(stderr, "usage: NewUdpSrvrStatus [--prom] [FOLDER]\n");
            return 64;
        }
    }
    // Lines end in a bare newline, on Windows as under Wine's Unix terminal.
    _setmode(_fileno(stdout), _O_BINARY);
    return PrintStatus(folder.empty() ? DataFolder() : folder, prom);
}

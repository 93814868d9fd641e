#include "TestSupport.h"
#include "MessageBoxShape.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

bool PumpMessages(DWORD ms, const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (done && done())
            return true;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
            if (done && done())
                return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return done ? done() : false;
}

std::string ConfigFilePath() {
    char dir[MAX_PATH] = {};
    GetWindowsDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\NEWUDPSRVR.INI";
}

void RemoveConfigFile() {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "NEWUDPSRVR.INI"); // flush the profile cache
    DeleteFileA(ConfigFilePath().c_str());
}

void WriteConfigValue(const char* section, const char* key, const char* value) {
    WritePrivateProfileStringA(section, key, value, "NEWUDPSRVR.INI");
}

void WriteSampleConfig(std::initializer_list<int> hosts) {
    WriteConfigValue("LOCAL_DTE_ADDR", "SENDMCASTADD", "239.1.1.1");
    WriteConfigValue("LOCAL_DTE_ADDR", "HOSTSIDEIPADDRESS", "198.51.100.1");
    WriteConfigValue("LOCAL_DTE_ADDR", "KLORSIDEIPADDRESS", "203.0.113.1");
    for (int host : hosts) {
        char section[16], port[8], group[20];
        wsprintfA(section, "HOST%d", host);
        wsprintfA(port, "%d", 7000 + host);
        wsprintfA(group, "239.2.2.%d", host + 1);
        WriteConfigValue(section, "RECVUDPPORTID", port);
        WriteConfigValue(section, "RECVMCASTADDR", group);
        WriteConfigValue(section, "SENDUDPPORTID", "6789");
    }
}

namespace {
struct FindData {
    const char* caption;
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindByCaption(HWND window, LPARAM lparam) {
    auto* data = reinterpret_cast<FindData*>(lparam);
    char className[16] = {}, title[256] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (process == data->process && std::strcmp(className, "#32770") == 0 &&
        std::strcmp(title, data->caption) == 0 && IsWindowVisible(window)) {
        data->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND FindDialog(const char* caption, DWORD process) {
    FindData data{caption, process != 0 ? process : GetCurrentProcessId(), nullptr};
    EnumWindows(FindByCaption, reinterpret_cast<LPARAM>(&data));
    return data.found;
}

BoxAnswerer::BoxAnswerer(const char* caption, UINT type, int button, int count)
    : BoxAnswerer(caption, type, std::vector<int>(static_cast<size_t>(count), button)) {}

BoxAnswerer::BoxAnswerer(const char* caption, UINT type, std::vector<int> buttons)
    : caption_(caption), type_(type & MessageBoxShapeMask), buttons_(std::move(buttons)),
      count_(static_cast<int>(buttons_.size())), thread_([this] { Run(); }) {}

BoxAnswerer::~BoxAnswerer() {
    stop_ = true;
    thread_.join();
    for (const std::string& problem : problems_)
        ADD_FAILURE() << problem;
}

std::string BoxAnswerer::LastText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastText_;
}

void BoxAnswerer::Answer(HWND box) {
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // the static text of a message box
    const UINT shape = MessageBoxShape(box);
    const int button = buttons_[answered_];
    std::vector<std::string> problems;
    const std::string which = "box \"" + caption_ + "\" #" + std::to_string(answered_ + 1) + ": ";
    if (shape != type_)
        problems.push_back(which + "shown as " + DescribeBoxShape(shape) + ", expected " +
                           DescribeBoxShape(type_));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastText_ = text;
        problems_.insert(problems_.end(), problems.begin(), problems.end());
    }
    // Counted before the press: the click ends the box in the test's thread,
    // which may read the count before this thread returns from the press.
    ++answered_;
    if (PressBoxButton(box, button))
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        problems_.push_back(which + "has no button " + std::to_string(button));
    }
    for (int other : {IDCANCEL, IDNO, IDOK, IDABORT, IDIGNORE, IDRETRY, IDYES})
        if (PressBoxButton(box, other))
            return;
}

void BoxAnswerer::Run() {
    HWND last = nullptr;
    while (!stop_ && answered_ < count_) {
        HWND box = FindDialog(caption_.c_str());
        if (box != nullptr && box != last) {
            Answer(box);
            last = box;
        }
        Sleep(20);
    }
}

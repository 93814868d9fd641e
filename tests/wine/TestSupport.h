#pragma once
// Helpers of the Win32 tests: bounded message pumps, the configuration file
// in the Windows directory, and a watcher that answers message boxes.
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Dispatches the thread's messages for about `ms` milliseconds, or until
// `done` returns true. Returns whether `done` became true.
bool PumpMessages(DWORD ms, const std::function<bool()>& done = nullptr);

// Full path of NEWUDPSRVR.INI in the Windows directory.
std::string ConfigFilePath();
void RemoveConfigFile();
// Writes one key with the private-profile function, as the dialog does.
void WriteConfigValue(const char* section, const char* key, const char* value);
// A complete configuration: local addresses and the given hosts.
void WriteSampleConfig(std::initializer_list<int> hosts);

// Watches for a top-level message box (class #32770) with the given caption
// and presses the given button (IDYES, IDNO, IDOK, IDRETRY, IDCANCEL) in it,
// `count` times in all. Every box must have the shape `type` states, the MB_
// flags of the MessageBoxA call (buttons, default button, icon), and the
// button to press: the destructor reports each box that differed as a test
// failure. A box without the button asked for is closed with its default
// button, so that the test goes on to report it. Runs on its own thread so
// that the box's modal loop on the test thread keeps going.
class BoxAnswerer {
  public:
    BoxAnswerer(const char* caption, UINT type, int button, int count = 1);
    // Presses buttons[0] in the first box, buttons[1] in the second, and so on.
    BoxAnswerer(const char* caption, UINT type, std::vector<int> buttons);
    ~BoxAnswerer();
    int Answered() const { return answered_; }
    // Text of the last box answered.
    std::string LastText() const;

  private:
    void Run();
    void Answer(HWND box);
    std::string caption_;
    UINT type_;
    std::vector<int> buttons_;
    int count_;
    std::atomic<int> answered_{0};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::string lastText_;
    std::vector<std::string> problems_;
    std::thread thread_;
};

// Finds a visible top-level dialog window by caption in this process, or in
// the process with the given id (NULL if none).
HWND FindDialog(const char* caption, DWORD process = 0);

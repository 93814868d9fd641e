#pragma once
// Shared by the relay's Win32 tests: both channel windows under a hidden
// parent, with the timers and hand-offs they take and every socket they
// bind recorded, a fresh working directory for the event log, and the
// configuration set in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "config/HostConfig.h"
#include "relay/HostCounters.h"
#include "relay/RecvChannel.h"
#include "relay/SendChannel.h"
#include "shell/AppGlobals.h"
#include "shell/MainWindow.h"
#include "shell/MessageParams.h"
#include "shell/Messages.h"
#include "shell/PlatformCalls.h"

// Every movable block the program allocates, in order (through GlobalAllocProc).
inline std::vector<HGLOBAL> Allocated;
inline HGLOBAL WINAPI TrackingAlloc(UINT flags, SIZE_T bytes) {
    HGLOBAL block = GlobalAlloc(flags, bytes);
    Allocated.push_back(block);
    return block;
}

// Every socket the program bound, and where, in order (through BindProc).
struct BoundSocket {
    SOCKET socket;
    sockaddr_in local;
};
inline std::vector<BoundSocket> Bound;
inline int PASCAL RecordingBind(SOCKET s, const sockaddr* address, int length) {
    const int result = bind(s, address, length);
    if (result == 0)
        Bound.push_back({s, *reinterpret_cast<const sockaddr_in*>(address)});
    return result;
}
// The socket the program bound last on `address`, at the port field
// `portField` as a sockaddr_in holds it (any port for 0); INVALID_SOCKET
// when it bound none there.
inline SOCKET LastBound(const char* address, u_short portField = 0) {
    for (auto b = Bound.rbegin(); b != Bound.rend(); ++b)
        if (b->local.sin_addr.s_addr == inet_addr(address) &&
            (portField == 0 || b->local.sin_port == portField))
            return b->socket;
    return INVALID_SOCKET;
}
// Host h's socket in the lab: bound on the host-side address at port 7000 + h.
inline SOCKET HostSocket(int host) {
    return LastBound("198.51.100.1", htons(static_cast<u_short>(7000 + host)));
}

// The handle value the next socket of this process gets: the lowest free
// one, as the system hands handles out, so a socket just closed frees its
// value for the next.
inline SOCKET NextSocketHandle() {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    closesocket(s);
    return s;
}

struct SeenMessage {
    HWND window;
    UINT message;
    WPARAM wparam;
    DWORD tick;
    std::string block; // WM_FORWARDDATAGRAM: the block's bytes as posted
};

inline std::vector<SeenMessage>& Seen() {
    static std::vector<SeenMessage> seen;
    return seen;
}
inline WNDPROC& RecvOriginalProc() {
    static WNDPROC proc;
    return proc;
}
inline WNDPROC& SendOriginalProc() {
    static WNDPROC proc;
    return proc;
}

inline void Record(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m != WM_TIMER && m != WM_FORWARDDATAGRAM)
        return;
    SeenMessage seen{w, m, wp, GetTickCount(), {}};
    if (m == WM_FORWARDDATAGRAM) {
        HGLOBAL block = reinterpret_cast<HGLOBAL>(lp);
        if (const char* bytes = static_cast<const char*>(GlobalLock(block))) {
            seen.block.assign(bytes, GlobalSize(block));
            GlobalUnlock(block);
        }
    }
    Seen().push_back(seen);
}

inline LRESULT CALLBACK RecvRecorder(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    Record(w, m, wp, lp);
    return CallWindowProcA(RecvOriginalProc(), w, m, wp, lp);
}
inline LRESULT CALLBACK SendRecorder(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    Record(w, m, wp, lp);
    return CallWindowProcA(SendOriginalProc(), w, m, wp, lp);
}

// The hand-offs that `window` took, in order, each as its parameter packs
// it: "forward 0x2000002" is 512 bytes (0x200) of host 2.
inline std::vector<std::string> HandOffs(HWND window) {
    std::vector<std::string> described;
    for (const SeenMessage& m : Seen())
        if (m.window == window && m.message == WM_FORWARDDATAGRAM) {
            char text[32];
            std::snprintf(text, sizeof text, "forward 0x%llx", static_cast<unsigned long long>(m.wparam));
            described.push_back(text);
        }
    return described;
}

// Checks a recorded sequence of events against the expected one, in order and
// in full. A mismatch is reported at the caller's line with both sequences,
// one event a line, and the first event where they part.
inline void ExpectSequence(const std::vector<std::string>& recorded, const std::vector<std::string>& expected,
                           const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (recorded == expected)
        return;
    size_t same = 0;
    while (same < recorded.size() && same < expected.size() && recorded[same] == expected[same])
        ++same;
    std::string report = "the sequences part at event " + std::to_string(same) + "\nexpected:\n";
    for (const std::string& event : expected)
        report += "  " + ::testing::PrintToString(event) + "\n";
    report += "recorded:\n";
    for (const std::string& event : recorded)
        report += "  " + ::testing::PrintToString(event) + "\n";
    ADD_FAILURE_AT(file, line) << report;
}

inline void SetText(char* field, size_t size, const char* text) {
    std::snprintf(field, size, "%s", text);
}

// Host h: receiving port 7000 + h, group 239.2.2.(h+1), sending port "6789".
inline void ConfigureHost(int h, const char* recvPort = nullptr, const char* sendPort = "6789") {
    char port[8], group[20];
    std::snprintf(port, sizeof port, "%d", 7000 + h);
    std::snprintf(group, sizeof group, "239.2.2.%d", h + 1);
    SetText(HostTable[h].RECVUDPPORTID, PORT_TEXT_SIZE, recvPort ? recvPort : port);
    SetText(HostTable[h].RECVMCASTADDR, ADDRESS_TEXT_SIZE, group);
    SetText(HostTable[h].SENDUDPPORTID, PORT_TEXT_SIZE, sendPort);
}

inline LRESULT CALLBACK ParentProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, m, wp, lp);
}

class RelayHarness : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = {}, dir[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        GetTempFileNameA(temp, "rly", 0, dir); // a unique name; made a directory below
        DeleteFileA(dir);
        CreateDirectoryA(dir, nullptr);
        SetCurrentDirectoryA(dir);
        dir_ = dir;
        WNDCLASSA parentClass = {};
        parentClass.lpfnWndProc = ParentProc;
        parentClass.hInstance = GetModuleHandleA(nullptr);
        parentClass.lpszClassName = "RelayTestParent";
        RegisterClassA(&parentClass);
        Seen().clear();
        Bound.clear();
        BindProc = RecordingBind;
        for (int h = 0; h < 6; ++h)
            std::memset(&HostTable[h], 0, sizeof HostTable[h]);
        SetLocal("239.1.1.1", "198.51.100.1", "203.0.113.1");
    }

    void TearDown() override {
        for (unsigned h = 0; h < 6; ++h)
            DropHostChannel(h);
        if (parent_ != nullptr)
            DestroyWindow(parent_); // the send window's WM_DESTROY closes its socket
        PumpMessages(20);
        UnregisterClassA(RecvChannelClass, GetModuleHandleA(nullptr));
        UnregisterClassA(SendChannelClass, GetModuleHandleA(nullptr));
        GlobalAllocProc = GlobalAlloc;
        WSAStartupProc = WSAStartup;
        SetSockOptProc = setsockopt;
        BindProc = bind;
        MainWindow = RecvChannelWindow = SendChannelWindow = nullptr;
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        SetCurrentDirectoryA(temp);
        DeleteFileA((dir_ + "\\UDPMessages.Log").c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    static void SetLocal(const char* group, const char* hostSide, const char* klorSide) {
        SetText(LocalAddresses.SENDMCASTADD, ADDRESS_TEXT_SIZE, group);
        SetText(LocalAddresses.HOSTSIDEIPADDRESS, ADDRESS_TEXT_SIZE, hostSide);
        SetText(LocalAddresses.KLORSIDEIPADDRESS, ADDRESS_TEXT_SIZE, klorSide);
    }

    // Both channel windows as the main window makes them, recorded.
    void StartChannels() {
        parent_ = CreateWindowExA(0, "RelayTestParent", "relay test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr);
        MainWindow = parent_;
        ASSERT_EQ(CreateChannelWindows(parent_, GetModuleHandleA(nullptr)), 1);
        RecvOriginalProc() = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(RecvChannelWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecvRecorder)));
        SendOriginalProc() = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(SendChannelWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SendRecorder)));
    }

    // Posts a connect request and lets the window take it.
    static void Connect(unsigned host) {
        PostMessageA(RecvChannelWindow, WM_CONNECTHOST, host, 0);
        PumpMessages(50);
    }

    // Lines of UDPMessages.Log that contain `text`.
    std::vector<std::string> LogLines(const char* text = "") const {
        std::vector<std::string> lines;
        std::ifstream file(dir_ + "\\UDPMessages.Log", std::ios::binary);
        std::string line;
        while (std::getline(file, line))
            if (line.find(text) != std::string::npos)
                lines.push_back(line);
        return lines;
    }

    // The records of UDPMessages.Log without their time stamp (the first 19
    // characters: date, time and a blank), in the order written.
    std::vector<std::string> LogRecords() const {
        std::vector<std::string> records;
        for (std::string line : LogLines()) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            records.push_back(line.size() > 19 ? line.substr(19) : line);
        }
        return records;
    }

    // Recorded messages of one window and kind, optionally with one wparam.
    static std::vector<SeenMessage> Messages(HWND window, UINT message, WPARAM wparam = ~WPARAM(0)) {
        std::vector<SeenMessage> found;
        for (const SeenMessage& m : Seen())
            if (m.window == window && m.message == message && (wparam == ~WPARAM(0) || m.wparam == wparam))
                found.push_back(m);
        return found;
    }

    HWND parent_ = nullptr;
    std::string dir_;
};

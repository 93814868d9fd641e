#pragma once
// The catalogue of the program's private messages, system-menu commands and
// timers. Plain numbers so that Windows-free code and tests can use them; the
// Win32 side checks them against WM_USER in MainWindow.cpp.

enum : unsigned {
    WM_CONNECTHOST = 0x400 + 4,       // to UdpRecvProc: wparam host index, lparam 0
    WM_FORWARDDATAGRAM = 0x400 + 6,   // to UdpProc: wparam length<<16 | host, lparam block
    WM_REFRESHSTATISTICS = 0x400 + 7, // to the open Statistics dialog
    WM_SOCKETEVENT = 0x400 + 101,     // to UdpRecvProc: wparam socket, lparam error<<16 | event
};

enum : unsigned {
    IDM_ABOUT = 1025,
    IDM_CONFIGURE = 1026,
    IDM_STATISTICS = 1027,
};

enum : unsigned {
    IDT_STATISTICS = 4,   // main window, 3000 ms, re-armed by the open Statistics dialog
    IDT_STARTUPRETRY = 5, // UdpRecvProc: one-shot, the window's start-up again after WSAStartup failed
    IDT_CHANNELCHECK = 6, // UdpRecvProc: periodic look at stalled channels and both local interfaces
    IDT_STATUSFILE = 7,   // main window, periodic: NewUdpSrvr.prom renewed
    IDT_RETRY = 0x10000,  // + host index: one-shot channel retry, per channel window
};

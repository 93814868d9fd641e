#pragma once
// The receive side: the hidden UdpRecvProc window and its per-host tables.
#include <winsock.h>
#include <windows.h>

extern const char RecvChannelClass[]; // "UdpRecvProc"

struct HostChannelRecord {
    SOCKET socket;    // the host's socket once fully connected
    short hostIndex;  // record i always belongs to host i
};

extern SOCKET HostSockets[6];
extern HostChannelRecord HostChannel[6];

LRESULT CALLBACK UdpRecvWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void ConnectHost(HWND window, WPARAM host);

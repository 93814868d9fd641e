#include "relay/RecvChannel.h"

#include "relay/HostCounters.h"

const char RecvChannelClass[] = "UdpRecvProc";

SOCKET HostSockets[6];
HostChannelRecord HostChannel[6];

// Minimal until the relay engine lands: the window keeps its tables reset.
LRESULT CALLBACK UdpRecvWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        for (int h = 0; h < 6; ++h) {
            HostSockets[h] = INVALID_SOCKET;
            HostChannel[h] = {INVALID_SOCKET, static_cast<short>(h)};
            HostCounters[h] = {-1, 0, 0};
        }
        break;
    case WM_DESTROY:
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void ConnectHost(HWND, WPARAM) {}

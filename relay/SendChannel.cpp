#include "relay/SendChannel.h"

const char SendChannelClass[] = "UdpProc";

SOCKET SendSocket;
int SendFailed;
unsigned short SendLocalPort = 6793;

// Minimal until the relay engine lands.
LRESULT CALLBACK UdpSendWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY)
        return 0;
    return DefWindowProcA(window, message, wparam, lparam);
}

void ForwardDatagram(const void*, unsigned, unsigned) {}
void SetUpSendSocket(unsigned, HWND) {}
int SendDatagram(const char*, int, unsigned short, unsigned, HWND) { return 0; }

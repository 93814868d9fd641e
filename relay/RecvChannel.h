#pragma once
// The receive side: the hidden UdpRecvProc window, one socket per configured
// host joined to the host's group on the host-side interface, and the
// periodic check of its channels and both local interfaces.
#include <winsock.h>
#include <windows.h>

extern const char RecvChannelClass[]; // "UdpRecvProc"

LRESULT CALLBACK UdpRecvWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Stops host `host`'s channel for a reconfiguration: the socket closes, what
// it read goes out, and its counts start again from zero.
void DropHostChannel(unsigned host);

#pragma once
// The send side: the hidden UdpProc window, its socket and the hand-off.
#include <winsock.h>
#include <windows.h>

extern const char SendChannelClass[]; // "UdpProc"

extern SOCKET SendSocket;
extern int SendFailed;
extern unsigned short SendLocalPort;

LRESULT CALLBACK UdpSendWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void ForwardDatagram(const void* data, unsigned host, unsigned length);
void SetUpSendSocket(unsigned host, HWND window);
int SendDatagram(const char* data, int length, unsigned short portValue, unsigned host, HWND window);

#pragma once
// The receive side: the hidden UdpRecvProc window, one socket per configured
// host joined to the host's group on the host-side interface, and the
// per-host tables.
#include <winsock.h>
#include <windows.h>

#include "config/HostConfig.h"

extern const char RecvChannelClass[]; // "UdpRecvProc"

// What each host socket asks for as its receive buffer: about a second of a
// busy host, so that a burst outlasts the one thread's pauses.
enum : int { HostReceiveBufferBytes = 4194304 };

struct HostChannelRecord {
    SOCKET socket;   // the host's socket once fully connected
    short hostIndex; // record i always belongs to host i
};

// The socket most recently created for each host; INVALID_SOCKET once closed.
extern SOCKET HostSockets[HOST_COUNT];
// Fully connected sockets, to map a notification back to its host;
// INVALID_SOCKET when the host has none.
extern HostChannelRecord HostChannel[HOST_COUNT];

LRESULT CALLBACK UdpRecvWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// WM_CONNECTHOST: set up host `host`'s channel, or log and arm its retry.
void ConnectHost(HWND window, WPARAM host);
// One "In UDP Recv" record about host `host`, with its receiving port and
// group texts.
void WriteRecvRecord(unsigned host, int error, const char* message);
// Closes host `host`'s receive socket, if open, and forgets it in both
// socket tables.
void CloseHostSocket(unsigned host);
// Stops host `host`'s channel for a reconfiguration: the socket closes, what
// it read goes out, and its counts start again from zero.
void DropHostChannel(unsigned host);

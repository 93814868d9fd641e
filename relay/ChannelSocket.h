#pragma once
// Steps that both channels take on their sockets.
#include <winsock.h>

// Closes `s` unless it is none: INVALID_SOCKET once closed, or 0, what a
// table holds before its first set-up.
void CloseChannelSocket(SOCKET s);
// Sets the multicast time to live of `s` (through SetSockOptProc); the
// option call's result, negative when it failed.
int SetMulticastTtl(SOCKET s);

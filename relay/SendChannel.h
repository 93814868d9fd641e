#pragma once
// The send side: the hidden UdpProc window, its one socket bound on the
// KLOR-side interface, and the hand-off of each datagram from the receive
// side as a posted WM_FORWARDDATAGRAM carrying a movable global block.
#include <winsock.h>
#include <windows.h>

extern const char SendChannelClass[]; // "UdpProc"

LRESULT CALLBACK UdpSendWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Copies `length` bytes into a movable block and posts it to the send window;
// the block belongs to the send window from the post on.
void ForwardDatagram(const void* data, unsigned host, unsigned length);
// Sends at once the datagrams handed to the send window and not yet taken,
// in the order they were handed over.
void SendQueuedDatagrams();
// Looks at the KLOR-side interface now, and when it has changed since the
// last look builds the send socket afresh, its pending retries dropped,
// after one record of host `host` saying why. True when it rebuilt.
bool RebuildSendSocketIfKlorSideChanged(unsigned host);
// Whether `sender` is the send socket's own address and port: a datagram
// from there is the relay's own output.
bool IsFromSendSocket(const sockaddr_in& sender);

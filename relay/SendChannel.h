#pragma once
// The send side: the hidden UdpProc window, its one socket bound on the
// KLOR-side interface, and the hand-off of each datagram from the receive
// side as a posted WM_FORWARDDATAGRAM carrying a movable global block.
#include <winsock.h>
#include <windows.h>

extern const char SendChannelClass[]; // "UdpProc"

extern SOCKET SendSocket;            // 0 before the first set-up; INVALID_SOCKET once closed
extern int SendFailed;               // 1 while datagrams are discarded
extern unsigned short SendLocalPort; // 6793, written unconverted: source port 35098 on the wire
extern unsigned short SendBoundPort; // the port field SendSocket is bound with; 0 while it has none

LRESULT CALLBACK UdpSendWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Copies `length` bytes into a movable block and posts it to the send window;
// the block belongs to the send window from the post on.
void ForwardDatagram(const void* data, unsigned host, unsigned length);
// Sends at once the datagrams handed to the send window and not yet taken,
// in the order they were handed over.
void SendQueuedDatagrams();
// Builds SendSocket afresh; `host` only selects the port text of records.
void SetUpSendSocket(unsigned host, HWND window);
// Builds SendSocket afresh at once, its pending retries dropped, after one
// record of host `host` saying why.
void RebuildSendSocket(unsigned host, const char* why);
// One "In UDP Send" record about host `host`, with its sending port text and
// SENDMCASTADD.
void WriteSendRecord(unsigned host, int error, const char* message);
enum class SendResult {
    Sent,
    Failed,             // the socket is closed, the record written, the retry armed
    DestinationRefused, // this host's destination alone refused it: dropped, the socket kept,
                        // at most one record per host and 10 s
};
// Sends one datagram of host `host` to SENDMCASTADD at `portValue`. When the
// KLOR-side card went or changed, the socket has been rebuilt instead: Failed
// when that set-up failed, DestinationRefused (the datagram dropped) when it
// is ready.
SendResult SendDatagram(const char* data, int length, unsigned short portValue, unsigned host, HWND window);

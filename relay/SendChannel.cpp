#include "relay/SendChannel.h"

#include <cstdio>
#include <cstring>

#include "config/HostConfig.h"
#include "log/EventLog.h"
#include "relay/ChannelSocket.h"
#include "relay/ChannelWatch.h"
#include "relay/HostCounters.h"
#include "relay/LocalBind.h"
#include "relay/RelayRules.h"
#include "relay/RetryTimer.h"
#include "shell/AppGlobals.h"
#include "shell/MessageParams.h"
#include "shell/Messages.h"
#include "shell/PlatformCalls.h"

static_assert(IP_MULTICAST_IF == 2 && IP_MULTICAST_TTL == 3, "Windows Sockets 1.1 option numbers");

const char SendChannelClass[] = "UdpProc";

namespace {

enum : unsigned { TTL_RETRY_PERIOD_MS = 1 }; // a failed time-to-live step is tried again at once

// The local port the send socket binds first, written unconverted: source
// port 35098 on the wire.
enum : unsigned short { SendLocalPort = 6793 };

const char SendModule[] = "In UDP Send";
const ChangeTexts KlorSideTexts = {"KLOR side address gone. Rebuilding send socket",
                                   "KLOR side address back. Rebuilding send socket",
                                   "KLOR side interface changed. Rebuilding send socket"};

SOCKET SendSocket;            // 0 before the first set-up; INVALID_SOCKET once closed
int SendFailed;               // 1 while datagrams are discarded
unsigned short SendBoundPort; // the port field SendSocket is bound with; 0 while it has none

// This window's retry timers. A datagram arriving while the channel is
// failed arms its host's timer only when it is not pending already:
// restarting it with every datagram would keep a busy host's retry (host 0's
// is also the failure's own) from ever expiring.
RetryTimers Retries;

// One record per host and 10 s for datagrams its destination refuses.
RecordGate DestinationGates[HOST_COUNT];

// A set-up step that keeps failing repeats with every retry (the time-to-live
// step every millisecond): one record per 10 s for each step and error.
struct StepRecord {
    int error;
    RecordGate gate;
};
StepRecord InterfaceStepRecord, TtlStepRecord;

bool PassStepRecord(StepRecord& record, int error) {
    if (record.error != error)
        record = {error, {}};
    return PassRecordGate(record.gate, GetTickCount(), RETRY_PERIOD_MS);
}

void CloseSendSocket() {
    CloseChannelSocket(SendSocket);
    SendSocket = INVALID_SOCKET;
    SendBoundPort = 0;
}

sockaddr_in AddressOf(u_long address, unsigned short portValue) {
    sockaddr_in result;
    std::memset(&result, 0, sizeof result);
    result.sin_family = AF_INET;
    result.sin_port = portValue; // unconverted: see PortNumber
    result.sin_addr.s_addr = address;
    return result;
}

// Binds SendSocket from SendLocalPort downwards while the port is taken or
// reserved and notes the port field it got in SendBoundPort. Returns 0, or
// the error of the last failed bind.
int BindSendSocket() {
    sockaddr_in local = AddressOf(inet_addr(LocalAddresses.KLORSIDEIPADDRESS), SendLocalPort);
    bool bound = BindLocal(SendSocket, local) >= 0;
    // Every 16-bit value once at most, so a machine out of ports ends the search.
    for (unsigned tries = 0; !bound && tries < 0xFFFFu && IsLocalPortUnavailable(WSAGetLastError());
         ++tries) {
        local.sin_port = static_cast<u_short>(local.sin_port - 1);
        bound = BindProc(SendSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) >= 0;
    }
    if (!bound)
        return WSAGetLastError();
    SendBoundPort = local.sin_port;
    return 0;
}

// One "In UDP Send" record about host `host`, with its sending port text and
// SENDMCASTADD.
void WriteSendRecord(unsigned host, int error, const char* message) {
    const char* port = host < HOST_COUNT ? HostTable[host].SENDUDPPORTID : "";
    WriteLogRecord(SendModule, host, error, message, port, LocalAddresses.SENDMCASTADD);
}

void LogSendFailure(unsigned host, int error, unsigned short portValue) {
    char portText[8];
    std::snprintf(portText, sizeof portText, "%u", static_cast<unsigned>(portValue));
    WriteLogRecord(SendModule, host, error, "Error in sending socket", portText, LocalAddresses.SENDMCASTADD);
}

// Builds SendSocket afresh; `host` only selects the port text of records.
void SetUpSendSocket(unsigned host, HWND window) {
    CloseSendSocket();
    const u_long klorSide = inet_addr(LocalAddresses.KLORSIDEIPADDRESS);
    WatchKlorSide(klorSide);
    SendSocket = socket(AF_INET, SOCK_DGRAM, 0);
    const int bindError = BindSendSocket();
    if (bindError != 0) {
        WriteSendRecord(host, bindError, "Error in binding socket");
        ArmRetry(Retries, window, 0, RETRY_PERIOD_MS);
        SendFailed = 1;
        return; // the socket stays open until the next set-up
    }
    if (SetSockOptProc(SendSocket, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&klorSide),
                       sizeof klorSide) < 0) {
        const int error = WSAGetLastError();
        if (PassStepRecord(InterfaceStepRecord, error))
            WriteSendRecord(host, error, "Error in setting socket options....Setting to Correct IP");
    }
    if (SetMulticastTtl(SendSocket) < 0) {
        const int error = WSAGetLastError();
        CloseSendSocket();
        if (PassStepRecord(TtlStepRecord, error))
            WriteSendRecord(host, error, "Error in setting socket options....Time to live setting failed");
        ArmRetry(Retries, window, 0, TTL_RETRY_PERIOD_MS);
        SendFailed = 1;
        return;
    }
    SendFailed = 0;
}

// Builds SendSocket afresh at once, its pending retries dropped, after one
// record of host `host` saying why.
void RebuildSendSocket(unsigned host, const char* why) {
    if (SendChannelWindow == nullptr)
        return;
    WriteSendRecord(host, 0, why);
    KillRetries(Retries, SendChannelWindow);
    SetUpSendSocket(host, SendChannelWindow);
}

enum class SendResult {
    Sent,
    Failed,             // the socket is closed, the record written, the retry armed
    DestinationRefused, // this host's destination alone refused it: dropped, the socket kept,
                        // at most one record per host and 10 s
};

// What the send socket's failure means once the KLOR side has been looked at.
SendResult AfterKlorSideRebuilt() {
    return SendFailed == 1 ? SendResult::Failed : SendResult::DestinationRefused;
}

// Sends one datagram of host `host` to SENDMCASTADD at `portValue`. When the
// KLOR-side card went or changed, the socket has been rebuilt instead: Failed
// when that set-up failed, DestinationRefused (the datagram dropped) when it
// is ready.
SendResult SendDatagram(const char* data, int length, unsigned short portValue, unsigned host, HWND window) {
    const sockaddr_in to = AddressOf(inet_addr(LocalAddresses.SENDMCASTADD), portValue);
    if (sendto(SendSocket, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
        return SendResult::Sent;
    const int error = WSAGetLastError();
    // A destination that only this host has (its port) cannot be mended by a
    // new socket, and closing the shared one would cost every other host its
    // traffic. The same errors come for every host when the KLOR-side card
    // itself went or changed (Windows: 10049 for a vanished address; Wine:
    // 10022 for a card plugged in again): the KLOR side is looked at before
    // anything is recorded, once per record that is due.
    if (IsDestinationError(error)) {
        if (host >= HOST_COUNT || !RecordGateOpen(DestinationGates[host], GetTickCount(), RETRY_PERIOD_MS))
            return SendResult::DestinationRefused;
        if (RebuildSendSocketIfKlorSideChanged(host))
            return AfterKlorSideRebuilt();
        PassRecordGate(DestinationGates[host], GetTickCount(), RETRY_PERIOD_MS);
        LogSendFailure(host, error, portValue);
        return SendResult::DestinationRefused;
    }
    if (RebuildSendSocketIfKlorSideChanged(host))
        return AfterKlorSideRebuilt();
    CloseSendSocket();
    LogSendFailure(host, error, portValue);
    ArmRetry(Retries, window, 0, RETRY_PERIOD_MS);
    return SendResult::Failed;
}

void Forward(HWND window, int16_t hostField, uint16_t length, HGLOBAL block) {
    if (hostField < 0 || hostField >= HOST_COUNT) {
        GlobalFree(block); // no such host: nothing to send or count
        return;
    }
    const unsigned host = hostField;
    if (SendFailed == 1) {
        if (!RetryPending(Retries, host))
            ArmRetry(Retries, window, host, RETRY_PERIOD_MS);
        GlobalFree(block);
        return;
    }
    // A text that is no port would send to port 0: the system refuses it, or
    // sends where nobody listens.
    const unsigned short port = PortNumber(HostTable[host].SENDUDPPORTID);
    if (port == 0) {
        if (PassRecordGate(DestinationGates[host], GetTickCount(), RETRY_PERIOD_MS))
            WriteSendRecord(host, 0, "Sending port not a number from 1 to 65535. Not sent");
        GlobalFree(block);
        return;
    }
    const char* data = static_cast<const char*>(GlobalLock(block));
    if (data != nullptr) {
        const SendResult result = SendDatagram(data, length, port, host, window);
        GlobalUnlock(block);
        SendFailed = result == SendResult::Failed ? 1 : 0;
        if (result == SendResult::Sent) {
            CountSent(HostCounters[host]);
            HostLastSentTick[host] = GetTickCount();
        }
    }
    GlobalFree(block);
}

} // namespace

void ForwardDatagram(const void* data, unsigned host, unsigned length) {
    const unsigned bytes = length & 0xFFFFu;
    HGLOBAL block = GlobalAllocProc(GMEM_MOVEABLE, bytes);
    if (block == nullptr) {
        MessageBoxA(MainWindow, "Sending msg to udp", "Error in allocation", MB_OK);
        return;
    }
    void* copy = GlobalLock(block);
    if (copy == nullptr) {
        GlobalFree(block);
        return;
    }
    std::memcpy(copy, data, bytes);
    // With no send window a post would go to the thread queue and be lost.
    const BOOL posted = SendChannelWindow != nullptr &&
                        PostMessageA(SendChannelWindow, WM_FORWARDDATAGRAM, PackForwardParam(bytes, host),
                                     reinterpret_cast<LPARAM>(block));
    GlobalUnlock(block);
    if (!posted)
        GlobalFree(block); // nobody else will
}

bool RebuildSendSocketIfKlorSideChanged(unsigned host) {
    const InterfaceChange change = LookAtKlorSide();
    if (change == InterfaceChange::None)
        return false;
    RebuildSendSocket(host, TextOf(KlorSideTexts, change));
    return true;
}

bool IsFromSendSocket(const sockaddr_in& sender) {
    return SendBoundPort != 0 && sender.sin_port == SendBoundPort &&
           sender.sin_addr.s_addr == inet_addr(LocalAddresses.KLORSIDEIPADDRESS);
}

void SendQueuedDatagrams() {
    MSG message;
    // Taking one posts nothing new for this window: the loop ends with the
    // queue. Without the window nothing was handed over.
    while (SendChannelWindow != nullptr &&
           PeekMessageA(&message, SendChannelWindow, WM_FORWARDDATAGRAM, WM_FORWARDDATAGRAM, PM_REMOVE)) {
        // A quit request comes out whatever the filter; it is the main
        // loop's, and a restart's shutdown depends on it.
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        DispatchMessageA(&message);
    }
}

LRESULT CALLBACK UdpSendWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    SendChannelWindow = window; // known from the window's own creation on
    switch (message) {
    case WM_CREATE: {
        WSADATA data;
        WSAStartup(0x0403, &data); // the result is not needed: WSOCK32 answers with 1.1
        SetUpSendSocket(static_cast<unsigned>(wparam) & 0xFFFFu, window);
        break;
    }
    case WM_DESTROY:
        CloseSendSocket();
        break;
    case WM_NCDESTROY:
        Retries = {}; // the window's timers end with it
        break;
    case WM_FORWARDDATAGRAM:
        Forward(window, ForwardHost(wparam), ForwardLength(wparam), reinterpret_cast<HGLOBAL>(lparam));
        return 0;
    case WM_TIMER:
        if (IsRetryTimerId(wparam))
            SendMessageA(window, WM_CREATE, RetryExpired(Retries, window, wparam), 0);
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

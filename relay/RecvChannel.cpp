#include "relay/RecvChannel.h"

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
#include "relay/SendChannel.h"
#include "shell/AppGlobals.h"
#include "shell/MessageParams.h"
#include "shell/Messages.h"
#include "shell/PlatformCalls.h"

const char RecvChannelClass[] = "UdpRecvProc";

namespace {

// What each host socket asks for as its receive buffer: about a second of a
// busy host, so that a burst outlasts the one thread's pauses.
enum : int { HostReceiveBufferBytes = 4194304 };

// A stalled channel is read again within two looks, long before a busy
// host's receive buffer fills; the interfaces are looked at every eighth
// look, so a lost card is rebuilt well within the 10 s of a retry.
enum : unsigned { CHANNEL_LOOK_PERIOD_MS = 125, LOOKS_PER_INTERFACE_CHECK = 8 };

// The socket most recently created for each host; INVALID_SOCKET once closed.
SOCKET HostSockets[HOST_COUNT];
// Fully connected sockets, to map a notification back to its host;
// INVALID_SOCKET when the host has none.
SOCKET HostChannel[HOST_COUNT];
RetryTimers Retries;
unsigned LooksSinceInterfaceCheck;

const char RecvModule[] = "In UDP Recv";
const char RefusedHostText[] =
    "Error in connecting to Host. Message received to connect for an invalid Host. "
    "Please Cleanup Logs and restart.";
enum : int { ReceiveBufferSize = 512 };

const ChangeTexts HostSideTexts = {"Host side address gone. Reconnecting",
                                   "Host side address back. Reconnecting",
                                   "Host side interface changed. Reconnecting"};

// Lives as long as the window; cleared before each receive so that no byte of
// one datagram travels in the padding of the next.
char ReceiveBuffer[ReceiveBufferSize];

// One record about host `host`, with its receiving port and group texts.
void WriteRecvRecord(unsigned host, int error, const char* message) {
    const bool known = host < HOST_COUNT;
    WriteLogRecord(RecvModule, host, error, message, known ? HostTable[host].RECVUDPPORTID : "",
                   known ? HostTable[host].RECVMCASTADDR : "");
}

// Closes host `host`'s receive socket, if open, and forgets it in both
// socket tables.
void CloseHostSocket(unsigned host) {
    if (host >= HOST_COUNT)
        return;
    CloseChannelSocket(HostSockets[host]);
    HostSockets[host] = INVALID_SOCKET;
    HostChannel[host] = INVALID_SOCKET;
}

// A failed step of a connect or a failed channel: one record, one retry.
void FailChannel(HWND window, unsigned host, int error, const char* message) {
    WriteRecvRecord(host, error, message);
    ArmRetry(Retries, window, host, RETRY_PERIOD_MS);
}

// A failed start-up is done again 10 s later, not as fast as the queue
// allows: a machine whose socket library never starts gets one record per
// 10 s, not a full disk. `host` only selects the texts of that record.
void StartUp(HWND window, unsigned host) {
    WSADATA data;
    if (WSAStartupProc(1, &data) != 0) {
        WriteRecvRecord(host, WSAGetLastError(), "Error in WSAStartup");
        SendMessageA(window, WM_DESTROY, 0, 0);
        SetTimer(window, IDT_STARTUPRETRY, RETRY_PERIOD_MS, nullptr);
    }
    for (int h = 0; h < HOST_COUNT; ++h) {
        HostSockets[h] = INVALID_SOCKET;
        HostChannel[h] = INVALID_SOCKET;
    }
    ResetHostCounters();
    RotateEventLog();
    WatchHostSide(inet_addr(LocalAddresses.HOSTSIDEIPADDRESS));
    SetTimer(window, IDT_CHANNELCHECK, CHANNEL_LOOK_PERIOD_MS, nullptr);
}

// Read the error first, then close: the order of the option and registration
// steps.
void FailAfterRead(HWND window, unsigned host, const char* message) {
    const int error = WSAGetLastError();
    CloseHostSocket(host);
    FailChannel(window, host, error, message);
}

bool JoinGroup(SOCKET s, unsigned host, u_long interfaceAddress) {
    ip_mreq request;
    request.imr_multiaddr.s_addr = inet_addr(HostTable[host].RECVMCASTADDR);
    request.imr_interface.s_addr = interfaceAddress;
    return SetSockOptProc(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                          sizeof request) >= 0;
}

// A short receive buffer is recorded once per host and size.
void AskHostReceiveBuffer(unsigned host, SOCKET s) {
    int granted = 0, error = 0;
    if (!AskReceiveBuffer(host, s, HostReceiveBufferBytes, granted, error))
        return;
    char message[96];
    std::snprintf(message, sizeof message, "Receive buffer %d bytes, asked %d. Receiving on", granted,
                  static_cast<int>(HostReceiveBufferBytes));
    WriteRecvRecord(host, error, message);
}

// The steps after the bind; the failure's record text, or nullptr.
const char* ConfigureSocket(HWND window, SOCKET s, unsigned host, u_long interfaceAddress) {
    AskHostReceiveBuffer(host, s);
    if (SetMulticastTtl(s) < 0)
        return "Error in setting socket options";
    if (!JoinGroup(s, host, interfaceAddress))
        return "Error in setting socket options";
    if (WSAAsyncSelect(s, window, WM_SOCKETEVENT, FD_READ | FD_CLOSE) < 0)
        return "Error in AsyncSelect";
    return nullptr;
}

// The host of a notified socket, or HOST_COUNT when no connected channel owns it.
unsigned HostOfSocket(SOCKET s) {
    unsigned h = 0;
    while (h < HOST_COUNT && (s == INVALID_SOCKET || HostChannel[h] != s))
        ++h;
    return h;
}

void ReadDatagram(HWND window, SOCKET s, unsigned host) {
    std::memset(ReceiveBuffer, 0, sizeof ReceiveBuffer);
    sockaddr_in sender;
    int senderLength = sizeof sender;
    const int got =
        recvfrom(s, ReceiveBuffer, ReceiveBufferSize, 0, reinterpret_cast<sockaddr*>(&sender), &senderLength);
    // Nothing to read: a notification still queued for a closed socket whose
    // handle value the new one has taken, or one the channel check made up
    // beside the platform's own. The channel is sound.
    if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
        return;
    if (got < 1) {
        FailAfterRead(window, host, "Error in recvfrom()");
        return;
    }
    NoteChannelRead(host);
    // A datagram from the send socket's own address and port is the relay's
    // output come back (a local address and a group that match a host
    // channel): relaying it would send it round for ever.
    if (IsFromSendSocket(sender)) {
        if (PassHostRecord(host, HostRecord::OwnOutput))
            WriteRecvRecord(host, 0, "Datagram from the relay's own send socket. Not relayed");
        return;
    }
    CountReceived(HostCounters[host]);
    ForwardDatagram(ReceiveBuffer, host, ReceiveBufferSize);
}

void SocketNotification(HWND window, SOCKET s, uint16_t event, uint16_t error) {
    if (error != 0)
        return;
    const unsigned host = HostOfSocket(s);
    if (host >= HOST_COUNT)
        return; // a socket we have closed since; nothing to count or close
    switch (event) {
    case FD_CLOSE:
        CloseHostSocket(host);
        FailChannel(window, host, WSAGetLastError(), "FD_CLOSE Event Received");
        break;
    case FD_READ:
        ReadDatagram(window, s, host);
        break;
    }
}

// Group memberships end with the interface they were made on, silently: a
// card that went away and came back, or an address moved to another card,
// leaves open sockets that receive nothing. Every configured host's channel
// is rebuilt from scratch instead, its pending retry replaced.
void CheckHostSide(HWND window) {
    const InterfaceChange change = LookAtHostSide();
    if (change == InterfaceChange::None)
        return;
    for (unsigned host = 0; host < HOST_COUNT; ++host) {
        if (!HostConfigured[host])
            continue;
        WriteRecvRecord(host, 0, TextOf(HostSideTexts, change));
        CloseHostSocket(host);
        KillRetry(Retries, window, host);
        PostMessageA(window, WM_CONNECTHOST, host, 0);
    }
}

// A notification that the platform posted after the check's timer message
// was taken is on its way, not lost. (A timer message is only taken when no
// posted message waits.)
bool SocketNoticeQueued(HWND window) {
    MSG waiting;
    return PeekMessageA(&waiting, window, WM_SOCKETEVENT, WM_SOCKETEVENT, PM_NOREMOVE) != FALSE;
}

// A channel with datagrams waiting that has read none since the last look,
// with no notification on its way, has lost its read notification: the next
// one only comes after a read. Under Wine a message box's beep, or a dialog
// closed from another process, has been seen to cost a channel its
// notifications. The channel is notified here instead, once; the read
// re-enables the platform's own notifications.
void ReadStalledChannels(HWND window) {
    int queued = -1; // asked once, before this look posts a notification of its own
    for (unsigned host = 0; host < HOST_COUNT; ++host) {
        const SOCKET s = HostChannel[host];
        if (!LooksStalled(host, s))
            continue;
        if (queued < 0)
            queued = SocketNoticeQueued(window) ? 1 : 0;
        if (queued == 1)
            continue;
        if (PassHostRecord(host, HostRecord::Stall))
            WriteRecvRecord(host, 0, "Read notification missing. Reading on");
        PostMessageA(window, WM_SOCKETEVENT, s, FD_READ);
    }
}

// IDT_CHANNELCHECK: stalled channels at every look, both local interfaces
// at every eighth.
void CheckChannels(HWND window) {
    ReadStalledChannels(window);
    if (++LooksSinceInterfaceCheck < LOOKS_PER_INTERFACE_CHECK)
        return;
    LooksSinceInterfaceCheck = 0;
    CheckHostSide(window);
    RebuildSendSocketIfKlorSideChanged(0);
}

// False for a timer that is none of this window's.
bool TimerExpired(HWND window, WPARAM id) {
    if (IsRetryTimerId(id)) {
        PostMessageA(window, WM_CONNECTHOST, RetryExpired(Retries, window, id), 0);
    } else if (id == IDT_STARTUPRETRY) {
        // Sent: a posted WM_CREATE is refused (ERROR_MESSAGE_SYNC_ONLY).
        KillTimer(window, id);
        SendMessageA(window, WM_CREATE, 0, 0);
    } else if (id == IDT_CHANNELCHECK) {
        CheckChannels(window);
    } else {
        return false;
    }
    return true;
}

// WM_CONNECTHOST: set up host `host`'s channel, or log and arm its retry.
void ConnectHost(HWND window, WPARAM wparam) {
    const unsigned host = static_cast<unsigned>(wparam);
    if (wparam >= HOST_COUNT) {
        WriteLogRecord(RecvModule, host, 0, RefusedHostText, "", "");
        // An index that does not fit the 16 bits of a timer id's host part
        // would arm a real host's retry timer instead.
        if (wparam <= 0xFFFFu)
            ArmRetry(Retries, window, host, RETRY_PERIOD_MS);
        return;
    }
    CloseHostSocket(host); // a channel still open is rebuilt, not leaked
    // atoi would make port 0 of a text that is no number, and the system
    // would pick a port no host sends to.
    const u_short port = PortNumber(HostTable[host].RECVUDPPORTID);
    if (port == 0) {
        FailChannel(window, host, 0, "Receiving port not a number from 1 to 65535. Retrying");
        return;
    }
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    HostSockets[host] = s;
    const u_long interfaceAddress = inet_addr(LocalAddresses.HOSTSIDEIPADDRESS);
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = interfaceAddress;
    if (BindLocal(s, local) < 0) {
        CloseHostSocket(host); // close first, then read the error
        FailChannel(window, host, WSAGetLastError(), "Error in binding socket");
        return;
    }
    const char* failure = ConfigureSocket(window, s, host, interfaceAddress);
    if (failure != nullptr) {
        FailAfterRead(window, host, failure);
        return;
    }
    HostChannel[host] = s;
    ResetReceivedOnConnect(HostCounters[host]);
}

} // namespace

void DropHostChannel(unsigned host) {
    if (host >= HOST_COUNT)
        return;
    CloseHostSocket(host);
    // Its datagrams already handed to the send side are sent, and counted,
    // before the counts restart: sent never runs ahead of received.
    SendQueuedDatagrams();
    HostCounters[host] = {0, 0, 0};
}

LRESULT CALLBACK UdpRecvWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    RecvChannelWindow = window; // known from the window's own creation on
    switch (message) {
    case WM_CREATE:
        StartUp(window, static_cast<unsigned>(wparam) & 0xFFFFu);
        break;
    case WM_DESTROY:
        return 0; // the sockets stay open and pending retries stay armed
    case WM_CONNECTHOST:
        ConnectHost(window, wparam);
        return 0;
    case WM_SOCKETEVENT:
        SocketNotification(window, wparam, SocketEventCode(lparam), SocketEventError(lparam));
        return 0;
    case WM_TIMER:
        if (TimerExpired(window, wparam))
            return 0;
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

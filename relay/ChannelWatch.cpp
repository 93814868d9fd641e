#include "relay/ChannelWatch.h"

#include <cstdio>

#include "config/HostConfig.h"
#include "relay/LocalBind.h"
#include "relay/RecvChannel.h"
#include "relay/RelayRules.h"
#include "relay/SendChannel.h"
#include "shell/MessageParams.h"
#include "shell/Messages.h"
#include "shell/PlatformCalls.h"

namespace {

// A stalled channel is read again within two looks, long before a busy
// host's receive buffer fills; the interfaces are looked at every eighth
// look, so a lost card is rebuilt well within the 10 s of a retry.
enum : unsigned { CHANNEL_LOOK_PERIOD_MS = 125, LOOKS_PER_INTERFACE_CHECK = 8 };

struct HostWatch {
    unsigned readsSinceLook; // datagrams read since the channel check last looked
    RecordGate stallGate;    // "Read notification missing"
    RecordGate ownOutputGate;
    int shortBufferRecorded; // the short receive buffer last recorded; 0 for none
};

// An address the channels are set up on and its interface as last seen.
struct SideWatch {
    bool watching;
    u_long address;
    InterfaceFingerprint seen;
};

HostWatch HostWatches[HOST_COUNT];
// The host side watches the address the channels started with, not the
// configured text: a new address accepted in the configuration dialog takes
// effect with the restart it asks for, and must not take the running
// channels down before (or after a Cancel). The KLOR side watches the address
// of the send socket's latest set-up, which reads the text afresh.
SideWatch HostSide, KlorSide;
unsigned LooksSinceInterfaceCheck;

void Watch(SideWatch& side, u_long address) {
    side = {true, address, ReadInterfaceFingerprint(address)};
}

InterfaceChange LookAt(SideWatch& side) {
    if (!side.watching)
        return InterfaceChange::None;
    const InterfaceFingerprint now = ReadInterfaceFingerprint(side.address);
    const InterfaceChange change = ChangeOf(side.seen, now);
    if (now.known)
        side.seen = now;
    return change;
}

// The record of each change of a side's interface.
struct ChangeTexts {
    const char* gone;
    const char* back;
    const char* changed;
};
const ChangeTexts HostSideTexts = {"Host side address gone. Reconnecting",
                                   "Host side address back. Reconnecting",
                                   "Host side interface changed. Reconnecting"};
const ChangeTexts KlorSideTexts = {"KLOR side address gone. Rebuilding send socket",
                                   "KLOR side address back. Rebuilding send socket",
                                   "KLOR side interface changed. Rebuilding send socket"};

const char* TextOf(const ChangeTexts& texts, InterfaceChange change) {
    switch (change) {
    case InterfaceChange::AddressGone:
        return texts.gone;
    case InterfaceChange::AddressBack:
        return texts.back;
    default:
        return texts.changed;
    }
}

// Group memberships end with the interface they were made on, silently: a
// card that went away and came back, or an address moved to another card,
// leaves open sockets that receive nothing. Every configured host's channel
// is rebuilt from scratch instead, its pending retry replaced.
void CheckHostSide(HWND window) {
    const InterfaceChange change = LookAt(HostSide);
    if (change == InterfaceChange::None)
        return;
    for (unsigned host = 0; host < HOST_COUNT; ++host) {
        if (!HostConfigured[host])
            continue;
        WriteRecvRecord(host, 0, TextOf(HostSideTexts, change));
        CloseHostSocket(host);
        KillTimer(window, RetryTimerId(host));
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
        HostWatch& watch = HostWatches[host];
        const unsigned reads = watch.readsSinceLook;
        watch.readsSinceLook = 0;
        const SOCKET s = HostChannel[host].socket;
        u_long waiting = 0;
        if (reads != 0 || s == INVALID_SOCKET || ioctlsocket(s, FIONREAD, &waiting) != 0 || waiting == 0)
            continue;
        if (queued < 0)
            queued = SocketNoticeQueued(window) ? 1 : 0;
        if (queued == 1)
            continue;
        if (PassRecordGate(watch.stallGate, GetTickCount(), RETRY_PERIOD_MS))
            WriteRecvRecord(host, 0, "Read notification missing. Reading on");
        PostMessageA(window, WM_SOCKETEVENT, s, FD_READ);
    }
}

} // namespace

void StartChannelWatch(HWND window) {
    Watch(HostSide, inet_addr(LocalAddresses.HOSTSIDEIPADDRESS));
    SetTimer(window, IDT_CHANNELCHECK, CHANNEL_LOOK_PERIOD_MS, nullptr);
}

void CheckChannels(HWND window) {
    ReadStalledChannels(window);
    if (++LooksSinceInterfaceCheck < LOOKS_PER_INTERFACE_CHECK)
        return;
    LooksSinceInterfaceCheck = 0;
    CheckHostSide(window);
    KlorSideRebuilt(0);
}

void NoteChannelRead(unsigned host) {
    ++HostWatches[host].readsSinceLook;
}

// A datagram from the send socket's own address and port is the relay's
// output come back (a local address and a group that match a host channel):
// relaying it would send it round for ever.
bool IsOwnOutput(unsigned host, const sockaddr_in& sender) {
    if (SendBoundPort == 0 || sender.sin_port != SendBoundPort ||
        sender.sin_addr.s_addr != inet_addr(LocalAddresses.KLORSIDEIPADDRESS))
        return false;
    if (PassRecordGate(HostWatches[host].ownOutputGate, GetTickCount(), RETRY_PERIOD_MS))
        WriteRecvRecord(host, 0, "Datagram from the relay's own send socket. Not relayed");
    return true;
}

// A burst larger than the buffer is lost while the one thread is busy (a
// dialog opening, a record written). What the system grants is its own
// limit: a refused or smaller size leaves the channel as it is. Wine reads
// back the size asked for whatever Linux granted (net.core.rmem_max), so
// under Wine a short buffer shows only to `ss -m`.
void AskReceiveBuffer(unsigned host, SOCKET s) {
    const int asked = HostReceiveBufferBytes;
    const bool set =
        SetSockOptProc(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&asked), sizeof asked) == 0;
    const int error = set ? 0 : WSAGetLastError();
    int granted = 0;
    int length = sizeof granted;
    if (getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length) != 0)
        return; // nothing known about the size: nothing to tell
    HostWatch& watch = HostWatches[host];
    if (set && granted >= asked) {
        watch.shortBufferRecorded = 0;
        return;
    }
    if (watch.shortBufferRecorded == granted)
        return;
    watch.shortBufferRecorded = granted;
    char message[96];
    std::snprintf(message, sizeof message, "Receive buffer %d bytes, asked %d. Receiving on", granted, asked);
    WriteRecvRecord(host, error, message);
}

void WatchKlorSide(u_long address) {
    if (!KlorSide.watching || KlorSide.address != address)
        Watch(KlorSide, address);
}

bool KlorSideRebuilt(unsigned host) {
    const InterfaceChange change = LookAt(KlorSide);
    if (change == InterfaceChange::None)
        return false;
    RebuildSendSocket(host, TextOf(KlorSideTexts, change));
    return true;
}

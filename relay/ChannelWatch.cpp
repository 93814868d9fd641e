#include "relay/ChannelWatch.h"

#include "config/HostConfig.h"
#include "relay/LocalBind.h"
#include "shell/PlatformCalls.h"

namespace {

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

} // namespace

void WatchHostSide(u_long address) {
    Watch(HostSide, address);
}

void WatchKlorSide(u_long address) {
    if (!KlorSide.watching || KlorSide.address != address)
        Watch(KlorSide, address);
}

InterfaceChange LookAtHostSide() {
    return LookAt(HostSide);
}

InterfaceChange LookAtKlorSide() {
    return LookAt(KlorSide);
}

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

void NoteChannelRead(unsigned host) {
    ++HostWatches[host].readsSinceLook;
}

bool LooksStalled(unsigned host, SOCKET s) {
    const unsigned reads = HostWatches[host].readsSinceLook;
    HostWatches[host].readsSinceLook = 0;
    u_long waiting = 0;
    return reads == 0 && s != INVALID_SOCKET && ioctlsocket(s, FIONREAD, &waiting) == 0 && waiting != 0;
}

bool PassHostRecord(unsigned host, HostRecord kind) {
    HostWatch& watch = HostWatches[host];
    RecordGate& gate = kind == HostRecord::Stall ? watch.stallGate : watch.ownOutputGate;
    return PassRecordGate(gate, GetTickCount(), RETRY_PERIOD_MS);
}

// A burst larger than the buffer is lost while the one thread is busy (a
// dialog opening, a record written). What the system grants is its own
// limit: a refused or smaller size leaves the channel as it is. Wine reads
// back the size asked for whatever Linux granted (net.core.rmem_max), so
// under Wine a short buffer shows only to `ss -m`.
bool AskReceiveBuffer(unsigned host, SOCKET s, int asked, int& granted, int& error) {
    const bool set =
        SetSockOptProc(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&asked), sizeof asked) == 0;
    error = set ? 0 : WSAGetLastError();
    granted = 0;
    int length = sizeof granted;
    if (getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length) != 0)
        return false; // nothing known about the size: nothing to tell
    HostWatch& watch = HostWatches[host];
    if (set && granted >= asked) {
        watch.shortBufferRecorded = 0;
        return false;
    }
    if (watch.shortBufferRecorded == granted)
        return false;
    watch.shortBufferRecorded = granted;
    return true;
}

#pragma once
// The watches over what the channels stand on, knowing no channel: the
// host-side and KLOR-side interfaces (a card re-plugged, an address gone or
// back), the reads of each host channel between two looks, and the receive
// buffer each host socket was granted. A watch says what it saw; the channel
// that owns the side or the socket acts on it.
#include <winsock.h>
#include <windows.h>

#include "relay/RelayRules.h"

// The host-side address the host channels use from now on.
void WatchHostSide(u_long address);
// The KLOR-side address of the send socket's latest set-up: a new address is
// watched afresh, the same one goes on being watched.
void WatchKlorSide(u_long address);
// How the side's interface changed since the last look; None while the side
// is not watched.
InterfaceChange LookAtHostSide();
InterfaceChange LookAtKlorSide();

// A channel's record texts for the changes of its side's interface.
struct ChangeTexts {
    const char* gone;
    const char* back;
    const char* changed;
};
const char* TextOf(const ChangeTexts& texts, InterfaceChange change);

// One datagram read on host `host`'s channel.
void NoteChannelRead(unsigned host);
// One look at host `host`'s channel socket `s` (INVALID_SOCKET when it has
// none): whether datagrams wait on it and it has read none since the last
// look. The reads are counted afresh from here.
bool LooksStalled(unsigned host, SOCKET s);

enum class HostRecord { Stall, OwnOutput };
// Whether a record of this kind about host `host` is due now: at most one per
// host and 10 s.
bool PassHostRecord(unsigned host, HostRecord kind);

// Asks for `asked` bytes of receive buffer on host `host`'s socket `s`, just
// bound, and reads back what was granted. True when a short grant is to be
// recorded, once per host and size; `granted` and `error` (the refused
// request's, or 0) then say what.
bool AskReceiveBuffer(unsigned host, SOCKET s, int asked, int& granted, int& error);

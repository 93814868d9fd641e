#pragma once
// The watches over the channels: the host-side and KLOR-side interfaces (a
// card re-plugged, an address gone or back), host channels whose read
// notification never came, the relay's own output coming back into a host
// channel, and the receive buffer each host channel was granted. They look
// from the receive window's channel check and from the channels' own paths.
#include <winsock.h>
#include <windows.h>

// The receive window's start-up: the host-side address the channels use from
// now on, and the periodic check (IDT_CHANNELCHECK).
void StartChannelWatch(HWND recvWindow);
// IDT_CHANNELCHECK of the receive window.
void CheckChannels(HWND recvWindow);
// One datagram read on host `host`'s channel.
void NoteChannelRead(unsigned host);
// Whether a datagram from `sender` read on host `host`'s channel is the
// relay's own output; at most one record per host and 10 s says so.
bool IsOwnOutput(unsigned host, const sockaddr_in& sender);
// Asks for HostReceiveBufferBytes on a host socket just bound and reads back
// what was granted; one record per host and size when it is less.
void AskReceiveBuffer(unsigned host, SOCKET s);
// The KLOR-side address the send socket is set up with; the watch follows it.
void WatchKlorSide(u_long address);
// Looks at the KLOR-side interface now. True when it has changed since the
// last look: the send socket has then been rebuilt, with one record of host
// `host` saying why.
bool KlorSideRebuilt(unsigned host);

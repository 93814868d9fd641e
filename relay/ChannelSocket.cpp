#include "relay/ChannelSocket.h"

#include "shell/PlatformCalls.h"

namespace {

// Enough hops for the KLOR network's routers.
enum : int { MulticastTtl = 64 };

} // namespace

void CloseChannelSocket(SOCKET s) {
    if (s != INVALID_SOCKET && s != 0)
        closesocket(s);
}

int SetMulticastTtl(SOCKET s) {
    const int ttl = MulticastTtl;
    return SetSockOptProc(s, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl);
}

#pragma once
// This test process's own sockets in the lab: a sender out of the host-side
// address to the hosts' groups, and a receiver of what the relay sends to
// 239.1.1.1 on the KLOR side, which multicast loopback brings back into the
// relay's namespace.
#include <winsock.h>
#include <windows.h>

#include <array>

// A UDP socket of this process, the socket library started for it.
inline SOCKET LabSocket() {
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    return socket(AF_INET, SOCK_DGRAM, 0);
}

// `address` at the port `wirePort` on the wire.
inline sockaddr_in LabAddress(const char* address, u_short wirePort) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(wirePort);
    result.sin_addr.s_addr = inet_addr(address);
    return result;
}

// Host h's channel in the sample configuration: group 239.2.2.(h+1), port 7000 + h.
inline sockaddr_in HostGroup(int host, const char* group = nullptr) {
    char text[20];
    wsprintfA(text, "239.2.2.%d", host + 1);
    return LabAddress(group != nullptr ? group : text, static_cast<u_short>(7000 + host));
}

// Whether some socket holds `wirePort` on `address`: a bind of a socket of
// this test's own there fails with WSAEADDRINUSE. What shows that a channel
// of the relay is up, or closed.
inline bool PortTaken(const char* address, u_short wirePort) {
    SOCKET s = LabSocket();
    const sockaddr_in local = LabAddress(address, wirePort);
    const bool taken = bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 &&
                       WSAGetLastError() == WSAEADDRINUSE;
    closesocket(s);
    return taken;
}

// Whether host h's channel in the sample configuration is up: its port on
// the host-side address is held.
inline bool HostChannelUp(int host) {
    return PortTaken("198.51.100.1", static_cast<u_short>(7000 + host));
}

inline SOCKET HostSender() {
    SOCKET s = LabSocket();
    const u_long hostSide = inet_addr("198.51.100.1");
    setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&hostSide), sizeof hostSide);
    return s;
}

// `count` datagrams whose second byte names the host they are sent for.
inline void SendForHost(SOCKET s, int host, int count, const sockaddr_in& to) {
    char bytes[100] = {'H', static_cast<char>(host)};
    for (int i = 0; i < count; ++i, Sleep(1))
        sendto(s, bytes, sizeof bytes, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Joined to 239.1.1.1 on the KLOR-side interface at the given port on the
// wire (34074: sending port "6789"); non-blocking. INVALID_SOCKET on failure.
inline SOCKET KlorReceiver(u_short wirePort = 34074) {
    SOCKET s = LabSocket();
    const sockaddr_in local = LabAddress("203.0.113.1", wirePort);
    ip_mreq join = {};
    join.imr_multiaddr.s_addr = inet_addr("239.1.1.1");
    join.imr_interface.s_addr = inet_addr("203.0.113.1");
    u_long nonBlocking = 1;
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&join), sizeof join) !=
            0 ||
        ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Relayed datagrams per host, read until `expected` have come or `ms` have
// passed since the last one.
inline std::array<int, 6> ReceivePerHost(SOCKET s, int expected, DWORD ms = 1500) {
    std::array<int, 6> counts = {};
    int total = 0;
    char bytes[600];
    DWORD last = GetTickCount();
    while (total < expected && GetTickCount() - last < ms) {
        if (recv(s, bytes, sizeof bytes, 0) == 512 && bytes[0] == 'H' && bytes[1] >= 0 && bytes[1] < 6) {
            ++counts[static_cast<size_t>(bytes[1])];
            ++total;
            last = GetTickCount();
        } else {
            Sleep(2);
        }
    }
    return counts;
}

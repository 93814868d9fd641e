#include "relay/LocalBind.h"

#include <iphlpapi.h>

#include <vector>

#include "relay/RelayRules.h"

bool IsMachineAddress(u_long address) {
    if (IsBindableLocalAddress(address, nullptr, 0))
        return true;
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return true; // the table cannot be read: leave the decision to bind()
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR)
        return true;
    std::vector<uint32_t> own;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        own.push_back(table->table[i].dwAddr);
    return IsBindableLocalAddress(address, own.data(), own.size());
}

int BindLocal(SOCKET socket, const sockaddr_in& local) {
    if (!IsMachineAddress(local.sin_addr.s_addr)) {
        WSASetLastError(WSAEADDRNOTAVAIL);
        return SOCKET_ERROR;
    }
    return bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

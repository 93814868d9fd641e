#include "relay/LocalBind.h"

#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "relay/RelayRules.h"
#include "shell/PlatformCalls.h"

namespace {

// One of the IP helper's tables (GetIpAddrTable, GetIfTable) into `buffer`;
// nullptr when it cannot be read.
template <typename Table, typename Reader> Table* ReadTable(std::vector<unsigned char>& buffer, Reader read) {
    ULONG size = 0;
    if (read(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return nullptr;
    buffer.resize(size);
    auto* table = reinterpret_cast<Table*>(buffer.data());
    return read(table, &size, FALSE) == NO_ERROR ? table : nullptr;
}

bool SameDescription(const MIB_IFROW& a, const MIB_IFROW& b) {
    return a.dwDescrLen == b.dwDescrLen && a.dwDescrLen <= sizeof a.bDescr &&
           std::memcmp(a.bDescr, b.bDescr, a.dwDescrLen) == 0;
}

// Whether `address` (network byte order) is bindable on this machine now.
bool IsMachineAddress(u_long address) {
    if (IsBindableLocalAddress(address, nullptr, 0))
        return true;
    std::vector<unsigned char> buffer;
    const MIB_IPADDRTABLE* table = ReadTable<MIB_IPADDRTABLE>(buffer, GetIpAddrTable);
    if (table == nullptr)
        return true; // the table cannot be read: leave the decision to bind()
    std::vector<uint32_t> own;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        own.push_back(table->table[i].dwAddr);
    return IsBindableLocalAddress(address, own.data(), own.size());
}

} // namespace

int BindLocal(SOCKET socket, const sockaddr_in& local) {
    if (!IsMachineAddress(local.sin_addr.s_addr)) {
        WSASetLastError(WSAEADDRNOTAVAIL);
        return SOCKET_ERROR;
    }
    return BindProc(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

InterfaceFingerprint ReadInterfaceFingerprint(u_long address) {
    InterfaceFingerprint print = {};
    std::vector<unsigned char> addressBuffer, interfaceBuffer;
    const MIB_IPADDRTABLE* addresses = ReadTable<MIB_IPADDRTABLE>(addressBuffer, GetIpAddrTable);
    const MIB_IFTABLE* interfaces = ReadTable<MIB_IFTABLE>(interfaceBuffer, GetIfTable);
    if (addresses == nullptr || interfaces == nullptr)
        return print;
    print.known = true;
    // A card whose cable is out keeps its address in the table on Windows,
    // flagged: it counts as gone.
    for (DWORD i = 0; i < addresses->dwNumEntries && !print.present; ++i)
        if (addresses->table[i].dwAddr == address && IsAddressEntryUp(addresses->table[i].wType)) {
            print.present = true;
            print.index = addresses->table[i].dwIndex;
        }
    const MIB_IFROW* own = nullptr;
    for (DWORD i = 0; i < interfaces->dwNumEntries && print.present; ++i)
        if (interfaces->table[i].dwIndex == print.index)
            own = &interfaces->table[i];
    for (DWORD i = 0; i < interfaces->dwNumEntries && own != nullptr; ++i)
        if (SameDescription(interfaces->table[i], *own)) {
            ++print.peers;
            print.peerIndexSum += interfaces->table[i].dwIndex;
        }
    return print;
}

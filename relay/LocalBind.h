#pragma once
// bind() for the channels, with the Windows rule on every platform: a local
// address that is not one of the machine's own fails with WSAEADDRNOTAVAIL
// (10049). Wine binds such an address to the wildcard instead, which would
// leave a channel listening on every interface and report success. Also
// what the machine's tables say about the interface of a local address.
#include <winsock.h>
#include <windows.h>

#include "relay/RelayRules.h"

// bind(), or SOCKET_ERROR with WSAEADDRNOTAVAIL set when the address of
// `local` is not bindable. Asks the system for its addresses on each call:
// meant for set-up only, never per datagram.
int BindLocal(SOCKET socket, const sockaddr_in& local);
// A local address's interface as the machine's tables show it now;
// not `known` when they cannot be read.
InterfaceFingerprint ReadInterfaceFingerprint(u_long address);

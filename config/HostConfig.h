#pragma once
// The relay's configuration in memory: six host channels and the three local
// addresses, kept as the text read from NEWUDPSRVR.INI or typed by the
// operator, plus the change flags of the configuration dialog. No Windows API
// here, so the rules below are unit-tested natively.

enum : int { HOST_COUNT = 6 }; // host channels 0 to 5: table sizes, loop bounds, the host-number rule

enum : unsigned {
    PORT_TEXT_SIZE = 6,     // 5 characters and the terminating zero
    ADDRESS_TEXT_SIZE = 17, // 16 characters and the terminating zero
};

struct HostEntry {
    char RECVUDPPORTID[PORT_TEXT_SIZE]; // "?" when the file has no such key
    char RECVMCASTADDR[ADDRESS_TEXT_SIZE];
    char SENDUDPPORTID[PORT_TEXT_SIZE];
};
static_assert(sizeof(HostEntry) == 29, "HostEntry is the 29-byte scratch record of the load");

struct LocalAddressTexts {
    char SENDMCASTADD[ADDRESS_TEXT_SIZE];
    char HOSTSIDEIPADDRESS[ADDRESS_TEXT_SIZE];
    char KLORSIDEIPADDRESS[ADDRESS_TEXT_SIZE];
};

extern HostEntry HostTable[HOST_COUNT];
extern LocalAddressTexts LocalAddresses;
// Separate file buffers of the three local addresses: the load reads into
// them, the configuration dialog fills them just before writing a key.
extern LocalAddressTexts LocalAddressFileBuffers;

// The local addresses as loaded at start-up, which the relay's channels were
// set up with: a stored interface address that differs needs a restart.
extern LocalAddressTexts StartupAddresses;

extern int HostConfigured[HOST_COUNT];
extern int HostModified[HOST_COUNT];
extern int SendMcastModified;
extern int HostSideModified;
extern int KLORSideModified;

// The load's rule: a host is configured unless its receiving port is exactly "?".
bool IsUnconfiguredPortValue(const char* recvPort);
// The display rule: a port text that is empty or begins with '?' is no host.
bool PortTextNamesHost(const char* recvPort);
// An entry whose channel can be connected: its receiving port is a port
// number and its receiving group passes the address check.
bool IsUsableHostEntry(const HostEntry& entry);

#pragma once
// The relay's configuration in memory: six host channels and the three local
// addresses, kept as the text read from NEWUDPSRVR.INI or typed by the
// operator, plus the change flags of the configuration dialog, and the rules
// its values meet. No Windows API here, so the rules below are unit-tested
// natively and fuzzed.
#include <cstdint>

#include "config/HostCount.h"

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
// The port a configured port text names: a number from 1 to 65535 in decimal
// digits and nothing else; 0 for any other text ("", "?5", "0", "65536",
// " 5"), which names no port and sets no channel up. The send side stores the
// value as it is in a sockaddr_in port field, not converted to network byte
// order, which is what KLOR-side receivers expect ("6789" arrives at port
// 34074 on a little-endian machine); the receive side converts it.
uint16_t PortNumber(const char* portText);
// 1 for an acceptable dotted address, 0 otherwise: exactly three dots, at
// least 7 characters, no dot followed by another dot or the end, and no part
// read as a decimal number above 255. Texts longer than 15 characters are
// no address (the fields hold 15). The operator's every address must pass it.
int IsValidDottedAddress(const char* text);
// An entry whose channel can be connected: its receiving port is a port
// number and its receiving group passes the address check.
bool IsUsableHostEntry(const HostEntry& entry);

#include "config/HostConfig.h"

#include <cstring>

#include "config/Syscfg/FieldRules.h"
#include "relay/RelayRules.h"

HostEntry HostTable[HOST_COUNT];
LocalAddressTexts LocalAddresses;
LocalAddressTexts LocalAddressFileBuffers;
LocalAddressTexts StartupAddresses;

int HostConfigured[HOST_COUNT];
int HostModified[HOST_COUNT];
int SendMcastModified;
int HostSideModified;
int KLORSideModified;

bool IsUnconfiguredPortValue(const char* recvPort) {
    return std::strcmp(recvPort, "?") == 0;
}

bool PortTextNamesHost(const char* recvPort) {
    return recvPort[0] != '\0' && recvPort[0] != '?';
}

bool IsUsableHostEntry(const HostEntry& entry) {
    return PortNumber(entry.RECVUDPPORTID) != 0 && IsValidDottedAddress(entry.RECVMCASTADDR) == 1;
}

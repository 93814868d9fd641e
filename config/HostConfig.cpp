#include "config/HostConfig.h"

#include <cstring>

HostEntry HostTable[6];
LocalAddressTexts LocalAddresses;
LocalAddressTexts LocalAddressFileBuffers;

int HostConfigured[6];
int HostModified[6];
int SendMcastModified;
int HostSideModified;
int KLORSideModified;

bool IsUnconfiguredPortValue(const char* recvPort) {
    return std::strcmp(recvPort, "?") == 0;
}

bool PortTextNamesHost(const char* recvPort) {
    return recvPort[0] != '\0' && recvPort[0] != '?';
}

#include "config/HostConfig.h"

#include <cstring>

#include "config/Syscfg/FieldRules.h"

HostEntry HostTable[6];
LocalAddressTexts LocalAddresses;
LocalAddressTexts LocalAddressFileBuffers;
LocalAddressTexts StartupAddresses;

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

bool IsPortNumberText(const char* port) {
    long value = 0;
    for (const char* c = port; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > 65535)
            return false;
        value = value * 10 + (*c - '0');
    }
    return value >= 1 && value <= 65535;
}

bool IsUsableHostEntry(const HostEntry& entry) {
    return IsPortNumberText(entry.RECVUDPPORTID) && IsValidDottedAddress(entry.RECVMCASTADDR) == 1;
}

#include "config/HostConfig.h"

#include <cstring>

HostEntry HostTable[HOST_COUNT];
LocalAddressTexts LocalAddresses;
LocalAddressTexts StartupAddresses;

int HostConfigured[HOST_COUNT];
int HostModified[HOST_COUNT];
int SendMcastModified;
int HostSideModified;
int KLORSideModified;

namespace {

enum : size_t { AddressTextMax = 15 };

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A part's leading number as the C library's atol reads it (blanks, one sign,
// digits), saturated so that no text can overflow it.
long LeadingNumber(const char* text) {
    while (IsBlank(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (value < 100000)
            value = value * 10 + (*text - '0');
    return negative ? -value : value;
}

// Occurrences of `character` in `text`; -1 when there is no text.
int CountChar(const char* text, char character) {
    if (text == nullptr)
        return -1;
    int count = 0;
    for (; *text != '\0'; ++text)
        if (*text == character)
            ++count;
    return count;
}

} // namespace

bool IsUnconfiguredPortValue(const char* recvPort) {
    return std::strcmp(recvPort, "?") == 0;
}

bool PortTextNamesHost(const char* recvPort) {
    return recvPort[0] != '\0' && recvPort[0] != '?';
}

bool IsUsableHostEntry(const HostEntry& entry) {
    return PortNumber(entry.RECVUDPPORTID) != 0 && IsValidDottedAddress(entry.RECVMCASTADDR) == 1;
}

uint16_t PortNumber(const char* portText) {
    unsigned long value = 0;
    const char* c = portText;
    for (; *c >= '0' && *c <= '9' && value <= 65535; ++c)
        value = value * 10 + static_cast<unsigned>(*c - '0');
    return *c == '\0' && c != portText && value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

int IsValidDottedAddress(const char* text) {
    if (CountChar(text, '.') != 3)
        return 0;
    const size_t length = std::strlen(text);
    if (length < 7 || length > AddressTextMax)
        return 0;
    char copy[AddressTextMax + 1];
    std::memcpy(copy, text, length + 1);
    const char* part = copy;
    for (int dot = 0; dot < 3; ++dot) {
        const char* found = std::strchr(part, '.');
        if (found[1] == '.' || found[1] == '\0')
            return 0;
        if (LeadingNumber(part) > 255)
            return 0;
        part = found + 1;
    }
    return LeadingNumber(part) > 255 ? 0 : 1;
}

#include "relay/RelayRules.h"

#include <cstdlib>
#include <cstring>

uint16_t SendPortValue(const char* portText) {
    // Port texts hold at most 5 characters, so atoi cannot overflow.
    return static_cast<uint16_t>(std::atoi(portText));
}

uint16_t WirePortOfField(uint16_t fieldValue) {
    unsigned char bytes[2];
    std::memcpy(bytes, &fieldValue, sizeof bytes);
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

bool IsBindableLocalAddress(uint32_t address, const uint32_t* machine, size_t count) {
    if (address == 0)
        return true;
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    if (bytes[0] == 127)
        return true;
    for (size_t i = 0; i < count; ++i)
        if (machine[i] == address)
            return true;
    return false;
}

bool PassRecordGate(RecordGate& gate, uint32_t nowMs, uint32_t periodMs) {
    if (gate.passed && nowMs - gate.at < periodMs)
        return false;
    gate = {true, nowMs};
    return true;
}

bool IsDestinationError(int error) {
    return error == 10022 || error == 10049;
}

InterfaceChange ChangeOf(const InterfaceFingerprint& before, const InterfaceFingerprint& now) {
    if (!before.known || !now.known)
        return InterfaceChange::None;
    if (before.present != now.present)
        return now.present ? InterfaceChange::AddressBack : InterfaceChange::AddressGone;
    if (now.present &&
        (before.index != now.index || before.peers != now.peers || before.peerIndexSum != now.peerIndexSum))
        return InterfaceChange::InterfaceChanged;
    return InterfaceChange::None;
}

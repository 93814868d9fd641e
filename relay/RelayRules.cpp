#include "relay/RelayRules.h"

#include <cstring>

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

bool RecordGateOpen(const RecordGate& gate, uint32_t nowMs, uint32_t periodMs) {
    return !gate.passed || nowMs - gate.at >= periodMs;
}

bool PassRecordGate(RecordGate& gate, uint32_t nowMs, uint32_t periodMs) {
    if (!RecordGateOpen(gate, nowMs, periodMs))
        return false;
    gate = {true, nowMs};
    return true;
}

bool IsDestinationError(int error) {
    return error == 10022 || error == 10049;
}

bool IsLocalPortUnavailable(int error) {
    return error == 10048 || error == 10013;
}

bool IsAddressEntryUp(uint16_t typeFlags) {
    return (typeFlags & (0x0008u | 0x0040u)) == 0; // MIB_IPADDR_DISCONNECTED, MIB_IPADDR_DELETED
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

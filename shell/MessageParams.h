#pragma once
// Packing of message parameters and timer ids. Only the low 32 bits of a
// WPARAM/LPARAM carry meaning, so the same rules hold on 32- and 64-bit
// Windows.
#include <cstdint>

#include "shell/Messages.h"

// WM_FORWARDDATAGRAM wparam: length in the high 16 bits, host in the low 16.
inline uint32_t PackForwardParam(uint32_t length, uint32_t host) {
    return ((length & 0xFFFFu) << 16) | (host & 0xFFFFu);
}
inline uint16_t ForwardLength(uint64_t wparam) {
    return static_cast<uint16_t>((wparam >> 16) & 0xFFFFu);
}
inline int16_t ForwardHost(uint64_t wparam) {
    return static_cast<int16_t>(wparam & 0xFFFFu);
}

// Retry timer ids: 1 in the high 16 bits, the host index in the low 16 bits.
inline uint32_t RetryTimerId(uint32_t host) {
    return IDT_RETRY + (host & 0xFFFFu);
}
inline bool IsRetryTimerId(uint64_t id) {
    return ((id >> 16) & 0xFFFFu) == 1u;
}
inline uint16_t RetryTimerHost(uint64_t id) {
    return static_cast<uint16_t>(id & 0xFFFFu);
}

// WM_SOCKETEVENT lparam: the event in the low 16 bits, the error in the high 16.
inline uint16_t SocketEventCode(uint64_t lparam) {
    return static_cast<uint16_t>(lparam & 0xFFFFu);
}
inline uint16_t SocketEventError(uint64_t lparam) {
    return static_cast<uint16_t>((lparam >> 16) & 0xFFFFu);
}

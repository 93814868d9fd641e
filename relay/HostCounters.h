#pragma once
// Per-host runtime counters of the relay, read by the Statistics dialog, and
// the rules by which the channels update them. No Windows API here, so the
// rules are unit-tested natively.
#include <cstdint>

#include "config/HostConfig.h"

struct HostCounterRecord {
    int32_t status;   // 0 receiving, -1 not receiving
    int32_t received; // datagrams read on the host's channel
    int32_t sent;     // datagrams of the host sent on the KLOR network
};

extern HostCounterRecord HostCounters[HOST_COUNT];
// The tick count (GetTickCount) of each host's last datagram sent; 0 before
// the first. One store per datagram: the status file makes a time of it.
extern uint32_t HostLastSentTick[HOST_COUNT];

// Every record to {status -1, received 0, sent 0}.
void ResetHostCounters();
// One datagram read: received + 1 in 32-bit two's complement (2147483647 is
// followed by -2147483648), status 0.
void CountReceived(HostCounterRecord& record);
// A successful connect: a received count above 2147483644 starts again at 0;
// a count that has wrapped to a negative value is left.
void ResetReceivedOnConnect(HostCounterRecord& record);
// One datagram sent: sent + 1, and 0 when that exceeds 2147483644.
void CountSent(HostCounterRecord& record);

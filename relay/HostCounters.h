#pragma once
// Per-host runtime counters of the relay, read by the Statistics dialog.
#include <cstdint>

struct HostCounterRecord {
    int32_t status;   // 0 receiving, -1 not receiving
    int32_t received; // datagrams read on the host's channel
    int32_t sent;     // datagrams of the host sent on the KLOR network
};

extern HostCounterRecord HostCounters[6];

#include "relay/HostCounters.h"

HostCounterRecord HostCounters[HOST_COUNT];
uint32_t HostLastSentTick[HOST_COUNT];

namespace {
// Above this a count is set back to 0 (received: at a successful connect;
// sent: right at the increment).
enum : int32_t { CounterResetLimit = 2147483644 };

// Increment in unsigned arithmetic: the wrap is defined there, not in int32_t.
int32_t Incremented(int32_t value) {
    const uint32_t next = static_cast<uint32_t>(value) + 1u;
    return next > 0x7FFFFFFFu ? static_cast<int32_t>(next - 0x80000000u) - 0x7FFFFFFF - 1
                              : static_cast<int32_t>(next);
}
} // namespace

void ResetHostCounters() {
    for (HostCounterRecord& record : HostCounters)
        record = {-1, 0, 0};
}

void CountReceived(HostCounterRecord& record) {
    record.received = Incremented(record.received);
    record.status = 0;
}

void ResetReceivedOnConnect(HostCounterRecord& record) {
    if (record.received > CounterResetLimit)
        record.received = 0;
}

void CountSent(HostCounterRecord& record) {
    record.sent = Incremented(record.sent);
    if (record.sent > CounterResetLimit)
        record.sent = 0;
}

#include "relay/RetryTimer.h"

#include "config/HostConfig.h"
#include "shell/MessageParams.h"

namespace {

// A timer id may name any 16-bit host; only the hosts have a bit.
unsigned RetryBit(unsigned host) {
    return host < HOST_COUNT ? 1u << host : 0u;
}

} // namespace

void ArmRetry(RetryTimers& timers, HWND window, unsigned host, unsigned periodMs) {
    SetTimer(window, RetryTimerId(host), periodMs, nullptr);
    timers.pending |= RetryBit(host);
}

bool RetryPending(const RetryTimers& timers, unsigned host) {
    return (timers.pending & RetryBit(host)) != 0;
}

void KillRetry(RetryTimers& timers, HWND window, unsigned host) {
    KillTimer(window, RetryTimerId(host));
    timers.pending &= ~RetryBit(host);
}

void KillRetries(RetryTimers& timers, HWND window) {
    for (unsigned host = 0; host < HOST_COUNT; ++host)
        if (RetryPending(timers, host))
            KillTimer(window, RetryTimerId(host));
    timers.pending = 0;
}

unsigned RetryExpired(RetryTimers& timers, HWND window, WPARAM id) {
    KillTimer(window, id);
    const unsigned host = RetryTimerHost(id);
    timers.pending &= ~RetryBit(host);
    return host;
}

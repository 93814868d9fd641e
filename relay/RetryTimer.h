#pragma once
// The one-shot retry timers of a channel window: one per host, with the id
// RetryTimerId(host), and which of them are armed and have not expired yet.
#include <windows.h>

struct RetryTimers {
    unsigned pending; // one bit per host of the tables; an id beyond them has none
};

// Arms host `host`'s retry timer on `window`, or restarts it.
void ArmRetry(RetryTimers& timers, HWND window, unsigned host, unsigned periodMs);
// Whether host `host`'s timer is armed and has not expired.
bool RetryPending(const RetryTimers& timers, unsigned host);
// Stops host `host`'s timer.
void KillRetry(RetryTimers& timers, HWND window, unsigned host);
// Stops every pending timer of `window`.
void KillRetries(RetryTimers& timers, HWND window);
// WM_TIMER of the retry timer `id`: the timer ends, as a one-shot; returns its host.
unsigned RetryExpired(RetryTimers& timers, HWND window, WPARAM id);

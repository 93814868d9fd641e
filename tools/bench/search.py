#!/usr/bin/env python3
"""The search for a subject's zero-loss rate: the highest rate it carries."""
import time

from measure import measure

# A rate counts as carried when delivered at least this share of it (see carried).
CARRIED_SHARE = 0.95


def carried(row):
    """A rate is carried when nothing is lost and it is delivered as fast as
    it is offered: the relay's 4 MiB receive buffers hold seconds of traffic,
    so a short run can lose nothing while a backlog grows behind it."""
    return bool(row["sent"]) and row["lost"] == 0 and row["delivered"] >= CARRIED_SHARE * row["rate"]


def search_zero_loss(a, runs, subject):
    """The highest rate that loses nothing, in at most --search-steps short
    measurements: doubling from --search-from until a rate loses (or
    --search-max passes), then halving the gap until it is below
    --search-resolution of the rate. Returns the rate and the rows."""
    rows, lo, hi, rate = [], 0, None, a.search_from
    for _ in range(a.search_steps):
        row = measure(a, runs, subject, rate, a.search_duration, phase="search")
        rows.append(row)
        if carried(row):
            lo = rate
        else:
            hi = rate
        time.sleep(a.pause)
        if hi is None:
            if rate >= a.search_max:
                break
            rate = min(rate * 2, a.search_max)
        elif hi - lo <= a.search_resolution * hi:
            break
        else:
            rate = (lo + hi) // 2
    print(f"bench: {subject.name}: no loss up to {lo}/s"
          + ("" if hi is not None else f" (the highest rate tried)"), flush=True)
    return lo, rows


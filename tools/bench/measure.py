#!/usr/bin/env python3
"""One measurement: a rate offered to a subject for a while, or steady
traffic with a burst beside it; what was sent, received and lost, the
latency and the processor time per datagram."""
import array
import os
import tempfile
import time

from subjects import cpu_ticks
from traffic import udp_snmp


def snapshot(pids):
    return {k: [cpu_ticks(p) for p in v] for k, v in pids.items()}


def usage(before, after, received):
    """CPU microseconds per relayed datagram for each process group."""
    hz = os.sysconf("SC_CLK_TCK")
    out = {}
    for k in before:
        user = sum(a[0] - b[0] for a, b in zip(after[k], before[k]))
        system = sum(a[1] - b[1] for a, b in zip(after[k], before[k]))
        switches = sum(a[2] - b[2] for a, b in zip(after[k], before[k]))
        ticks = user + system
        out[k] = {"cpu_s": ticks / hz, "system_share": system / ticks if ticks else None,
                  "cpu_us_per_dgram": ticks / hz * 1e6 / received if received else None,
                  "ctx_per_dgram": switches / received if received else None}
    return out


def measure(a, runs, subject, rate, duration=None, phase="rate"):
    duration = duration or a.duration
    expected = int(rate * duration)
    pids = subject.pids()
    p = runs.start_receiver(expected)
    relay_before = udp_snmp()
    before = snapshot(pids)
    s = runs.send(rate, duration)
    r = runs.finish_receiver(p)
    after = snapshot(pids)
    relay_after = udp_snmp()
    lost = s["sent"] - r["received"]
    # Delivered: what arrived over the time from the first send to the last
    # arrival, so a backlog drained after the sender stopped does not count
    # as throughput.
    took = (r["last_ns"] - s["first_ns"]) / 1e9 if r["last_ns"] and s["first_ns"] else 0.0
    delivered = r["received"] / max(took, duration) if r["received"] else 0.0
    row = {"subject": subject.name, "rate": rate, "phase": phase, "delivered": delivered, **s, **r, "lost": lost,
           "loss_pct": 100.0 * lost / s["sent"] if s["sent"] else 0.0,
           "relay_ns_rcvbuf_errors": relay_after.get("RcvbufErrors", 0) - relay_before.get("RcvbufErrors", 0),
           "cpu": usage(before, after, r["received"])}
    print(f"bench: {subject.name:12} {rate:6}/s sent {s['sent']} ({s['achieved']:.0f}/s) "
          f"received {r['received']} ({delivered:.0f}/s) lost {lost} ({row['loss_pct']:.2f} %) "
          f"p50 {fmt_us(r['p50_us'])} p99 {fmt_us(r['p99_us'])} max {fmt_us(r['max_us'])}", flush=True)
    return row


def measure_burst(a, runs, subject):
    """Steady traffic at --burst-steady /s with a 1 s burst at --burst-rate
    /s beside it (--burst-at s after the start, then --burst-after s more):
    the steady datagrams lost, and how long after the burst's end the last
    of them was sent (0 when none was lost after the burst began): the time
    the relay took to deliver everything again."""
    rate, duration = a.burst_steady, a.burst_at + 1.0 + a.burst_after
    expected = int(rate * duration)
    record = tempfile.mktemp(prefix="relay-burst-")
    p = runs.start_receiver(expected, extra=("--record", record))
    start_ns = time.monotonic_ns() + 300_000_000
    burst_ns = start_ns + int(a.burst_at * 1e9)
    steady = runs.start_sender(rate, duration, start_ns)
    burst = runs.start_sender(a.burst_rate, 1.0, burst_ns, run=runs.run + 1000)
    s = runs.finish_sender(steady, duration + 60)
    b = runs.finish_sender(burst, 60)
    r = runs.finish_receiver(p)
    got = array.array("q")
    with open(record, "rb") as f:
        got.frombytes(f.read())
    os.remove(record)
    seen = set(got[0::2])
    lost = [i for i in range(s["sent"]) if i not in seen]
    sent_at = [(start_ns + i * 1e9 / rate - burst_ns) / 1e9 for i in lost]  # s from the burst's start
    before = sum(1 for t in sent_at if t < 0)
    recovery = max(0.0, max(sent_at) - 1.0) if lost and max(sent_at) >= 0 else 0.0
    row = {"subject": subject.name, "rate": rate, "phase": "burst", "sent": s["sent"], "received": r["received"],
           "lost": len(lost), "lost_before_burst": before, "burst_sent": b["sent"], "recovery_s": recovery,
           "loss_pct": 100.0 * len(lost) / s["sent"] if s["sent"] else 0.0}
    print(f"bench: {subject.name:12} burst: steady {rate}/s sent {s['sent']} lost {len(lost)} "
          f"({before} before the burst); burst of {b['sent']} in 1 s; all delivered again "
          f"{recovery:.1f} s after the burst", flush=True)
    return row


def fmt_us(v):
    return "-" if v is None else (f"{v:.0f} µs" if v < 10000 else f"{v / 1000:.1f} ms")


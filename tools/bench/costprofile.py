#!/usr/bin/env python3
"""Where the relay's time goes per datagram (`relaybench.py profile`):
syscall counts of the relay process and the wineserver (strace -f -c), their
CPU samples by library (perf, when present) and the wineserver requests the
relay makes (WINEDEBUG=+server)."""
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

from subjects import RelaySubject
from traffic import Runs


def strace_counts(path):
    """calls per syscall name from an `strace -c` summary."""
    counts = {}
    if not os.path.exists(path):  # nothing traced
        return counts
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and parts[0][0].isdigit() and parts[-1] not in ("total", "syscall"):
                calls = int(parts[3])
                counts[parts[-1]] = counts.get(parts[-1], 0) + calls
    return counts


REQUEST = re.compile(r"^[0-9a-f]{4}: (\w+)\((.*)$")
WRITE2 = re.compile(r'^(?:\[pid +\d+\] |\d+ +)?write\(2, "((?:\\x[0-9a-f]{2})*)"')


def server_requests(path):
    """Requests (not replies) counted by name in the wineserver's own trace
    (WINEDEBUG=+server), taken from its writes to stderr in an strace log."""
    text = []
    with open(path) as f:
        for line in f:
            m = WRITE2.match(line)
            if m:
                text.append(bytes.fromhex(m.group(1).replace("\\x", "")).decode("latin-1"))
    counts = {}
    for line in "".join(text).splitlines():
        m = REQUEST.match(line)
        if m and not m.group(2).startswith(") = "):  # "name() = status {...}" is the reply
            counts[m.group(1)] = counts.get(m.group(1), 0) + 1
    return counts


def per_dgram(busy, idle, n):
    names = set(busy) | set(idle)
    out = {k: (busy.get(k, 0) - idle.get(k, 0)) / n for k in names}
    return dict(sorted(((k, round(v, 2)) for k, v in out.items() if abs(v) >= 0.05), key=lambda kv: -kv[1]))


def traced(runs, pids, window, rate, work_dir, label, server_trace=False):
    """strace on each pid for `window` seconds, with or without traffic:
    syscall counts (-c), or with server_trace the wineserver's request trace."""
    tracers = {}
    for name, pid in pids.items():
        path = os.path.join(work_dir, f"{label}-{name}.strace")
        how = ["-e", "trace=write,writev", "-xx", "-s", "65536"] if server_trace else ["-f", "-c"]
        tracers[name] = (path, subprocess.Popen(["strace", *how, "-o", path, "-p", str(pid)],
                                                stderr=subprocess.DEVNULL))
    time.sleep(1.0)  # strace attaches to every thread
    got = 0
    if rate:
        p = runs.start_receiver(int(rate * window))
        sent = runs.send(rate, window, senders=1, pacing="sleep")["sent"]
        got = runs.finish_receiver(p)["received"]
        print(f"bench: {label}: {got} of {sent} datagrams relayed under strace", flush=True)
    else:
        time.sleep(window + 1.0)
    for path, proc in tracers.values():
        proc.send_signal(signal.SIGINT)
    for path, proc in tracers.values():
        proc.wait(timeout=30)
    count = server_requests if server_trace else strace_counts
    return got, {name: count(path) for name, (path, _) in tracers.items()}


def perf_profile(a, runs, work):
    """Shares of CPU samples by process and library while relaying."""
    data = os.path.join(work, "relay.perf")
    subject = RelaySubject(a)
    try:
        if not runs.warm_up():
            raise SystemExit("bench: the relay relays nothing")
        rec = subprocess.Popen(["perf", "record", "-q", "-e", "cpu-clock", "-F", "2000", "-o", data,
                                "-p", f"{subject.pid},{subject.server}"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        p = runs.start_receiver(int(a.perf_rate * a.profile_window))
        runs.send(a.perf_rate, a.profile_window, senders=1, pacing="sleep")
        runs.finish_receiver(p)
        rec.send_signal(signal.SIGINT)
        rec.wait(timeout=60)
    finally:
        subject.stop()
    out = subprocess.run(["perf", "report", "-i", data, "--stdio", "--sort", "comm,dso"],
                         capture_output=True, text=True).stdout
    shares = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[0].endswith("%") and not line.startswith("#"):
            share = float(parts[0].rstrip("%"))
            if share >= 0.2:
                shares[f"{parts[1]} {' '.join(parts[2:])}"] = share
    return shares


def run_profile(a):
    runs = Runs(a)
    work = tempfile.mkdtemp(prefix="relay-profile-")
    report = {"rate": a.profile_rate, "window_s": a.profile_window}
    # 1. syscalls of the relay process and of the wineserver.
    subject = RelaySubject(a)
    try:
        if not runs.warm_up():
            raise SystemExit("bench: the relay relays nothing")
        pids = {"relay": subject.pid, "wineserver": subject.server}
        _, idle = traced(runs, pids, a.profile_window, 0, work, "idle")
        got, busy = traced(runs, pids, a.profile_window, a.profile_rate, work, "busy")
    finally:
        subject.stop()
    report["strace_datagrams"] = got
    for name in pids:
        report[f"syscalls_{name}"] = per_dgram(busy[name], idle[name], got)
        report[f"syscalls_{name}_total"] = round(
            (sum(busy[name].values()) - sum(idle[name].values())) / got, 1) if got else None
    # 2. where the CPU time lands, by process and library (perf, when present).
    # Before the request trace, which stays on in the wineserver once enabled.
    if shutil.which("perf"):
        report["perf_by_dso"] = perf_profile(a, runs, work)
    else:
        print("bench: perf not installed; no per-library profile", flush=True)
    # 3. the relay's wineserver requests by name: a client started with
    # WINEDEBUG=+server turns on the wineserver's request trace, which the
    # server writes to its stderr; strace reads it from those writes.
    # (Wine passes the channel on only when the client's stderr is not /dev/null.)
    subject = RelaySubject(a, winedebug="+server", stderr_path=os.path.join(work, "relay.stderr"))
    try:
        if not runs.warm_up():
            raise SystemExit("bench: the relay relays nothing under +server")
        server = {"wineserver": subject.server}
        _, idle = traced(runs, server, a.profile_window, 0, work, "idle-trace", server_trace=True)
        got, busy = traced(runs, server, a.profile_window, a.profile_rate, work, "busy-trace", server_trace=True)
    finally:
        subject.stop()
    report["server_datagrams"] = got
    report["server_requests"] = per_dgram(busy["wineserver"], idle["wineserver"], got)
    report["server_requests_total"] = round(
        (sum(busy["wineserver"].values()) - sum(idle["wineserver"].values())) / got, 1) if got else None
    if not os.environ.get("BENCH_KEEP"):
        shutil.rmtree(work, ignore_errors=True)
    text = json.dumps(report, indent=1)
    print(text)
    with open(os.path.splitext(a.out)[0] + "-profile.json", "w") as f:
        f.write(text + "\n")
    print(f"bench: written to {os.path.splitext(a.out)[0]}-profile.json")
    return 0


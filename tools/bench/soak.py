#!/usr/bin/env python3
"""Reliability soak of the relay under Wine (not a test; it asserts nothing).
Run by tools/soak.sh inside the test bed (tools/testbed.sh), in the relay's
namespace.

The relay runs with six host channels (the benchmark's configuration,
tools/bench/relaybench.py) under steady traffic: --rate datagrams/s of
--size bytes round-robin over the six channels, the bytes after the
labtraffic header a pattern of the sequence number. After --calm seconds
the faults come one after the other; each is held --hold seconds where it
has a duration, then --observe seconds follow before the next:

  oversize   a 513-byte datagram on host 1 and an empty one on host 4
  hostaddr   the host-side address removed, then added again
  hostlink   the host-side link down, then up
  replug     the host-side veth pair deleted and made again at once with
             the same names and addresses (tools/lab.sh replug)
  klorreplug the KLOR-side veth pair deleted and made again while no
             traffic runs: the steady traffic stops 2 s before and starts
             again --hold seconds after (tools/lab.sh replug ID klor)
  kloraddr   the KLOR-side address removed, then added again
  logdir     UDPMessages.Log replaced by a directory of that name (so no
             record can be written) while a 513-byte datagram arrives on
             host 2; the log put back afterwards
  fifolog    UDPMessages.Log replaced by a FIFO that nobody reads, its
             buffer full, while a 513-byte datagram arrives on host 2; the
             log put back afterwards
  flood      a second sender at --flood-rate for --flood-seconds

For each fault: the steady datagrams lost (scheduled in the fault's window
and never delivered; those the hosts' side could not even send are shown
apart; a quiet fault's pause is not scheduled), which hosts lost any, how long after the fault was cleared every
channel delivered again (the send time of the first datagram delivered
after each host's last loss), and the records the relay wrote. Over the
whole run: every delivered datagram checked (512 bytes, the head as sent,
zeros after it), and the resident memory and open file descriptors of the
relay process and of the wineserver, sampled every few seconds.
"""
import argparse
import array
import collections
import json
import os
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "tools", "lab"))
import relaylab  # noqa: E402
import traffic  # noqa: E402
from report import machine  # noqa: E402
from subjects import RelaySubject  # noqa: E402

LAB_SH = os.path.join(ROOT, "tools", "lab.sh")
LABTRAFFIC = os.path.join(ROOT, "tools", "lab", "labtraffic.py")
HOSTS = traffic.HOSTS


def ip(*words):
    subprocess.run(["ip", *words], check=False, timeout=20, capture_output=True)


def lab_id():
    return os.environ["UDPLAB_RELAY_NS"][:-len("-relay")]


def send_one(host, size):
    """One labtraffic datagram of `size` bytes from the hosts' side to host's channel."""
    subprocess.run(["ip", "netns", "exec", os.environ["UDPLAB_HOSTS_NS"], sys.executable, LABTRAFFIC, "send",
                    "--group", traffic.recv_group(host), "--port", str(traffic.recv_port(host)),
                    "--iface", traffic.HOST_IFACE, "--size", str(size), "--count", "1"],
                   check=False, timeout=20, capture_output=True)


# ---------------------------------------------------------------- faults
# Each fault is (inject, clear): inject starts it, clear ends it after the
# hold (None: the fault is over once injected).


def fault_oversize(ctx):
    send_one(1, 513)
    send_one(4, 0)


def address_fault(dev, address):
    return (lambda ctx: ip("addr", "del", f"{address}/24", "dev", dev),
            lambda ctx: ip("addr", "add", f"{address}/24", "dev", dev))


def link_fault(dev):
    return (lambda ctx: ip("link", "set", dev, "down"),
            lambda ctx: ip("link", "set", dev, "multicast", "on", "up"))


def replug(side):
    # The pair deleted and made again as the lab made it: names, addresses,
    # multicast, routes.
    return lambda ctx: subprocess.run([LAB_SH, "replug", lab_id(), side], check=False, timeout=30,
                                      capture_output=True)


def log_aside(ctx):
    log = os.path.join(ctx["cwd"], "UDPMessages.Log")
    if os.path.exists(log):
        os.rename(log, log + ".soak")
    return log


def log_out(ctx):
    os.mkdir(log_aside(ctx))
    send_one(2, 513)


def fifo_out(ctx):
    # Held open and filled here, so that a write into it would wait.
    log = log_aside(ctx)
    os.mkfifo(log)
    ctx["fifo"] = os.open(log, os.O_RDWR | os.O_NONBLOCK)
    for _ in range(10000):
        try:
            os.write(ctx["fifo"], bytes(512))
        except BlockingIOError:
            break
    send_one(2, 513)


def log_in(ctx):
    log = os.path.join(ctx["cwd"], "UDPMessages.Log")
    if "fifo" in ctx:
        os.close(ctx.pop("fifo"))
        os.remove(log)
    shutil.rmtree(log, ignore_errors=True)
    if os.path.exists(log + ".soak"):
        os.rename(log + ".soak", log)


def flood_start(ctx):
    a, runs = ctx["a"], ctx["runs"]
    ctx["flood"] = runs.start_sender(a.flood_rate, a.flood_seconds, time.monotonic_ns() + 100_000_000,
                                     run=ctx["run"] + 1, extra=("--fill", "pattern"))


def flood_end(ctx):
    ctx["flood_result"] = traffic.Runs.finish_sender(ctx["flood"], ctx["a"].flood_seconds + 60)


# Faults made while the steady traffic pauses: it stops this many seconds
# before and starts again when the fault's hold is over.
QUIET = {"klorreplug"}
QUIET_BEFORE = 2.0

FAULTS = {
    "oversize": ("a 513-byte datagram on host 1, an empty one on host 4", fault_oversize, None),
    "hostaddr": ("host-side address removed and added again",
                 *address_fault("hside", traffic.RELAY_HOST_SIDE)),
    "hostlink": ("host-side link down and up", *link_fault("hside")),
    "replug": ("host-side card re-plugged (veth deleted and made again)", replug("host"), None),
    "klorreplug": ("KLOR-side card re-plugged with no traffic running, traffic again after the hold",
                   replug("klor"), lambda ctx: None),
    "kloraddr": ("KLOR-side address removed and added again",
                 *address_fault("kside", traffic.RELAY_KLOR_SIDE)),
    "logdir": ("log unwritable while a 513-byte datagram arrives on host 2", log_out, log_in),
    "fifolog": ("log a full FIFO nobody reads while a 513-byte datagram arrives on host 2", fifo_out, log_in),
    "flood": ("flood at the flood rate beside the steady traffic", flood_start, flood_end),
}


# ---------------------------------------------------------------- watching


def process_figures(pid):
    """(resident kB, open file descriptors) of a process, or (None, None)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        return rss, len(os.listdir(f"/proc/{pid}/fd"))
    except (OSError, StopIteration, ValueError):
        return None, None


class Sampler(threading.Thread):
    """Memory and descriptors of the relay and the wineserver every `every` s."""

    def __init__(self, pids, every):
        super().__init__(daemon=True)
        self.pids, self.every, self.samples = pids, every, []
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            row = {"t": time.monotonic()}
            for name, pid in self.pids.items():
                row[name] = process_figures(pid)
            self.samples.append(row)
            self.stop.wait(self.every)


def log_lines(cwd):
    try:
        with open(os.path.join(cwd, "UDPMessages.Log"), "rb") as f:
            return f.read().decode("latin-1").split("\r\n")[:-1]
    except OSError:
        return []


# ---------------------------------------------------------------- figures

IN_FLIGHT = 100_000_000  # ns; far more than the relay takes to pass a datagram on


def window_figures(a, start_ns, received, failed, quiet, t_from, t_clear, t_to):
    """Loss and recovery of the steady traffic scheduled in [t_from, t_to),
    but for the quiet sequence numbers, which were never sent. Both ends
    move IN_FLIGHT earlier: a datagram sent just before a fault is still on
    its way through the relay when the fault strikes, and lost to it."""
    interval = 1e9 / a.rate
    first = max(0, int((t_from - IN_FLIGHT - start_ns) / interval) + 1)
    last = min(int(a.rate * a.duration), int((t_to - IN_FLIGHT - start_ns) / interval) + 1)
    lost, not_sent = collections.Counter(), collections.Counter()
    last_missing = {}
    for seq in range(first, last):
        if seq in received or seq in quiet:
            continue
        h = seq % HOSTS
        (not_sent if seq in failed else lost)[h] += 1
        last_missing[h] = seq
    back, outage = {}, {}
    for h, missing in last_missing.items():
        after = next((s for s in range(missing + HOSTS, last, HOSTS) if s in received), None)
        # The send time of the first datagram delivered after the last loss,
        # from the fault's start and from its end.
        at = None if after is None else start_ns + after * interval
        outage[h] = None if at is None else max(0.0, (at - t_from) / 1e9)
        back[h] = None if at is None else max(0.0, (at - t_clear) / 1e9)
    scheduled = sum(1 for seq in range(first, last) if seq not in quiet)
    return {"scheduled": scheduled, "lost": sum(lost.values()), "not_sent": sum(not_sent.values()),
            "lost_by_host": dict(sorted((lost + not_sent).items())), "back_s": back, "outage_s": outage}


def summarise_records(lines):
    kinds = collections.OrderedDict()
    for line in lines:
        r = relaylab.parse_record(line)
        key = ("unparsed", 0, "") if r is None else (r[6], r[2], r[3][7:])
        kinds.setdefault(key, []).append(-1 if r is None else r[1])
    return [f"{len(hosts)}× {msg} {err} ({side}; host{'s' if len(set(hosts)) > 1 else ''} "
            f"{','.join(str(h) for h in sorted(set(hosts)))})" for (msg, err, side), hosts in kinds.items()]


def flat(samples, name, slack):
    """first, max and last of a figure after the warm-up and whether it stayed flat."""
    values = [s[name] for s in samples if s[name][0] is not None]
    if not values:
        return None
    rss = [v[0] for v in values]
    fds = [v[1] for v in values]
    return {"rss_kb": (rss[0], max(rss), rss[-1]), "fds": (fds[0], max(fds), fds[-1]),
            "rss_flat": rss[-1] - rss[0] <= slack, "fds_flat": fds[-1] <= fds[0]}


# ---------------------------------------------------------------- run


def soak(a):
    info = machine()
    date = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    order = [f for f in a.faults.split(",") if f]
    a.duration = a.calm * 2 + len(order) * (a.hold + a.observe)
    # Each fault at its planned second, so that the sender's pauses for the
    # quiet ones can be given to it in advance.
    planned = [a.calm + k * (a.hold + a.observe) for k in range(len(order))]
    windows = [(at - QUIET_BEFORE, at + a.hold) for name, at in zip(order, planned) if name in QUIET]
    quiet = traffic.quiet_seqs(a.rate, windows)
    expected = int(a.rate * a.duration)
    runs = traffic.Runs(a)
    subject = RelaySubject(a)
    sampler = Sampler({"relay": subject.pid, "wineserver": subject.server}, a.sample_every)
    record = os.path.join(subject.cwd, "soak-received.bin")
    try:
        if not runs.warm_up():
            raise SystemExit("soak: the relay relays nothing")
        warm_log = len(log_lines(subject.cwd))
        sampler.start()
        receiver = runs.start_receiver(expected, ("--check-size", str(a.size), "--record", record,
                                                  "--max-drain", "20"))
        start_ns = time.monotonic_ns() + 300_000_000
        sender = runs.start_sender(a.rate, a.duration, start_ns, extra=(
            "--fill", "pattern", "--quiet", ",".join(f"{f}:{t}" for f, t in windows)))
        ctx = {"a": a, "runs": runs, "run": runs.run, "cwd": subject.cwd}
        phases = []
        for name, at in zip(order, planned):
            what, inject, clear = FAULTS[name]
            time.sleep(max(0.0, (start_ns + at * 1e9 - time.monotonic_ns()) / 1e9))
            before = len(log_lines(subject.cwd))
            t_from = time.monotonic_ns()
            print(f"soak: {name}: {what}", flush=True)
            inject(ctx)
            t_clear = t_from  # a fault without a duration is over once made
            if clear is not None:
                time.sleep(a.hold if name != "flood" else a.flood_seconds)
                clear(ctx)
                t_clear = time.monotonic_ns()
            deadline = t_from + (a.hold + a.observe) * 1e9
            time.sleep(max(0.0, (deadline - time.monotonic_ns()) / 1e9))
            phases.append({"name": name, "what": what, "t_from": t_from, "t_clear": t_clear,
                           "t_to": time.monotonic_ns()})
            phases[-1]["records"] = log_lines(subject.cwd)[before:]
        sent = traffic.Runs.finish_sender(sender, a.duration + 120)
        got = runs.finish_receiver(receiver)
        alive = subject.relay.proc.poll() is None
    finally:
        sampler.stop.set()
        samples = sampler.samples
        end_log = log_lines(subject.cwd)
        exit_code = subject.relay.close()
        received_raw = array.array("q")
        if os.path.exists(record):
            with open(record, "rb") as f:
                received_raw.frombytes(f.read())
        subject.stop()
    received = set(received_raw[0::2])
    failed = set(sent["failed"])
    rows = []
    for p in phases:
        row = {"name": p["name"], "what": p["what"], "t_from": p["t_from"], "t_clear": p["t_clear"],
               **window_figures(a, start_ns, received, failed, quiet, p["t_from"], p["t_clear"], p["t_to"]),
               "records": summarise_records(p["records"])}
        if p["name"] == "flood":
            row["flood"] = {"sent": ctx.get("flood_result", {}).get("sent"), "delivered": got["stale"]}
        rows.append(row)
    calm = [window_figures(a, start_ns, received, failed, quiet, start_ns, start_ns, phases[0]["t_from"])] \
        if phases else []
    result = {"date": date, "machine": info, "settings": {k: getattr(a, k) for k in (
        "rate", "size", "duration", "calm", "hold", "observe", "flood_rate", "flood_seconds", "faults")},
        "sent": sent["sent"], "send_errors": sent["errors"], "received": got["received"],
        "corrupt": got["corrupt"], "corrupt_examples": got["corrupt_examples"], "lengths": got["lengths"],
        "misrouted": got["misrouted"], "duplicates": got["duplicates"], "foreign": got["foreign"],
        "relay_alive_at_end": alive, "exit_code": exit_code, "calm": calm, "phases": rows,
        "records_before_faults": end_log[:warm_log], "relay": flat(samples, "relay", a.rss_slack),
        "wineserver": flat(samples, "wineserver", a.rss_slack), "samples": len(samples)}
    text = table(result)
    os.makedirs(os.path.dirname(os.path.abspath(a.out)), exist_ok=True)
    with open(a.out, "w") as f:
        f.write(text)
    with open(os.path.splitext(a.out)[0] + ".json", "w") as f:
        json.dump(result, f, indent=1)
    print()
    print(text)
    print(f"soak: written to {a.out}")
    return 0


def fmt_back(p):
    back, outage = p["back_s"], p["outage_s"]
    if not back:
        return "no loss"
    if any(v is None for v in back.values()):
        return "not back: hosts " + ",".join(str(h) for h, v in sorted(back.items()) if v is None)
    if p["t_clear"] == p["t_from"]:
        return f"{max(back.values()):.1f} s"
    return f"{max(outage.values()):.1f} s / {max(back.values()):.1f} s"


def table(r):
    m, s = r["machine"], r["settings"]
    lines = [
        f"Run {r['date']}. Machine: {m['nproc']} CPUs, {m['cpu']}, kernel {m['kernel']}, {m['wine']}; load average "
        f"{m['load']} at the start.",
        f"Steady traffic: {s['rate']} datagrams/s of {s['size']} bytes round-robin over 6 host channels for "
        f"{s['duration']:.0f} s; each fault held {s['hold']} s, then {s['observe']} s observed; flood "
        f"{s['flood_rate']}/s for {s['flood_seconds']} s.",
        "",
        "| fault | steady datagrams in its window | lost | hosts that lost any (count) | every channel "
        "relaying again, after the fault began / after it was cleared | records written |",
        "|---|--:|--:|---|---|---|",
    ]
    for c in r["calm"]:
        lines.append(f"| none (first {s['calm']} s) | {c['scheduled']} | {c['lost']} | "
                     f"{', '.join(f'{h}: {n}' for h, n in c['lost_by_host'].items()) or '-'} | - | - |")
    for p in r["phases"]:
        lost = f"{p['lost']}" + (f" (+{p['not_sent']} the hosts could not send)" if p["not_sent"] else "")
        what = p["what"]
        if "flood" in p:
            what += f" ({p['flood']['sent']} flood datagrams sent, {p['flood']['delivered']} delivered)"
        lines.append(f"| {what} | {p['scheduled']} | {lost} | "
                     f"{', '.join(f'{h}: {n}' for h, n in p['lost_by_host'].items()) or '-'} | "
                     f"{fmt_back(p)} | {'; '.join(p['records']) or 'none'} |")
    lines += [
        "",
        f"Delivered {r['received']} of {r['sent']} steady datagrams (send errors on the hosts' side: "
        f"{r['send_errors']}); corrupt: {r['corrupt']} (every delivered datagram checked: 512 bytes, "
        f"the head as sent, zeros after it); misrouted {r['misrouted']}, duplicates {r['duplicates']}, "
        f"lengths {r['lengths']}. Relay running at the end: {'yes' if r['relay_alive_at_end'] else 'NO'}; "
        f"exit code after the close {r['exit_code']}.",
    ]
    for name in ("relay", "wineserver"):
        f = r[name]
        if f:
            lines.append(f"- {name}: resident memory {f['rss_kb'][0]} kB at the start, {f['rss_kb'][1]} kB "
                         f"at most, {f['rss_kb'][2]} kB at the end ({'flat' if f['rss_flat'] else 'GROWING'}); "
                         f"open descriptors {f['fds'][0]}, at most {f['fds'][1]}, {f['fds'][2]} at the end "
                         f"({'flat' if f['fds_flat'] else 'GROWING'}); {r['samples']} samples.")
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--out", required=True, help="Markdown file of the table")
    parser.add_argument("--rate", type=int, default=600, help="steady datagrams/s over the six channels")
    parser.add_argument("--size", type=int, default=100)
    parser.add_argument("--calm", type=float, default=15.0, help="seconds without faults at start and end")
    parser.add_argument("--hold", type=float, default=5.0, help="seconds a fault with a duration lasts")
    parser.add_argument("--observe", type=float, default=25.0, help="seconds after each fault")
    parser.add_argument("--flood-rate", type=int, default=6000)
    parser.add_argument("--flood-seconds", type=float, default=10.0)
    parser.add_argument("--faults", default=",".join(FAULTS))
    parser.add_argument("--sample-every", type=float, default=5.0)
    parser.add_argument("--rss-slack", type=int, default=2048, help="kB of growth still called flat")
    a = parser.parse_args(argv)
    unknown = [f for f in a.faults.split(",") if f and f not in FAULTS]
    if unknown:
        parser.error(f"unknown faults {unknown}; known: {','.join(FAULTS)}")
    # What the benchmark's Runs and RelaySubject expect of the options.
    a.drain, a.senders, a.pacing = 1.0, 1, "sleep"
    return soak(a)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The benchmark's traffic: the lab's addresses and the relay's six host
channels, the paced sender and the receiver (run as `relaybench.py send` and
`relaybench.py recv` in the hosts' and the KLOR namespaces), and Runs, which
starts them there for one measurement.

The datagrams, their addresses and the host tag: see "Traffic:" in
`relaybench.py --help`.
"""
import array
import json
import math
import os
import select
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "lab"))
import labtraffic  # noqa: E402

HOSTS = 6
HOST_IFACE, KLOR_IFACE = "198.51.100.2", "203.0.113.2"
RELAY_HOST_SIDE, RELAY_KLOR_SIDE = "198.51.100.1", "203.0.113.1"
SEND_GROUP = "239.1.1.1"
WIRE_BASE = 34074  # SENDUDPPORTID 6789 (0x1A85) goes out as 0x851A


def recv_group(h):
    return f"239.2.2.{h + 1}"


def recv_port(h):
    return 7000 + h


def send_port_value(h):
    """The configured SENDUDPPORTID: its bytes exchanged it is WIRE_BASE + h."""
    return 6789 + 256 * h


# The sender and receiver run as subcommands of the benchmark's entry.
ENTRY = os.path.join(HERE, "relaybench.py")


# ---------------------------------------------------------------- sender


def quiet_seqs(rate, windows):
    """The sequence numbers of the schedule i/rate that fall into the quiet
    windows, each a pair (from, to) of seconds after the schedule's start."""
    return {i for start, end in windows for i in range(math.ceil(start * rate), math.ceil(end * rate))}


def quiet_windows(text):
    """--quiet FROM:TO,FROM:TO as pairs of seconds."""
    return [tuple(float(x) for x in part.split(":")) for part in text.split(",") if part]


def run_sender(a):
    """Sends rate*duration datagrams on the global schedule i/rate; this
    process takes the datagrams i with i % senders == index. Prints a JSON
    summary on stdout."""
    total = int(a.rate * a.duration)
    targets = [(recv_group(h), recv_port(h)) for h in range(HOSTS)]
    def new_socket():
        s = labtraffic.sender_socket(HOST_IFACE)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 22)
        return s

    sock = new_socket()
    renewed_ns = 0
    # --quiet: windows in which the schedule sends nothing (a fault that
    # needs the network quiet), so their datagrams are neither sent nor lost.
    quiet = quiet_seqs(a.rate, quiet_windows(a.quiet))
    buf = bytearray(a.size)
    # With --fill pattern the bytes after the header depend on the sequence
    # number (labtraffic's pattern), so a receiver can check every byte.
    fillers = [labtraffic.make_payload(k, 0, a.size, "pattern", 0)[20:] for k in range(256)] \
        if a.fill == "pattern" and a.size > 20 else None
    failed = []
    pack = labtraffic.HEADER.pack_into
    magic = labtraffic.MAGIC
    interval = 1e9 / a.rate
    mono = time.monotonic_ns
    start = a.start_ns if a.start_ns else mono() + 20_000_000
    i = a.index
    sent = errors = 0
    first = last = None
    max_lag = 0
    spin = a.pacing == "spin"
    while i < total:
        due_at = start + i * interval
        now = mono()
        if now < due_at:
            if not spin:
                time.sleep((due_at - now) / 1e9)
            continue
        max_lag = max(max_lag, now - due_at)
        # Catch up with every datagram of this process that is due by now.
        while i < total and start + i * interval <= now:
            if i in quiet:
                i += a.senders
                continue
            h = i % HOSTS
            t = mono()
            pack(buf, 0, magic, i, a.run * 8 + h, t)
            if fillers:
                buf[20:] = fillers[i & 0xFF]
            try:
                sock.sendto(buf, targets[h])
                sent += 1
            except OSError:
                errors += 1
                failed.append(i)
                # The sending interface was made again (a re-plugged card in
                # the lab): the socket's multicast interface names the old
                # one, so a new socket is made, at most ten times a second.
                if t - renewed_ns > 100_000_000:
                    renewed_ns = t
                    sock.close()
                    try:
                        sock = new_socket()
                    except OSError:
                        pass
            if first is None:
                first = t
            last = t
            i += a.senders
    span = (last - first) / 1e9 if sent > 1 else 0.0
    print(json.dumps({"sent": sent, "errors": errors, "span_s": span, "first_ns": first, "last_ns": last,
                      "max_lag_ms": max_lag / 1e6, "failed": failed}), flush=True)
    return 0


# ---------------------------------------------------------------- receiver


def udp_snmp():
    """The Udp counters of /proc/net/snmp of the reader's network namespace."""
    with open("/proc/net/snmp") as f:
        rows = [line.split() for line in f if line.startswith("Udp:")]
    return dict(zip(rows[0][1:], map(int, rows[1][1:])))


def percentile(sorted_values, p):
    if not sorted_values:
        return None
    k = min(len(sorted_values) - 1, max(0, int(round(p / 100.0 * (len(sorted_values) - 1)))))
    return sorted_values[k]


def run_receiver(a):
    """Receives on the six KLOR-side ports until told "stop" on stdin and then
    `drain` seconds of quiet; prints a JSON summary on stdout."""
    socks = []
    for h in range(HOSTS):
        s = labtraffic.receiver_socket(SEND_GROUP, WIRE_BASE + h, KLOR_IFACE)
        try:  # as root: past net.core.rmem_max, so the receiver is never the bottleneck
            s.setsockopt(socket.SOL_SOCKET, 33, 16 << 20)  # SO_RCVBUFFORCE
        except OSError:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16 << 20)
        s.setblocking(False)
        socks.append(s)
    by_fd = {s.fileno(): (h, s) for h, s in enumerate(socks)}
    ep = select.epoll()
    for fd in by_fd:
        ep.register(fd, select.EPOLLIN)
    stdin = sys.stdin.fileno()
    ep.register(stdin, select.EPOLLIN)
    before = udp_snmp()
    print("ready", file=sys.stderr, flush=True)
    # A KLOR-side card re-plugged in the lab takes the groups joined on it
    # along: the memberships are asked for again every half second (a
    # membership that still stands is refused and stays as it is).
    mreq = socket.inet_aton(SEND_GROUP) + socket.inet_aton(KLOR_IFACE)
    rejoined_at = time.monotonic()

    seen = bytearray(a.expected)
    # --check-size N: every relayed labtraffic datagram must be 512 bytes, the
    # N sent with --fill pattern and then zeros.
    tails = [labtraffic.make_payload(k, 0, a.check_size, "pattern", 0)[20:] + bytes(512 - a.check_size)
             for k in range(256)] if a.check_size else None
    corrupt, corrupt_examples = 0, []
    record = array.array("q")  # --record: sequence number and receive time of each datagram of this run
    lat = array.array("q")
    lengths = {}
    foreign = stale = dup = misrouted = 0
    unpack = labtraffic.HEADER.unpack_from
    magic = labtraffic.MAGIC
    mono = time.monotonic_ns
    stop_at = None  # monotonic s after which we give up waiting
    last_ns = None
    quiet_until = None
    while True:
        if time.monotonic() - rejoined_at >= 0.5:
            rejoined_at = time.monotonic()
            for s in socks:
                try:
                    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
                except OSError:
                    pass
        if stop_at is not None:
            now = time.monotonic()
            if now >= quiet_until or now >= stop_at:
                break
            timeout = min(quiet_until, stop_at) - now
        else:
            timeout = 0.5
        for fd, _ in ep.poll(timeout):
            if fd == stdin:
                os.read(stdin, 100)
                ep.unregister(stdin)
                stop_at = time.monotonic() + a.max_drain
                quiet_until = time.monotonic() + a.drain
                continue
            h, s = by_fd[fd]
            while True:
                try:
                    data = s.recv(2048)
                except BlockingIOError:
                    break
                now = mono()
                n = len(data)
                lengths[n] = lengths.get(n, 0) + 1
                if n < 20 or data[:4] != magic:
                    foreign += 1
                    continue
                _, seq, tag, sent_ns = unpack(data)
                if tails and (n != 512 or data[20:] != tails[seq & 0xFF]):
                    corrupt += 1
                    if len(corrupt_examples) < 3:
                        corrupt_examples.append(data.hex())
                if tag >> 3 != a.run:
                    stale += 1
                    continue
                if tag & 7 != h:
                    misrouted += 1
                if seq >= a.expected or seen[seq]:
                    dup += 1
                    continue
                seen[seq] = 1
                last_ns = now
                lat.append(now - sent_ns)
                if a.record:
                    record.extend((seq, now))
            if stop_at is not None:
                quiet_until = time.monotonic() + a.drain
    after = udp_snmp()
    values = sorted(lat)
    out = {
        "received": len(values), "last_ns": last_ns,
        "foreign": foreign, "stale": stale, "duplicates": dup, "misrouted": misrouted,
        "lengths": {str(k): v for k, v in sorted(lengths.items())},
        "p50_us": None if not values else percentile(values, 50) / 1000.0,
        "p99_us": None if not values else percentile(values, 99) / 1000.0,
        "max_us": None if not values else values[-1] / 1000.0,
        "rcvbuf_errors": after.get("RcvbufErrors", 0) - before.get("RcvbufErrors", 0),
        "corrupt": corrupt, "corrupt_examples": corrupt_examples,
    }
    if a.record:
        with open(a.record, "wb") as f:
            record.tofile(f)
    print(json.dumps(out), flush=True)
    return 0


class Runs:
    """Starts the senders and receivers of one measurement in their namespaces."""

    def __init__(self, a):
        self.a = a
        self.run = 0
        # The soak (tools/bench/soak.py) keeps the Python sender: it fills
        # the datagrams with a pattern that its receiver checks.
        self.compiled_sender = getattr(a, "sender_exe", None)

    def ns(self, which):
        return ["ip", "netns", "exec", os.environ[f"UDPLAB_{which}_NS"], sys.executable, ENTRY]

    def start_receiver(self, expected, extra=()):
        self.run += 1
        p = subprocess.Popen(self.ns("KLOR") + ["recv", "--run", str(self.run), "--expected", str(expected),
                                                "--drain", str(self.a.drain), *extra],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if p.stderr.readline().strip() != "ready":
            raise SystemExit("bench: the receiver did not start")
        return p

    def finish_receiver(self, p):
        out, _ = p.communicate("stop\n", timeout=60)
        return json.loads(out.strip().splitlines()[-1])

    def start_sender(self, rate, duration, start_ns, run=None, index=0, senders=1, pacing=None, extra=()):
        """One paced sender in the hosts' namespace; its JSON summary comes
        from finish_sender. With --sender-exe the compiled sender sends the
        whole schedule alone, in ticks of --tick-us."""
        run = self.run if run is None else run
        if self.compiled_sender and not extra:
            return subprocess.Popen(["ip", "netns", "exec", os.environ["UDPLAB_HOSTS_NS"], self.a.sender_exe,
                                     str(rate), str(duration), str(run), str(self.a.size), str(start_ns),
                                     HOST_IFACE, str(self.a.tick_us)], stdout=subprocess.PIPE, text=True)
        return subprocess.Popen(self.ns("HOSTS") + ["send", "--rate", str(rate), "--duration", str(duration),
                                                    "--run", str(run),
                                                    "--senders", str(senders), "--size", str(self.a.size),
                                                    "--index", str(index), "--start-ns", str(start_ns),
                                                    "--pacing", pacing or self.a.pacing, *extra],
                                stdout=subprocess.PIPE, text=True)

    @staticmethod
    def finish_sender(p, timeout):
        return json.loads(p.communicate(timeout=timeout)[0].strip().splitlines()[-1])

    def send(self, rate, duration, senders=None, pacing=None):
        senders = 1 if self.compiled_sender else senders or self.a.senders
        start_ns = time.monotonic_ns() + 300_000_000  # one clock for all namespaces
        procs = [self.start_sender(rate, duration, start_ns, index=k, senders=senders, pacing=pacing)
                 for k in range(senders)]
        parts = [self.finish_sender(p, duration + 60) for p in procs]
        sent = sum(x["sent"] for x in parts)
        firsts = [x["first_ns"] for x in parts if x["first_ns"]]
        lasts = [x["last_ns"] for x in parts if x["last_ns"]]
        span = (max(lasts) - min(firsts)) / 1e9 if sent > 1 else 0.0
        return {"sent": sent, "errors": sum(x["errors"] for x in parts), "first_ns": min(firsts) if firsts else None,
                "sender_cpu_s": sum(x.get("cpu_s", 0.0) for x in parts),
                "achieved": (sent - 1) / span if span > 0 else 0.0,
                "max_lag_ms": max(x["max_lag_ms"] for x in parts)}

    def warm_up(self, timeout=20.0):
        """Sends a round over the six channels until all six come through."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            p = self.start_receiver(6)
            self.send(60, 0.1, senders=1, pacing="sleep")
            r = self.finish_receiver(p)
            if r["received"] == 6:
                return True
            time.sleep(1.0)
        return False


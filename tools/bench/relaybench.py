#!/usr/bin/env python3
"""Throughput, loss and added latency of the relay under Wine, with socat
relaying the same traffic as a yardstick. Run by tools/benchmark.sh inside
the test bed (tools/testbed.sh); not a test, it asserts nothing.

Subcommands:
  run      the whole benchmark (in the relay's namespace): for each subject
           (the relay, then socat) and each rate, a receiver in the KLOR
           namespace, a paced sender in the hosts' namespace, the figures,
           and a Markdown table at the end;
  send     the paced sender (started by `run` in the hosts' namespace);
  recv     the receiver (started by `run` in the KLOR namespace);
  profile  where the relay's time goes per datagram: syscall counts of the
           relay process and the wineserver (strace -f -c), their CPU
           samples by library (perf, when present) and the wineserver
           requests the relay makes (WINEDEBUG=+server).

Traffic: 100-byte labtraffic datagrams (tools/labtraffic.py header: magic,
sequence, host tag, time.monotonic_ns() at sending), round-robin over the
six host channels. Host h sends to 239.2.2.(h+1):7000+h; the relay is set up
with SENDUDPPORTID 6789 + 256*h, which it writes unconverted into the port
field, so host h is heard on the KLOR side at port 34074 + h. The host tag
carries the host index in its low 3 bits and a run number above them, so a
late datagram of an earlier run is never counted in a later one.
"""
import argparse
import array
import json
import math
import os
import platform
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import labtraffic  # noqa: E402

HOSTS = 6
# A rate counts as carried when delivered at least this share of it (see carried).
CARRIED_SHARE = 0.95
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


wire_port = labtraffic.wire_port


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


# ---------------------------------------------------------------- subjects


def netns_id(pid="self"):
    return os.stat(f"/proc/{pid}/ns/net").st_ino


def pids_here(match):
    """Processes in this network namespace whose command line matches."""
    mine, found = netns_id(), []
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            if netns_id(d) != mine:
                continue
            with open(f"/proc/{d}/cmdline", "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("latin-1")
        except OSError:
            continue
        if match(cmd, int(d)):
            found.append(int(d))
    return found


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def wineserver_pid(prefix=None):
    prefix = prefix or os.environ.get("WINEPREFIX", "")

    def is_server(cmd, pid):
        try:
            with open(f"/proc/{pid}/comm") as f:
                comm = f.read().strip()
            with open(f"/proc/{pid}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            return False
        return comm.startswith("wineserver") and ("WINEPREFIX=" + prefix).encode() in env
    found = pids_here(is_server)
    return found[0] if found else None


def cpu_ticks(pid):
    """utime and stime of the process (all threads) in clock ticks, and the
    voluntary + involuntary context switches of its threads."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        user, system = int(fields[11]), int(fields[12])
        switches = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if "ctxt_switches:" in line:
                        switches += int(line.split()[-1])
        return user, system, switches
    except (OSError, IndexError, ValueError):
        return 0, 0, 0


class RelaySubject:
    name = "relay (Wine)"

    def __init__(self, a, winedebug=None, stderr_path=None, pin=None):
        import relaylab
        hosts = {h: relaylab.host_keys(recv_port(h), recv_group(h), send_port_value(h)) for h in range(HOSTS)}
        relaylab.write_ini(local=dict(relaylab.SAMPLE_LOCAL), hosts=hosts)
        probe_args = argparse.Namespace(exe=a.exe, probe=a.probe)
        env = dict(os.environ)
        if winedebug:
            env["WINEDEBUG"] = winedebug
        self.cwd = tempfile.mkdtemp(prefix="relay-bench-")
        self.stderr = open(stderr_path, "wb") if stderr_path else subprocess.DEVNULL
        self.relay = relaylab.Relay(probe_args, cwd=self.cwd, env=env, stderr=self.stderr)
        if self.relay.wait_window() is None:
            raise SystemExit("bench: the relay did not open its window")
        # Wine's launcher execs into the program: the process is found by its
        # name, which is the program's once Wine has loaded it.
        comm = os.path.basename(a.exe)[:15]
        found = pids_here(lambda cmd, pid: read_text(f"/proc/{pid}/comm").strip() == comm)
        self.pid = self.relay.proc.pid if self.relay.proc.pid in found else (found or [self.relay.proc.pid])[0]
        self.server = wineserver_pid()
        pin = pin or getattr(a, "pin_cpu", None)
        if pin:
            # All threads of both; "R:W" puts them on different processors,
            # to measure what the scheduler does when it spreads them.
            self.name = f"relay (Wine, CPU {pin})"
            relay_cpu, server_cpu = (pin.split(":") + [pin])[:2]
            for cpu, pid in ((relay_cpu, self.pid), (server_cpu, self.server)):
                subprocess.run(["taskset", "-a", "-p", "-c", cpu, str(pid)], check=True, stdout=subprocess.DEVNULL)

    def pids(self):
        return {"relay": [self.pid], "wineserver": [self.server] if self.server else []}

    def stop(self):
        self.relay.close()
        if self.stderr is not subprocess.DEVNULL:
            self.stderr.close()
        shutil.rmtree(self.cwd, ignore_errors=True)


class LauncherSubject:
    """The relay as the Linux service runs it: `newudpsrvr run` of the Debian
    package, unpacked into --launcher-root (NEWUDPSRVR_ROOT), with its own
    prefix, settings (the processor: the last one), no display server and
    sound off; the launcher starts the prefix's first Wine process, so its
    wineserver, in this network namespace."""

    def __init__(self, a):
        import relaylab
        root = a.launcher_root
        self.prefix = os.path.join(root, "var", "lib", "newudpsrvr")
        for d in (self.prefix, os.path.join(root, "var", "log", "newudpsrvr")):
            os.makedirs(d, exist_ok=True)
        lines = ["[LOCAL_DTE_ADDR]"] + [f"{k}={v}" for k, v in relaylab.SAMPLE_LOCAL.items()]
        for h in range(HOSTS):
            lines += [f"[HOST{h}]"] + [f"{k}={v}" for k, v in
                                       relaylab.host_keys(recv_port(h), recv_group(h), send_port_value(h)).items()]
        with open(os.path.join(root, "etc", "newudpsrvr", "NEWUDPSRVR.INI"), "w", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        self.command = os.path.join(root, "usr", "bin", "newudpsrvr")
        self.env = dict(os.environ, NEWUDPSRVR_ROOT=root)
        self.output = tempfile.TemporaryFile()  # Wine's processes inherit it: not a pipe
        self.proc = subprocess.Popen([self.command, "run"], env=self.env, stdout=self.output,
                                     stderr=subprocess.STDOUT)
        end = time.monotonic() + 300  # the first run makes the prefix
        while subprocess.run([self.command, "status"], env=self.env, capture_output=True).returncode != 0:
            if time.monotonic() > end or self.proc.poll() is not None:
                self.stop()
                raise SystemExit("bench: the launcher did not bring the relay up")
            time.sleep(1.0)
        comm = os.path.basename(a.exe)[:15]
        env_entry = ("WINEPREFIX=" + self.prefix).encode()

        def in_prefix(cmd, pid):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    return read_text(f"/proc/{pid}/comm").strip() == comm and env_entry in f.read().split(b"\0")
            except OSError:
                return False
        self.pid = pids_here(in_prefix)[0]
        self.server = wineserver_pid(self.prefix)
        with open(f"/proc/{self.server}/status") as f:
            cpus = next(line.split()[1] for line in f if line.startswith("Cpus_allowed_list"))
        self.name = f"relay (launcher, CPU {cpus})"

    def pids(self):
        return {"relay": [self.pid], "wineserver": [self.server] if self.server else []}

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)
        self.output.close()


class SocatSubject:
    name = "socat"

    def __init__(self, a):
        self.procs = []
        for h in range(HOSTS):
            src = (f"UDP4-RECV:{recv_port(h)},reuseaddr,"
                   f"ip-add-membership={recv_group(h)}:{RELAY_HOST_SIDE}")
            dst = (f"UDP4-SENDTO:{SEND_GROUP}:{WIRE_BASE + h},bind={RELAY_KLOR_SIDE},"
                   f"ip-multicast-if={RELAY_KLOR_SIDE},ip-multicast-ttl=64")
            self.procs.append(subprocess.Popen(["socat", "-u", src, dst], stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))
        time.sleep(0.5)
        dead = [p.args for p in self.procs if p.poll() is not None]
        if dead:
            raise SystemExit(f"bench: socat did not start: {dead}")

    def pids(self):
        return {"socat": [p.pid for p in self.procs]}

    def stop(self):
        for p in self.procs:
            p.terminate()
        for p in self.procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(timeout=5)


# ---------------------------------------------------------------- driver


class Runs:
    """Starts the senders and receivers of one measurement in their namespaces."""

    def __init__(self, a):
        self.a = a
        self.run = 0
        # The soak (tools/bench/soak.py) keeps the Python sender: it fills
        # the datagrams with a pattern that its receiver checks.
        self.compiled_sender = getattr(a, "sender_exe", None)

    def ns(self, which):
        return ["ip", "netns", "exec", os.environ[f"UDPLAB_{which}_NS"], sys.executable, __file__]

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


def fmt_us(v):
    return "-" if v is None else (f"{v:.0f} µs" if v < 10000 else f"{v / 1000:.1f} ms")


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    return {"nproc": os.cpu_count(), "cpu": model, "wine": wine, "kernel": platform.release(), "load": load}


def burst_lines(rows, a):
    bursts = [r for r in rows if r["phase"] == "burst"]
    if not bursts:
        return []
    lines = [f"A 1 s burst at {a.burst_rate}/s beside steady traffic at {a.burst_steady}/s ({a.burst_at:g} s before "
             f"it, {a.burst_after:g} s after it):", "",
             "| relayed by | steady sent | steady lost | of it before the burst | burst sent "
             "| all steady traffic delivered again after the burst |", "|---|--:|--:|--:|--:|--:|"]
    lines += [f"| {r['subject']} | {r['sent']} | {r['lost']} | {r['lost_before_burst']} | {r['burst_sent']} "
              f"| {r['recovery_s']:.1f} s |" for r in bursts]
    return lines + [""]


def ratio_lines(rows, zero):
    """The launcher beside the relay left to the scheduler, measured in this run."""
    launcher = next((name for name in zero if name.startswith("relay (launcher")), None)
    if launcher is None:
        return []
    lines = []
    scheduler = zero.get(RelaySubject.name)
    if scheduler:
        lines.append(f"- Zero loss through the launcher at {zero[launcher]}/s: {zero[launcher] / scheduler:.1f}x the "
                     f"{scheduler}/s of the relay left to the scheduler.")
    double = next((r for r in rows if r["subject"] == launcher and r["phase"] == "2x"), None)
    if double and double["rate"]:
        lines.append(f"- At twice its zero-loss rate ({double['rate']}/s offered) the launcher's relay delivered "
                     f"{double['delivered']:.0f}/s: {100 * double['delivered'] / zero[launcher]:.0f} % of its "
                     f"zero-loss rate, {100 * double['delivered'] / double['rate']:.0f} % of the offered rate.")
    burst = next((r for r in rows if r["subject"] == launcher and r["phase"] == "burst"), None)
    if burst:
        lines.append(f"- After the burst the launcher's relay delivered all steady traffic again within "
                     f"{burst['recovery_s']:.1f} s ({burst['lost']} steady datagrams lost).")
    return lines + [""]


def table(rows, info, a, load_end):
    lines = [
        f"Machine: {info['nproc']} CPUs, {info['cpu']}, kernel {info['kernel']}, {info['wine']}; "
        f"load average {info['load']} at start, {load_end} at end.",
        f"{a.size}-byte datagrams round-robin over 6 host channels, "
        + (f"relay:wineserver kept on CPU {a.pin_cpu}, " if a.pin_cpu else "")
        + ("relay (launcher): `newudpsrvr run` of the Debian package as the service runs it, " if a.launcher_root
           else "")
        + (f"compiled sender, {a.tick_us} µs ticks." if a.sender_exe
         else f"{a.senders} Python sender process(es), pacing {a.pacing}."),
        "" if a.rates else (f"Zero-loss rate: the highest of at most {a.search_steps} rates of {a.search_duration:g} s "
                            f"without loss and delivered at {CARRIED_SHARE:.0%} of the rate or more (doubling "
                            f"from {a.search_from}/s up to {a.search_max}/s, then halving the gap); then "
                            f"{a.duration:g} s at 1.5× and 2× it."),
        "",
    ]
    zero = {}  # the search's result per subject: its highest rate without loss
    for r in rows:
        if r.get("phase") == "search":
            best = r["rate"] if carried(r) else 0
            zero[r["subject"]] = max(zero.get(r["subject"], 0), best)
    if zero:
        lines += ["| relayed by | zero-loss rate /s | offered 1.5× | delivered /s | of zero-loss rate "
                  "| offered 2× | delivered /s | of zero-loss rate |", "|---|--:|--:|--:|--:|--:|--:|--:|"]
        for name, z in zero.items():
            cells = []
            for phase in ("1.5x", "2x"):
                r = next((x for x in rows if x["subject"] == name and x.get("phase") == phase), None)
                cells += ["-", "-", "-"] if r is None else [
                    str(r["rate"]), f"{r['delivered']:.0f}", f"{100 * r['delivered'] / z:.0f} %" if z else "-"]
            lines.append(f"| {name} | {z} | " + " | ".join(cells) + " |")
        lines.append("")
    lines += burst_lines(rows, a) + ratio_lines(rows, zero)
    rows = [r for r in rows if r["phase"] != "burst"]
    lines += [
        "| relayed by | phase | rate /s | sent | achieved /s | received | delivered /s | lost | loss % "
        "| of it dropped at relay input | p50 | p99 | max | CPU µs/datagram |",
        "|---|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|---|",
    ]
    for r in rows:
        cpu = ", ".join(f"{k} {v['cpu_us_per_dgram']:.0f}" for k, v in r["cpu"].items()
                        if v["cpu_us_per_dgram"] is not None) or "-"
        lines.append(f"| {r['subject']} | {r.get('phase', 'rate')} | {r['rate']} | {r['sent']} | {r['achieved']:.0f} | "
                     f"{r['received']} | {r['delivered']:.0f} | "
                     f"{r['lost']} | {r['loss_pct']:.2f} | {r['relay_ns_rcvbuf_errors']} | {fmt_us(r['p50_us'])} | {fmt_us(r['p99_us'])} | "
                     f"{fmt_us(r['max_us'])} | {cpu} |")
    lines += [
        "",
        "Latency: receive time minus send time, both time.monotonic_ns() (one clock across the namespaces), "
        "so it includes the Python receiver and the kernel paths, not only the relay. "
        "Delivered: datagrams received over the time from the first send to the last arrival. "
        "Dropped at relay input: receive-buffer overflows of the UDP sockets in the relay's namespace "
        "(/proc/net/snmp RcvbufErrors). CPU: user + system time of the relay process and the wineserver "
        "(socat: its six processes) per datagram received. The relay sends 512-byte datagrams (the 100 bytes "
        "sent, then zeros), socat the 100 bytes as they came.",
    ]
    return "\n".join(lines) + "\n"


def run_all(a):
    info = machine()
    runs = Runs(a)
    rows = []
    subjects = [s for s in a.subjects.split(",") if s]
    for name in subjects:
        # relay@N: the relay with its wineserver kept on processor N.
        if name == "socat":
            subject = SocatSubject(a)
        elif name == "launcher":
            subject = LauncherSubject(a)
        else:
            subject = RelaySubject(a, pin=name.partition("@")[2] or None)
        try:
            if not runs.warm_up():
                raise SystemExit(f"bench: {subject.name} relays nothing")
            if a.rates:
                for rate in a.rates:
                    rows.append(measure(a, runs, subject, rate))
                    time.sleep(a.pause)
            else:
                zero_loss, found = search_zero_loss(a, runs, subject)
                rows += found
                for factor in (1.5, 2.0):
                    rows.append(measure(a, runs, subject, int(zero_loss * factor), phase=f"{factor:g}x"))
                    time.sleep(a.pause)
            if a.burst_rate and name != "socat":
                rows.append(measure_burst(a, runs, subject))
        finally:
            subject.stop()
        for r in rows:  # a side note per subject: where datagrams were dropped, what they cost
            if r["subject"] == subject.name and r["phase"] != "burst":
                cost = ", ".join(f"{k} {v['cpu_us_per_dgram']:.0f} µs CPU ({100 * v['system_share']:.0f} % in "
                                 f"the kernel) and {v['ctx_per_dgram']:.1f} context switches"
                                 for k, v in r["cpu"].items() if v["cpu_us_per_dgram"])
                print(f"bench: {subject.name} {r['rate']}/s: dropped at relay input {r['relay_ns_rcvbuf_errors']}, "
                      f"at the KLOR receiver {r['rcvbuf_errors']}; lengths {r['lengths']}; misrouted "
                      f"{r['misrouted']}; sender max lag {r['max_lag_ms']:.1f} ms, CPU {r['sender_cpu_s']:.2f} s; "
                      f"per datagram: {cost}", flush=True)
    with open("/proc/loadavg") as f:
        load_end = " ".join(f.read().split()[:3])
    text = table(rows, info, a, load_end)
    os.makedirs(os.path.dirname(os.path.abspath(a.out)), exist_ok=True)
    with open(a.out, "w") as f:
        f.write(text)
    with open(os.path.splitext(a.out)[0] + ".json", "w") as f:
        json.dump({"machine": info, "load_end": load_end, "rows": rows}, f, indent=1)
    print()
    print(text)
    print(f"bench: written to {a.out}")
    return 0


# ---------------------------------------------------------------- profile


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


# ---------------------------------------------------------------- command line


def rates(text):
    values = [int(x) for x in text.split(",") if x.strip()]
    if not values or min(values) <= 0:
        raise argparse.ArgumentTypeError("rates: comma-separated positive numbers")
    return values


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("run", "profile"):
        p = sub.add_parser(name)
        p.add_argument("--exe", required=True)
        p.add_argument("--probe", required=True)
        p.add_argument("--rates", type=rates, default=None,
                       help="a fixed list of rates instead of the search and the 1.5x and 2x runs")
        p.add_argument("--duration", type=float, default=5.0, help="seconds of traffic per fixed or overload rate")
        p.add_argument("--search-from", type=int, default=1000)
        p.add_argument("--search-max", type=int, default=20000)
        p.add_argument("--search-steps", type=int, default=8, help="at most this many search measurements")
        p.add_argument("--search-resolution", type=float, default=0.08,
                       help="the search ends when the gap is below this share of the rate")
        p.add_argument("--search-duration", type=float, default=3.0, help="seconds of traffic per search step")
        p.add_argument("--sender-exe", help="the compiled sender (tools/bench/udpsend.c)")
        p.add_argument("--pin-cpu", help="keep the relay and its wineserver on this processor (N), or the relay "
                       "on R and the wineserver on W (R:W)")
        p.add_argument("--tick-us", type=int, default=1000, help="the compiled sender's pacing tick")
        p.add_argument("--size", type=int, default=100)
        p.add_argument("--senders", type=int, default=1, help="sender processes sharing one schedule")
        p.add_argument("--pacing", choices=("sleep", "spin"), default="sleep")
        p.add_argument("--subjects", default="relay,launcher,socat",
                       help="relay, relay@N (kept on processor N, or relay@R:W), launcher (as the Linux service "
                       "runs it) and socat")
        p.add_argument("--launcher-root", help="the Debian package unpacked (for the launcher subject)")
        p.add_argument("--burst-rate", type=int, default=50000, help="the burst's rate; 0: no burst measurement")
        p.add_argument("--burst-steady", type=int, default=3000, help="the steady rate beside the burst")
        p.add_argument("--burst-at", type=float, default=2.0, help="seconds of steady traffic before the burst")
        p.add_argument("--burst-after", type=float, default=8.0, help="seconds of steady traffic after the burst")
        p.add_argument("--drain", type=float, default=1.0, help="quiet seconds that end a receive")
        p.add_argument("--pause", type=float, default=1.0, help="seconds between rates")
        p.add_argument("--out", required=True, help="Markdown file of the table")
        p.add_argument("--profile-rate", type=int, default=300)
        p.add_argument("--profile-window", type=float, default=6.0)
        p.add_argument("--perf-rate", type=int, default=1000)
    s = sub.add_parser("send")
    s.add_argument("--rate", type=float, required=True)
    s.add_argument("--duration", type=float, required=True)
    s.add_argument("--size", type=int, default=100)
    s.add_argument("--run", type=int, required=True)
    s.add_argument("--senders", type=int, default=1)
    s.add_argument("--index", type=int, default=0)
    s.add_argument("--start-ns", type=int, default=0)
    s.add_argument("--pacing", choices=("sleep", "spin"), default="sleep")
    s.add_argument("--fill", choices=("zero", "pattern"), default="zero")
    s.add_argument("--quiet", default="", help="FROM:TO,... seconds after the start with nothing sent")
    r = sub.add_parser("recv")
    r.add_argument("--run", type=int, required=True)
    r.add_argument("--expected", type=int, required=True)
    r.add_argument("--drain", type=float, default=1.0)
    r.add_argument("--max-drain", type=float, default=10.0)
    r.add_argument("--check-size", type=int, default=0, help="check each datagram: N pattern bytes, zeros to 512")
    r.add_argument("--record", help="file for the sequence number and receive time of each datagram")
    a = parser.parse_args(argv)
    if a.command == "send":
        return run_sender(a)
    if a.command == "recv":
        return run_receiver(a)
    if a.command == "profile":
        return run_profile(a)
    return run_all(a)


if __name__ == "__main__":
    sys.exit(main())

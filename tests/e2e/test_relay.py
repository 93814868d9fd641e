"""The relay engine end to end: the built program under Wine in the lab, fed
from the hosts' namespace and heard in the KLOR namespace with
tools/lab/labtraffic.py. Five runs of the program:

A  a working configuration: padding to 512 bytes, source 203.0.113.1:35098
   and destination 34074 for "6789", order across hosts, a 512-byte datagram
   unchanged, a 513-byte and an empty datagram closing their channels until
   the retry ~10 s later, and a host whose receiving port another host holds
   failing at bind with 10048 every ~10 s;
B  local port 35098 taken on the KLOR side: the relay sends from 34842;
C  neither local address on the machine: bind records with 10049 every ~10 s
   on both sides and no crash; the addresses added while it runs, the
   channels come back by themselves;
D  six channels under steady traffic: the host-side card re-plugged, then its
   address removed and restored; every channel relays again by itself within
   10 s, with one record per host for each change;
E  six channels under steady traffic for a few seconds: all relayed, each
   datagram as 512 bytes, none lost (the short run of the 32-bit build).
"""
import contextlib
import json
import os
import queue
import socket
import subprocess
import sys
import threading
import time

import labtraffic
from relaylab import ROOT, SAMPLE_LOCAL, Relay, host_keys, parse_record, run_in_lab, write_ini

LAB = os.path.join(ROOT, "tools", "lab")
LABTRAFFIC = os.path.join(LAB, "labtraffic.py")
HOSTS_NS = os.environ.get("UDPLAB_HOSTS_NS", "")
KLOR_NS = os.environ.get("UDPLAB_KLOR_NS", "")
SEND_GROUP = "239.1.1.1"
WIRE_6789 = 34074


def group_of(host):
    return f"239.2.2.{host + 1}"


def send(host, size, seq, port=None, fill="pattern"):
    """One datagram of `size` bytes from the hosts' namespace to host's group."""
    subprocess.run(["ip", "netns", "exec", HOSTS_NS, sys.executable, LABTRAFFIC, "send", "--group",
                    group_of(host), "--port", str(port or 7000 + host), "--iface", "198.51.100.2", "--size",
                    str(size), "--count", "1", "--host-tag", str(host), "--first-seq", str(seq), "--fill", fill],
                   check=True, timeout=20, capture_output=True)


def sent_bytes(host, size, seq):
    """What `send` put on the wire, but for the send time in bytes 12..19."""
    return labtraffic.make_payload(seq, host, size, "pattern", sent_ns=0)


def same_but_time(got, expected):
    return len(got) >= len(expected) and got[:12] == expected[:12] and got[20:len(expected)] == expected[20:]


class KlorListener:
    """labtraffic recv in the KLOR namespace, read line by line as it runs."""

    def __init__(self, port=WIRE_6789, dump=True):
        """dump: with each datagram's bytes (item "data")."""
        self.proc = subprocess.Popen(["ip", "netns", "exec", KLOR_NS, sys.executable, LABTRAFFIC, "recv",
                                      "--group", SEND_GROUP, "--port", str(port), "--iface", "203.0.113.2",
                                      "--count", "1000000", "--timeout", "600", "--json"] + ["--dump"] * dump,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.items = queue.Queue()
        ready = self.proc.stderr.readline().strip() == "ready"
        threading.Thread(target=self._read, daemon=True).start()
        self.ready = ready

    def _read(self):
        for line in self.proc.stdout:
            item = json.loads(line)
            item["data"] = bytes.fromhex(item.pop("hex", ""))
            item["at"] = time.monotonic()
            self.items.put(item)

    def take(self, count, timeout):
        """Up to `count` datagrams arriving within `timeout` seconds."""
        got, end = [], time.monotonic() + timeout
        while len(got) < count:
            try:
                got.append(self.items.get(timeout=max(0.01, end - time.monotonic())))
            except queue.Empty:
                break
        return got

    def drain(self):
        return self.take(100000, 0.3)

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=10)


def records(relay, message=None, host=None, module=None):
    """The relay's log records as tuples (time, host, error, module, port, address, message)."""
    found = []
    for line in relay.log_lines():
        r = parse_record(line)
        if r is None:
            found.append(("unparsed", line))
            continue
        if (message is None or r[6] == message) and (host is None or r[1] == host) and \
                (module is None or r[3] == module):
            found.append(r)
    return found


def start(args, t, local, hosts, what):
    write_ini(local=local, hosts=hosts)
    relay = Relay(args)
    t.check(relay.wait_window() is not None, f"{what}: the relay starts")
    time.sleep(1.0)  # the connect requests run once the message loop does
    return relay


def finish(relay, t, what):
    code = relay.close()
    t.check(code == 0, f"{what}: the relay closes with exit code 0 (got {code})")


def resend_until_arrival(listener, host, seq, timeout, size=30):
    """Sends one datagram of host every second until one arrives; its arrival time or None."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        send(host, size, seq)
        for item in listener.take(1, 1.0):
            if item.get("tag") == host:
                return item["at"]
    return None


def run_working(args, t):
    what = "A"
    hosts = {h: host_keys(7000 + h, group_of(h)) for h in (1, 2, 4)}
    hosts[3] = host_keys(7002, group_of(3))  # host 2's port: taken when host 3 connects
    listener = KlorListener()
    t.check(listener.ready, "A: the KLOR-side receiver listens")
    relay = start(args, t, SAMPLE_LOCAL, hosts, what)
    started = time.monotonic()
    try:
        send(2, 100, 1)
        got = listener.take(1, 5)
        t.check(len(got) == 1, "A: a 100-byte datagram of host 2 is relayed")
        if got:
            d = got[0]
            t.check(d["len"] == 512, f"A: it arrives as 512 bytes (got {d['len']})")
            t.check(same_but_time(d["data"], sent_bytes(2, 100, 1)), "A: its first 100 bytes are those sent")
            t.check(d["data"][100:] == bytes(412), "A: the other 412 bytes are zero")
            t.check((d["src"], d["sport"]) == ("203.0.113.1", 35098),
                    f"A: it comes from 203.0.113.1:35098 (got {d['src']}:{d['sport']}) to port {WIRE_6789}")

        for seq, host in enumerate((1, 4, 1), start=10):
            send(host, 60, seq)
        got = listener.take(3, 5)
        t.check([(d.get("tag"), d.get("seq")) for d in got] == [(1, 10), (4, 11), (1, 12)],
                f"A: hosts 1, 4, 1 arrive in that order (got {[(d.get('tag'), d.get('seq')) for d in got]})")

        send(2, 512, 20)
        got = listener.take(1, 5)
        t.check(len(got) == 1 and got[0]["len"] == 512 and same_but_time(got[0]["data"], sent_bytes(2, 512, 20)),
                "A: a 512-byte datagram arrives unchanged")

        failed_at = time.monotonic()
        send(1, 513, 30)
        send(4, 0, 31)
        t.check(listener.take(1, 1.5) == [], "A: a 513-byte and an empty datagram are not relayed")
        oversize = records(relay, "Error in recvfrom()", 1, "In UDP Recv")
        empty = records(relay, "Error in recvfrom()", 4, "In UDP Recv")
        t.check(len(oversize) == 1 and oversize[0][2] == 10040 and oversize[0][4:6] == ("7001", group_of(1)),
                f"A: the 513-byte datagram is recorded with 10040 for host 1 ({oversize})")
        t.check(len(empty) == 1, f"A: the empty datagram is recorded for host 4 ({empty})")
        back1 = resend_until_arrival(listener, 1, 40, 20)
        back4 = resend_until_arrival(listener, 4, 50, 8)
        t.check(back1 is not None and 8.0 <= back1 - failed_at <= 15.0,
                f"A: host 1 relays again ~10 s later ({None if back1 is None else round(back1 - failed_at, 1)} s)")
        t.check(back4 is not None and back4 - failed_at <= 16.0, "A: host 4 relays again too")

        elapsed = time.monotonic() - started
        busy = records(relay, "Error in binding socket", 3)
        t.check(all(r[2] == 10048 and r[3] == "In UDP Recv" for r in busy) and
                int(elapsed // 10) <= len(busy) <= int(elapsed // 10) + 2,
                f"A: host 3 on host 2's port fails at bind with 10048 every ~10 s "
                f"({len(busy)} records in {elapsed:.0f} s)")
        others = [r for r in records(relay) if r not in busy and r[6] != "Error in recvfrom()"]
        t.check(others == [], f"A: nothing else is logged ({others})")
    finally:
        finish(relay, t, what)
        listener.stop()


def run_port_taken(args, t):
    what = "B"
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # in the relay's namespace, no SO_REUSEADDR
    holder.bind(("203.0.113.1", 35098))
    listener = KlorListener()
    relay = start(args, t, SAMPLE_LOCAL, {2: host_keys(7002, group_of(2))}, what)
    try:
        send(2, 40, 1)
        got = listener.take(1, 5)
        t.check(len(got) == 1 and (got[0]["src"], got[0]["sport"]) == ("203.0.113.1", 34842),
                f"B: with 35098 taken the relay sends from 34842 "
                f"({[(d['src'], d['sport']) for d in got]})")
        t.check(records(relay) == [], "B: the port search writes no record")
    finally:
        finish(relay, t, what)
        listener.stop()
        holder.close()


def ip_addr(op, address, dev):
    subprocess.run(["ip", "addr", op, f"{address}/24", "dev", dev], check=False, timeout=10,
                   capture_output=True)


def run_missing_addresses(args, t):
    what = "C"
    local = dict(SAMPLE_LOCAL, HOSTSIDEIPADDRESS="198.51.100.9", KLORSIDEIPADDRESS="203.0.113.9")
    hosts = {h: host_keys(7000 + h, group_of(h)) for h in (0, 2)}
    listener = KlorListener()
    relay = start(args, t, local, hosts, what)
    try:
        send_bind = records(relay, "Error in binding socket", module="In UDP Send")
        t.check(len(send_bind) == 1 and send_bind[0][1:3] == (0, 10049) and
                send_bind[0][4:6] == ("6789", SEND_GROUP),
                f"C: the send side records its bind failure for host 0 with 10049 ({send_bind})")
        time.sleep(11)
        for host in (0, 2):
            recv_bind = records(relay, "Error in binding socket", host, "In UDP Recv")
            t.check(len(recv_bind) == 2 and all(r[2] == 10049 for r in recv_bind),
                    f"C: host {host}'s bind fails with 10049 and again ~10 s later ({recv_bind})")
        t.check(relay.proc.poll() is None, "C: the relay runs on")

        ip_addr("add", "198.51.100.9", "hside")
        host_back = resend_until_arrival(listener, 2, 1, 3)  # the host side may come back, the send side not
        t.check(host_back is None, "C: nothing reaches the KLOR side while its address is missing")
        ip_addr("add", "203.0.113.9", "kside")
        added = time.monotonic()
        back = resend_until_arrival(listener, 2, 100, 25)
        t.check(back is not None and back - added <= 22.0,
                f"C: once both addresses exist the relay comes back by itself "
                f"({None if back is None else round(back - added, 1)} s)")
        got = listener.drain()
        recv_binds = len(records(relay, "Error in binding socket", module="In UDP Recv"))
        t.check(recv_binds >= 4, f"C: the receive side kept retrying ({recv_binds} records)")
    finally:
        finish(relay, t, what)
        listener.stop()
        ip_addr("del", "198.51.100.9", "hside")
        ip_addr("del", "203.0.113.9", "kside")


# Six hosts' datagrams, round after round at the given rate for the given
# seconds, from the hosts' namespace. A new socket per round, so a re-plugged
# link is used as soon as it is back; while it is gone the round is skipped.
STEADY_SENDER = r"""
import sys, time
sys.path.insert(0, sys.argv[1])
import labtraffic
rate, seconds = float(sys.argv[2]), float(sys.argv[3])
start, seq = time.monotonic(), 0
while time.monotonic() - start < seconds:
    try:
        with labtraffic.sender_socket("198.51.100.2") as s:
            for host in range(6):
                s.sendto(labtraffic.make_payload(seq, host, 64), (f"239.2.2.{host + 1}", 7000 + host))
    except OSError:
        pass
    seq += 1
    time.sleep(max(0.0, start + seq / rate - time.monotonic()))
print(seq, flush=True)
"""


def steady_sender(rounds_per_second, seconds):
    """STEADY_SENDER in the hosts' namespace; it prints the rounds it made when done."""
    return subprocess.Popen(["ip", "netns", "exec", HOSTS_NS, sys.executable, "-c", STEADY_SENDER,
                             LAB, str(rounds_per_second), str(seconds)],
                            stdout=subprocess.PIPE, text=True)


def six_hosts_under_traffic(args, t, what, seconds):
    """The relay with hosts 0..5 of the sample configuration, and a steady
    sender of 50 rounds a second over all six for `seconds`."""
    relay = start(args, t, SAMPLE_LOCAL, {h: host_keys(7000 + h, group_of(h)) for h in range(6)}, what)
    return relay, steady_sender(50, seconds)


@contextlib.contextmanager
def six_hosts_relaying(args, t, what, seconds):
    """six_hosts_under_traffic with a KLOR-side listener, checked to relay all
    six at first; yields (relay, sender, listener) and stops them after."""
    listener = KlorListener()
    relay, sender = six_hosts_under_traffic(args, t, what, seconds)
    try:
        t.check(all_relaying(listener, time.monotonic(), 5) is not None, f"{what}: all six channels relay")
        yield relay, sender, listener
    finally:
        sender.kill()
        sender.wait(timeout=10)
        finish(relay, t, what)
        listener.stop()


def all_relaying(listener, since, timeout):
    """Seconds from `since` until every host's datagrams arrive again, or None."""
    first, end = {}, time.monotonic() + timeout
    while len(first) < 6 and time.monotonic() < end:
        for item in listener.take(100, 0.2):
            if item["at"] >= since and item.get("tag") in range(6):
                first.setdefault(item["tag"], item["at"])
    return max(first.values()) - since if len(first) == 6 else None


def gaps(items, host):
    """Sequence numbers of host missing between its first and last arrival."""
    seqs = sorted({i["seq"] for i in items if i.get("tag") == host})
    return (seqs[-1] - seqs[0] + 1 - len(seqs)) if seqs else None


def reconnect_records(relay, text="Reconnecting"):
    """How many records about the host-side interface each host has."""
    return [sum(1 for r in records(relay, host=h) if text in r[6]) for h in range(6)]


def run_host_side_lost(args, t):
    what = "D"
    lab = os.environ.get("UDPLAB_RELAY_NS", "")[:-len("-relay")]
    with six_hosts_relaying(args, t, what, 90) as (relay, _, listener):
        subprocess.run([os.path.join(ROOT, "tools", "lab.sh"), "replug", lab], check=True, timeout=20)
        back = all_relaying(listener, time.monotonic(), 15)
        t.check(back is not None and back <= 10.0,
                f"D: after the host-side card is re-plugged every channel relays again by itself ({back} s)")
        counts = reconnect_records(relay)
        t.check(counts[0] in (1, 2) and counts == [counts[0]] * 6,
                f"D: one record per host for each change seen ({counts})")

        before = [reconnect_records(relay, f"address {change}") for change in ("gone", "back")]
        ip_addr("del", "198.51.100.1", "hside")
        time.sleep(4.5)
        gone = reconnect_records(relay, "address gone")
        t.check(gone == [n + 1 for n in before[0]], f"D: the address removed, one record per host ({gone})")
        ip_addr("add", "198.51.100.1", "hside")
        back = all_relaying(listener, time.monotonic(), 15)
        t.check(back is not None and back <= 10.0,
                f"D: the address restored, every channel relays again by itself ({back} s)")
        returned = reconnect_records(relay, "address back")
        t.check(returned == [n + 1 for n in before[1]], f"D: and one record per host says so ({returned})")
        for line in relay.log_lines()[-8:]:
            print("     " + line)


def run_six_hosts(args, t):
    what = "E"
    with six_hosts_relaying(args, t, what, 5) as (_, sender, listener):
        sender.wait(timeout=15)
        got = listener.take(100000, 1.0)
        t.check(len(got) > 0 and {d["len"] for d in got} == {512}, f"{what}: each datagram arrives as 512 bytes")
        lost = [gaps(got, h) for h in range(6)]
        t.check(lost == [0] * 6, f"{what}: no datagram of any host is lost ({lost})")


def main():
    run_in_lab(run_working, run_port_taken, run_missing_addresses, run_host_side_lost, run_six_hosts)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Multicast traffic for the network lab: a sender for the host side and a
receiver for the KLOR side, usable as a command and as a module.

Every datagram starts with a 20-byte header, then filler up to its size:

    offset 0   4 bytes  b"LTRF" (marks a labtraffic datagram)
    offset 4   4 bytes  sequence number, big-endian, 0-based per send run
    offset 8   4 bytes  host tag, big-endian (free for the caller, e.g. the host index)
    offset 12  8 bytes  time.monotonic_ns() at sending, big-endian

A datagram shorter than 20 bytes carries the first bytes of the header only
(size 0 sends an empty datagram). The relay pads what it forwards to 512
bytes, so receivers see the header followed by the sender's filler and zeros.

Examples (inside the lab, see tools/lab.sh; the relay's sample configuration):

    ip netns exec $UDPLAB_HOSTS_NS tools/lab/labtraffic.py send --group 239.2.2.3 \\
        --port 7002 --size 100 --count 10 --rate 100 --host-tag 2
    ip netns exec $UDPLAB_KLOR_NS tools/lab/labtraffic.py recv --group 239.1.1.1 \\
        --port 34074 --count 10 --timeout 5 --json

`recv` prints "ready" on stderr once it has joined the group, then one line
per datagram (source address and port, length, tag and sequence number, the
receive time and, when sender and receiver share a clock, the latency), and
exits 0 when --count datagrams arrived, 1 on timeout. Lines are printed as
the datagrams arrive, so a caller can read them while the receiver runs.
"""
import argparse
import json
import socket
import struct
import sys
import time

MAGIC = b"LTRF"
HEADER = struct.Struct("!4sIIQ")  # magic, sequence, host tag, send time in ns


def make_payload(seq, tag, size, fill="zero", sent_ns=None):
    """One datagram of `size` bytes: the header (cut if size < 20), then filler."""
    header = HEADER.pack(MAGIC, seq & 0xFFFFFFFF, tag & 0xFFFFFFFF,
                         time.monotonic_ns() if sent_ns is None else sent_ns)
    if size <= len(header):
        return header[:size]
    rest = size - len(header)
    if fill == "pattern":
        filler = bytes((seq + i) & 0xFF for i in range(rest))
    else:
        filler = bytes(rest)
    return header + filler


def wire_port(value):
    """The UDP port on the wire for a port value that the relay writes into
    its socket address unconverted (its KLOR-side ports): on a little-endian
    PC the two bytes are exchanged, so 6789 goes out as 34074."""
    return (value % 256) * 256 + value // 256


def parse_payload(data):
    """(seq, tag, sent_ns) of a labtraffic datagram, or None."""
    if len(data) < HEADER.size or data[:4] != MAGIC:
        return None
    _, seq, tag, sent_ns = HEADER.unpack_from(data)
    return seq, tag, sent_ns


def sender_socket(iface=None, ttl=1, loop=False):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, ttl)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1 if loop else 0)
    if iface:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(iface))
    return s


def send(group, port, size, count, rate=0.0, tag=0, iface=None, fill="zero", first_seq=0, sock=None):
    """Sends `count` datagrams of `size` bytes to group:port, at `rate` per
    second (0: as fast as possible). Returns the number sent."""
    own = sock is None
    s = sender_socket(iface) if own else sock
    interval = 1.0 / rate if rate > 0 else 0.0
    start = time.monotonic()
    sent = 0
    try:
        for i in range(count):
            if interval:
                delay = start + i * interval - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            s.sendto(make_payload(first_seq + i, tag, size, fill), (group, port))
            sent += 1
    finally:
        if own:
            s.close()
    return sent


def receiver_socket(group, port, iface=None):
    """A socket bound to the port and joined to the group on the interface."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    # A roomy buffer: a receiver that stalls for a moment (a busy test
    # machine) must not lose what the relay delivered.
    try:
        s.setsockopt(socket.SOL_SOCKET, getattr(socket, "SO_RCVBUFFORCE", 33), 8 << 20)
    except OSError:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
    s.bind(("", port))
    mreq = socket.inet_aton(group) + socket.inet_aton(iface or "0.0.0.0")
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
    return s


def receive_iter(sock, count, timeout):
    """Yields up to `count` datagrams arriving within `timeout` seconds, each
    as a dict: src, sport, len, recv_ns, data, and for labtraffic datagrams
    seq, tag, sent_ns and latency_us."""
    got = 0
    end = time.monotonic() + timeout
    while got < count:
        left = end - time.monotonic()
        if left <= 0:
            break
        sock.settimeout(left)
        try:
            data, (ip, sport) = sock.recvfrom(65536)
        except socket.timeout:
            break
        now = time.monotonic_ns()
        item = {"src": ip, "sport": sport, "len": len(data), "recv_ns": now, "data": data}
        parsed = parse_payload(data)
        if parsed:
            item["seq"], item["tag"], item["sent_ns"] = parsed
            item["latency_us"] = (now - parsed[2]) / 1000.0
        got += 1
        yield item


def receive(sock, count, timeout):
    """Up to `count` datagrams within `timeout` seconds, as a list of dicts."""
    return list(receive_iter(sock, count, timeout))


def describe(item, as_json, dump=False):
    """One output line: text, or a JSON object (with the bytes in hex if dump)."""
    shown = {k: v for k, v in item.items() if k != "data"}
    if dump:
        shown["hex"] = item["data"].hex()
    if as_json:
        return json.dumps(shown, sort_keys=True)
    tag = f"tag={item['tag']} seq={item['seq']}" if "seq" in item else "foreign"
    return f"{item['src']}:{item['sport']} len={item['len']} {tag} recv_ns={item['recv_ns']}"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)

    def command(name, help_text, iface, side):
        c = sub.add_parser(name, help=help_text)
        c.add_argument("--group", required=True)
        c.add_argument("--port", type=int, required=True)
        c.add_argument("--iface", default=iface, help=f"local address of the {side} interface")
        c.add_argument("--count", type=int, default=1)
        return c

    p = command("send", "send datagrams to a multicast group", "198.51.100.2", "sending")
    p.add_argument("--size", type=int, default=100)
    p.add_argument("--rate", type=float, default=0.0, help="datagrams per second; 0 = as fast as possible")
    p.add_argument("--host-tag", type=int, default=0)
    p.add_argument("--first-seq", type=int, default=0)
    p.add_argument("--fill", choices=("zero", "pattern"), default="zero")
    r = command("recv", "receive datagrams of a multicast group", "203.0.113.2", "receiving")
    r.add_argument("--timeout", type=float, default=10.0)
    r.add_argument("--json", action="store_true", help="one JSON object per datagram")
    r.add_argument("--dump", action="store_true", help="with --json: the datagram's bytes as hex")
    args = parser.parse_args(argv)
    if args.command == "send":
        if not 0 <= args.size <= 65507 or args.count < 0:
            parser.error("size must be 0..65507 and count not negative")
        sent = send(args.group, args.port, args.size, args.count, args.rate, args.host_tag, args.iface,
                    args.fill, args.first_seq)
        print(f"sent {sent}", file=sys.stderr)
        return 0
    sock = receiver_socket(args.group, args.port, args.iface)
    print("ready", file=sys.stderr, flush=True)
    got = 0
    try:
        for item in receive_iter(sock, args.count, args.timeout):
            print(describe(item, args.json, args.dump), flush=True)  # as it arrives
            got += 1
    except KeyboardInterrupt:
        pass
    finally:
        sock.close()
    return 0 if got >= args.count else 1


if __name__ == "__main__":
    sys.exit(main())

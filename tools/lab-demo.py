#!/usr/bin/env python3
"""Shows the relay working in the network lab: sends sample datagrams on each
configured host channel from the hosts' namespace and prints what arrived on
the KLOR side, per host. Run by tools/run-lab.sh inside the test bed."""
import os
import select
import subprocess
import sys
import time

LAB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lab")
sys.path.insert(0, LAB)
import labtraffic  # noqa: E402

SEND_GROUP = "239.1.1.1"
HOSTS = [  # receiving port, receiving group, sending port value
    (7000 + h, f"239.2.2.{h + 1}", 6789 + h) for h in range(6)
]
PER_HOST = 5


wire_port = labtraffic.wire_port


def sample_ini():
    lines = ["[LOCAL_DTE_ADDR]", f"SENDMCASTADD={SEND_GROUP}", "HOSTSIDEIPADDRESS=198.51.100.1",
             "KLORSIDEIPADDRESS=203.0.113.1"]
    for h, (recv_port, group, send_port) in enumerate(HOSTS):
        lines += [f"[HOST{h}]", f"RECVUDPPORTID={recv_port}", f"RECVMCASTADDR={group}",
                  f"SENDUDPPORTID={send_port}"]
    return "\r\n".join(lines) + "\r\n"


def receive_all(expected, timeout):
    socks = {labtraffic.receiver_socket(SEND_GROUP, wire_port(send), "203.0.113.2"): h
             for h, (_, _, send) in enumerate(HOSTS)}
    print("ready", file=sys.stderr, flush=True)
    got = {h: [] for h in range(len(HOSTS))}
    end = time.monotonic() + timeout
    while sum(map(len, got.values())) < expected and time.monotonic() < end:
        ready, _, _ = select.select(list(socks), [], [], max(0.0, end - time.monotonic()))
        for s in ready:
            data, (src, sport) = s.recvfrom(65536)
            got[socks[s]].append((data, src, sport, s.getsockname()[1]))
    return got


def main():
    if sys.argv[1:] == ["--ini"]:
        print(sample_ini(), end="")
        return 0
    if sys.argv[1:] == ["--receive"]:
        for h, items in receive_all(PER_HOST * len(HOSTS), 15).items():
            for data, src, sport, dport in items:
                parsed = labtraffic.parse_payload(data)
                print(h, len(data), src, sport, dport, parsed[1] if parsed else -1, parsed[0] if parsed else -1)
        return 0
    klor = os.environ["UDPLAB_KLOR_NS"]
    hosts = os.environ["UDPLAB_HOSTS_NS"]
    me = os.path.abspath(__file__)
    receiver = subprocess.Popen(["ip", "netns", "exec", klor, sys.executable, me, "--receive"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    receiver.stderr.readline()  # "ready": joined on the KLOR side
    for h, (recv_port, group, _) in enumerate(HOSTS):
        subprocess.run(["ip", "netns", "exec", hosts, sys.executable, os.path.join(LAB, "labtraffic.py"),
                        "send", "--group", group, "--port", str(recv_port), "--size",
                        str(40 + 20 * h), "--count", str(PER_HOST), "--rate", "50", "--host-tag", str(h)],
                       check=True, capture_output=True)
    out, _ = receiver.communicate(timeout=30)
    rows = [line.split() for line in out.splitlines()]
    print(f"\nSent {PER_HOST} datagrams on each host channel; arrived on the KLOR side ({SEND_GROUP}):\n")
    print(f"{'host':>4}  {'channel (group:port)':<22} {'sent':>4} {'arrived':>7} {'length':>6}  "
          f"{'from':<20} {'to port':>7} {'in order':>8}")
    for h, (recv_port, group, send_port) in enumerate(HOSTS):
        mine = [r for r in rows if int(r[0]) == h]
        lengths = sorted({int(r[1]) for r in mine})
        sources = sorted({f"{r[2]}:{r[3]}" for r in mine})
        seqs = [int(r[6]) for r in mine]
        print(f"{h:>4}  {group + ':' + str(recv_port):<22} {PER_HOST:>4} {len(mine):>7} "
              f"{','.join(map(str, lengths)) or '-':>6}  {','.join(sources) or '-':<20} "
              f"{wire_port(send_port):>7} {'yes' if seqs == sorted(seqs) else 'no':>8}")
    print("\nEach host's datagrams (40..140 bytes) leave padded to 512 bytes; a sending port value "
          "v goes out to port (v%256)*256 + v//256.")
    return 0 if len(rows) == PER_HOST * len(HOSTS) else 1


if __name__ == "__main__":
    sys.exit(main())

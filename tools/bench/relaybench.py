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

Traffic: 100-byte labtraffic datagrams (tools/lab/labtraffic.py header: magic,
sequence, host tag, time.monotonic_ns() at sending), round-robin over the
six host channels. Host h sends to 239.2.2.(h+1):7000+h; the relay is set up
with SENDUDPPORTID 6789 + 256*h, which it writes unconverted into the port
field, so host h is heard on the KLOR side at port 34074 + h. The host tag
carries the host index in its low 3 bits and a run number above them, so a
late datagram of an earlier run is never counted in a later one.
"""
import argparse
import sys
import time

import report
from costprofile import run_profile
from measure import measure, measure_burst
from search import search_zero_loss
from subjects import LauncherSubject, RelaySubject, SocatSubject
from traffic import Runs, run_receiver, run_sender


def run_all(a):
    info = report.machine()
    runs = Runs(a)
    rows = []
    subjects = [s for s in a.subjects.split(",") if s]
    for name in subjects:
        # relay@N: the relay with its wineserver kept on processor N.
        if name == "socat":
            subject = SocatSubject(a)
        elif name == "launcher":
            subject = LauncherSubject(a)
        elif name == "relay-nofile":
            subject = RelaySubject(a, status_file=False)
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
        report.side_notes(rows, subject.name)
    report.write(rows, info, a)
    return 0


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
        p.add_argument("--subjects", default="relay,relay-nofile,launcher,socat",
                       help="relay, relay-nofile (its working folder immutable: no status file), relay@N (kept "
                       "on processor N, or relay@R:W), launcher (as the Linux service runs it) and socat")
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

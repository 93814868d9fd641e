"""The relay's watches end to end, six hosts of the sample configuration:

H  cards re-plugged while no datagram is in flight (the KLOR-side card alone,
   then both cards at once): once traffic starts again every channel relays
   within about 10 s, with one record per side saying why;
I  Statistics opened and closed five times by clicks from another process
   under 1,200 datagrams a second: at least 99.5 % of them delivered; each
   host socket has the 4 MiB receive buffer it asks for.
"""
import os
import re
import subprocess
import time

from relaylab import IDM_STATISTICS, ROOT, SAMPLE_LOCAL, STATISTICS_TITLE, host_keys, probe, run_in_lab, wait_until
from test_relay import KlorListener, all_relaying, finish, group_of, records, start, steady_sender

STAT_OK = 3001
SIX_HOSTS = {h: host_keys(7000 + h, group_of(h)) for h in range(6)}


def replug(side):
    lab = os.environ["UDPLAB_RELAY_NS"][:-len("-relay")]
    subprocess.run([os.path.join(ROOT, "tools", "lab.sh"), "replug", lab, side], check=True, timeout=20)


def side_records(relay, prefix):
    return [r for r in records(relay) if r[6].startswith(prefix)]


def receive_buffers():
    """The receive buffer of each socket on ports 7000..7005 as Linux shows
    it (twice the size granted), from ss in this (the relay's) namespace."""
    lines = subprocess.run(["ss", "-u", "-a", "-n", "-m"], capture_output=True, text=True,
                           timeout=10).stdout.splitlines()
    found = {}
    for line, memory in zip(lines, lines[1:]):
        port, size = re.search(r":(700[0-5])\s", line), re.search(r"\brb(\d+)", memory)
        if port and size:
            found[int(port.group(1))] = int(size.group(1))
    return found


def run_quiet_replug(args, t):
    # (what, side re-plugged, whether the host side changed too). Each side
    # has one record per change its watch sees: "changed", or "gone" and
    # "back" when a look falls between the unplug and the plug.
    cases = [("H1 KLOR-side card", "klor", False), ("H2 both cards at once", "both", True)]
    for what, side, host_side_too in cases:
        relay = start(args, t, SAMPLE_LOCAL, SIX_HOSTS, what)
        listener = KlorListener(dump=False)
        sender = steady_sender(50, 3)
        try:
            t.check(all_relaying(listener, time.monotonic(), 5) is not None, f"{what}: all six channels relay")
            sender.wait(timeout=20)
            listener.stop()  # its membership ends with the KLOR-side card
            time.sleep(1)
            replug(side)
            plugged = time.monotonic()
            time.sleep(3)  # quiet: nothing in flight while the relay notices
            listener = KlorListener(dump=False)
            sender = steady_sender(50, 15)
            back = all_relaying(listener, plugged, 15)
            t.check(back is not None and back <= 10.0,
                    f"{what}: traffic after the re-plug is relayed by every channel ({back} s after it)")
            klor = side_records(relay, "KLOR side")
            t.check(len(klor) in (1, 2) and all(r[3] == "In UDP Send" and r[2] == 0 for r in klor),
                    f"{what}: one KLOR-side record per change seen ({[r[6] for r in klor]})")
            hosts = [sum(1 for r in side_records(relay, "Host side") if r[1] == h) for h in range(6)]
            t.check(hosts == [hosts[0]] * 6 and (hosts[0] in (1, 2)) == host_side_too,
                    f"{what}: host-side records per host {hosts}")
            stray = [r for r in records(relay) if not r[6].startswith(("KLOR side", "Host side")) and
                     (r[6], r[2]) != ("Error in binding socket", 10049)]
            t.check(stray == [], f"{what}: nothing else is recorded ({stray[:3]})")
        finally:
            sender.kill()
            sender.wait(timeout=10)
            listener.stop()
            finish(relay, t, what)


def run_statistics_under_load(args, t):
    what = "I"
    rounds_per_second, seconds = 200, 30  # six hosts: 1,200 datagrams a second
    relay = start(args, t, SAMPLE_LOCAL, SIX_HOSTS, what)
    listener = KlorListener(dump=False)
    sender = steady_sender(rounds_per_second, seconds)
    try:
        time.sleep(3)
        buffers = receive_buffers()
        t.check(sorted(buffers) == list(range(7000, 7006)) and min(buffers.values()) >= 2 * 4194304,
                f"{what}: every host socket has its 4 MiB receive buffer ({buffers})")
        for i in range(5):
            probe(args, "post-syscommand", IDM_STATISTICS)
            opened = probe(args, "wait-box", STATISTICS_TITLE, 10000)[0] == 0
            time.sleep(1.5)
            closed = probe(args, "press", STATISTICS_TITLE, STAT_OK)[0] == 0
            gone = wait_until(lambda: probe(args, "wait-box", STATISTICS_TITLE, 100)[0] != 0, 5)
            t.check(opened and closed and gone, f"{what}: Statistics opened and closed ({i + 1} of 5)")
            time.sleep(2)
        rounds = int(sender.communicate(timeout=seconds + 30)[0].strip() or 0)
        got = {(i.get("tag"), i.get("seq")) for i in listener.take(10 ** 6, 5.0)}
        sent = rounds * 6
        delivered = 100.0 * len(got) / sent if sent else 0.0
        stalls = records(relay, "Read notification missing. Reading on")
        t.check(delivered >= 99.5, f"{what}: {len(got)} of {sent} datagrams delivered ({delivered:.2f} %), "
                                   f"{len(stalls)} stall records")
    finally:
        sender.kill()
        listener.stop()
        finish(relay, t, what)


def main():
    run_in_lab(run_quiet_replug, run_statistics_under_load)


if __name__ == "__main__":
    main()

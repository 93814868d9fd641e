"""The configuration dialog applied to the running program in the lab, driven
from outside with winprobe while the hosts' namespace sends steady traffic:

E  six hosts relay while the dialog and its question box are open; OK after
   changing only host 3's receiving group reconnects host 3 on the new group
   (the old one is no longer heard), host 3 counts from 0, and the other
   hosts lose no datagram;
F  a changed host-side address with two hosts configured: the restart box,
   then the program ends with exit code 0 and the file holds the new address;
G  a new host-side address accepted and then cancelled: the running channels
   go on relaying on the old one, with no record.
"""
import configparser
import subprocess
import sys
import time

from relaylab import (CONFIG_TITLE, IDM_CONFIGURE, IDM_STATISTICS, IDOK, IDYES, MAIN_TITLE, MB_ICONQUESTION, MB_OK,
                      MB_YESNO, SAMPLE_LOCAL, STATISTICS_TITLE, answer_box, host_keys, ini_path, probe, run_in_lab,
                      wait_until)
from test_relay import (HOSTS_NS, LABTRAFFIC, KlorListener, all_relaying, gaps, group_of, six_hosts_under_traffic,
                        start)

QUESTION_BOX = "Server Configuration Process"
RESTART_BOX = MAIN_TITLE
HOSTLIST, ADDMODIFY, CONFIG_OK, RECVMCAST, HOSTSIDE, HOSTNUMBER, STAT_LIST, STAT_OK = \
    2008, 2009, 2010, 2002, 2006, 2000, 3000, 3001
NEW_GROUP = "239.2.2.33"


def open_dialog(args, command, caption):
    probe(args, "post-syscommand", command)
    return probe(args, "wait-box", caption, 10000)[0] == 0


def file_value(section, key):
    parser = configparser.ConfigParser()
    parser.read(ini_path(), encoding="latin-1")
    return parser.get(section, key, fallback=None)


def send_new_group(count):
    subprocess.run(["ip", "netns", "exec", HOSTS_NS, sys.executable, LABTRAFFIC, "send", "--group", NEW_GROUP,
                    "--port", "7003", "--iface", "198.51.100.2", "--size", "64", "--count", str(count),
                    "--host-tag", "33", "--rate", "50"], check=True, timeout=20, capture_output=True)


class RecordingListener(KlorListener):
    """A KLOR-side listener that also keeps everything taken from it."""

    def __init__(self):
        super().__init__()
        self.seen = []

    def take(self, count, timeout):
        got = super().take(count, timeout)
        self.seen += got
        return got


def run_group_change(args, t):
    what = "E"
    listener = RecordingListener()
    relay, sender = six_hosts_under_traffic(args, t, what, 60)
    try:
        t.check(all_relaying(listener, time.monotonic(), 5) is not None, f"{what}: all six channels relay")
        t.check(open_dialog(args, IDM_CONFIGURE, CONFIG_TITLE), f"{what}: Configure opens the dialog")
        t.check(all_relaying(listener, time.monotonic(), 5) is not None, f"{what}: ... and they relay under it")
        probe(args, "select", CONFIG_TITLE, HOSTLIST, 3)
        probe(args, "type", CONFIG_TITLE, RECVMCAST, NEW_GROUP)
        probe(args, "click", CONFIG_TITLE, ADDMODIFY)
        t.check(probe(args, "wait-box", QUESTION_BOX, 10000)[0] == 0, f"{what}: host 3 exists: the question")
        t.check(all_relaying(listener, time.monotonic(), 5) is not None,
                f"{what}: all six relay while the question is open")
        code, shown = answer_box(args, QUESTION_BOX, MB_YESNO | MB_ICONQUESTION, IDYES)
        t.check(code == 0 and "This Host already exist." in shown, f"{what}: answered Yes ({shown.strip()!r})")
        t.check(wait_until(lambda: file_value("HOST3", "RECVMCASTADDR") == NEW_GROUP, 5),
                f"{what}: HOST3 has the new group on file")
        time.sleep(8)  # traffic counted before OK, which host 0 must keep
        probe(args, "click", CONFIG_TITLE, CONFIG_OK)
        t.check(wait_until(lambda: probe(args, "wait-box", CONFIG_TITLE, 100)[0] != 0, 5), f"{what}: OK ends the dialog")
        ok_at = time.monotonic()
        time.sleep(2)
        send_new_group(5)
        listener.take(100000, 2.0)
        after = [i for i in listener.seen if i["at"] > ok_at + 1.0]
        t.check(sum(1 for i in after if i.get("tag") == 33) == 5, f"{what}: the new group of host 3 is relayed")
        t.check(not any(i.get("tag") == 3 for i in after), f"{what}: its old group no longer is")
        t.check(open_dialog(args, IDM_STATISTICS, STATISTICS_TITLE), f"{what}: Statistics opens")
        time.sleep(3.5)  # one refresh
        listener.drain()
        listed_at = time.monotonic()  # the list shows the counts of the last refresh, up to 3 s before
        lines = probe(args, "list", STATISTICS_TITLE, STAT_LIST)[1].splitlines()
        host3 = next((line for line in lines if line.startswith("Host3")), "")
        t.check(host3.split()[2:4] == ["5", "5"], f"{what}: host 3 counted from 0 ({host3!r})")
        host0 = next((line for line in lines if line.startswith("Host0")), "Host0 - 0")
        # Counted from 0 at OK it would hold no more than was heard since;
        # it holds the 8 s and more before OK too (50 a second).
        since_ok = sum(1 for i in listener.seen if i.get("tag") == 0 and ok_at <= i["at"] < listed_at)
        t.check(int(host0.split()[2]) > since_ok + 100,
                f"{what}: host 0 kept counting ({host0!r}, {since_ok} heard since OK)")
        probe(args, "press", STATISTICS_TITLE, STAT_OK)
    finally:
        sender.kill()
        sender.wait(timeout=10)
        listener.drain()
        listener.stop()
    for line in relay.log_lines():
        print("     " + line)
    missing = [gaps(listener.seen, h) for h in (0, 1, 2, 4, 5)]
    t.check(missing == [0] * 5, f"{what}: the other hosts lost nothing (missing per host {missing})")
    code = relay.close()
    t.check(code == 0, f"{what}: the relay closes with exit code 0 (got {code})")


def run_host_side_change(args, t):
    what = "F"
    relay = start(args, t, SAMPLE_LOCAL, {h: host_keys(7000 + h, group_of(h)) for h in (0, 1)}, what)
    t.check(open_dialog(args, IDM_CONFIGURE, CONFIG_TITLE), f"{what}: Configure opens the dialog")
    probe(args, "type", CONFIG_TITLE, HOSTSIDE, "198.51.100.9")
    probe(args, "type", CONFIG_TITLE, HOSTNUMBER, "1")
    probe(args, "click", CONFIG_TITLE, ADDMODIFY)
    code, _ = answer_box(args, QUESTION_BOX, MB_YESNO | MB_ICONQUESTION, IDYES)
    t.check(code == 0, f"{what}: host 1 overwritten")
    probe(args, "click", CONFIG_TITLE, CONFIG_OK)
    code, shown = answer_box(args, RESTART_BOX, MB_OK, IDOK)
    t.check(code == 0 and "Please Restart." in shown, f"{what}: the restart box ({shown.strip()!r})")
    exit_code = relay.wait_exit(15)
    t.check(exit_code == 0, f"{what}: the program ends with exit code 0 (got {exit_code})")
    t.check(file_value("LOCAL_DTE_ADDR", "HOSTSIDEIPADDRESS") == "198.51.100.9",
            f"{what}: the file holds the new host-side address")


def run_host_side_cancelled(args, t):
    what = "G"
    listener = KlorListener()
    relay, sender = six_hosts_under_traffic(args, t, what, 30)
    try:
        t.check(open_dialog(args, IDM_CONFIGURE, CONFIG_TITLE), f"{what}: Configure opens the dialog")
        probe(args, "type", CONFIG_TITLE, HOSTSIDE, "198.51.100.9")
        probe(args, "click", CONFIG_TITLE, ADDMODIFY)
        code, _ = answer_box(args, QUESTION_BOX, MB_YESNO | MB_ICONQUESTION, IDYES)
        t.check(code == 0 and wait_until(lambda: file_value("LOCAL_DTE_ADDR", "HOSTSIDEIPADDRESS") == "198.51.100.9",
                                         5), f"{what}: the new host-side address is accepted and on file")
        probe(args, "press", CONFIG_TITLE, 2011)  # Cancel
        time.sleep(5)  # longer than two looks at the host-side interface
        t.check(all_relaying(listener, time.monotonic(), 5) is not None, f"{what}: all six channels still relay")
        rebuilt = [line for line in relay.log_lines() if "Reconnecting" in line or "Error" in line]
        t.check(rebuilt == [], f"{what}: and nothing was rebuilt ({rebuilt})")
    finally:
        sender.kill()
        sender.wait(timeout=10)
        listener.stop()
    t.check(relay.close() == 0, f"{what}: the relay closes with exit code 0")


def main():
    run_in_lab(run_group_change, run_host_side_change, run_host_side_cancelled)


if __name__ == "__main__":
    main()

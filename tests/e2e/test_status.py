"""The status file NewUdpSrvr.prom and the status command end to end: the
built program under Wine in the lab.

A  three hosts, two of them under steady traffic: the file is renewed every
   3 s while it runs; read with Debian's Prometheus text parser it has every
   family with its type, the host labels, and, once the traffic stops, the
   Statistics dialog's figures; NewUdpSrvrStatus prints the dialog's lines
   character for character and exits 0; with the relay's process stopped
   (SIGSTOP) it exits 2 with the file's age, and once the relay is closed 1;
B  a working folder where nothing can be created (immutable): the relay
   relays and closes as usual, and the command says the file is missing;
   a FIFO, full and unread, at the file's temporary name: the relay relays
   on, one record per 10 s says why the file is not written, and a socket
   failure is recorded as ever.
"""
import os
import signal
import stat
import subprocess
import sys
import tempfile
import time

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:  # Debian's python3-prometheus-client beside another interpreter
    sys.path.append("/usr/lib/python3/dist-packages")
    from prometheus_client.parser import text_string_to_metric_families

from relaylab import IDM_STATISTICS, SAMPLE_LOCAL, STATISTICS_TITLE, Relay, host_keys, probe, run_in_lab, \
    wait_until, write_ini
from test_eventlog import drain, full_fifo
from test_relay import KlorListener, group_of, records, resend_until_arrival, send, steady_sender

STAT_LIST, STAT_OK = 3000, 3001
IDLE_GROUP = "239.2.2.40"  # host 2's group: nobody sends to it
FAMILIES = {
    "newudpsrvr_datagrams_received": "counter",
    "newudpsrvr_datagrams_sent": "counter",
    "newudpsrvr_receiving": "gauge",
    "newudpsrvr_last_relayed_timestamp_seconds": "gauge",
    "newudpsrvr_status_written_timestamp_seconds": "gauge",
    "newudpsrvr_start_timestamp_seconds": "gauge",
    "newudpsrvr_info": "gauge",
    "newudpsrvr_klor_group_info": "gauge",
    "newudpsrvr_log_records": "counter",
}


def status_command(args, folder, *words):
    """(exit code, stdout, stderr) of NewUdpSrvrStatus for the working folder."""
    exe = os.path.join(os.path.dirname(os.path.dirname(args.exe)), "status", "NewUdpSrvrStatus.exe")
    result = subprocess.run(["wine", exe, *words, "Z:" + folder.replace("/", "\\")], capture_output=True,
                            timeout=60)
    return result.returncode, result.stdout.decode("latin-1"), result.stderr.decode("latin-1")


def prom_path(relay):
    return os.path.join(relay.cwd, "NewUdpSrvr.prom")


def metrics(relay):
    """{family name: (type, {(sample name, frozenset of labels): value})} of the file."""
    with open(prom_path(relay), encoding="utf-8") as f:
        text = f.read()
    return {family.name: (family.type, {(s.name, frozenset(s.labels.items())): s.value for s in family.samples})
            for family in text_string_to_metric_families(text)}


def host_value(found, family, sample, host):
    values = [v for (name, labels), v in found[family][1].items()
              if name == sample and ("host", str(host)) in labels]
    return values[0] if len(values) == 1 else None


def relay_pid(relay):
    """The relay's own process (Wine's loader runs it under the program's
    name), told from other relays on the machine by its working folder."""
    for pid in subprocess.run(["pgrep", "-x", "NewUdpSrvr.exe"], capture_output=True, text=True).stdout.split():
        try:
            if os.readlink(f"/proc/{pid}/cwd") == relay.cwd:
                return int(pid)
        except OSError:
            pass
    raise RuntimeError("the relay's process is not found")


def dialog_lines(args):
    probe(args, "post-syscommand", IDM_STATISTICS)
    if probe(args, "wait-box", STATISTICS_TITLE, 10000)[0] != 0:
        return None
    lines = probe(args, "list", STATISTICS_TITLE, STAT_LIST)[1].splitlines()
    probe(args, "press", STATISTICS_TITLE, STAT_OK)
    wait_until(lambda: probe(args, "wait-box", STATISTICS_TITLE, 100)[0] != 0, 5)
    return lines


def run_file_and_command(args, t):
    what = "status file"
    hosts = {0: host_keys(7000, group_of(0)), 1: host_keys(7001, group_of(1)), 2: host_keys(7010, IDLE_GROUP)}
    write_ini(local=SAMPLE_LOCAL, hosts=hosts)
    listener = KlorListener(dump=False)
    relay = Relay(args)
    try:
        started = time.time()
        t.check(relay.wait_window() is not None, f"{what}: the relay starts")
        t.check(wait_until(lambda: os.path.exists(prom_path(relay)), 5), f"{what}: written at the start")
        sender = steady_sender(50, 8)
        time.sleep(4.0)
        first = metrics(relay)
        time.sleep(3.5)
        second = metrics(relay)
        written = [m["newudpsrvr_status_written_timestamp_seconds"][1] for m in (first, second)]
        received = [host_value(m, "newudpsrvr_datagrams_received", "newudpsrvr_datagrams_received_total", 0)
                    for m in (first, second)]
        t.check(list(written[1].values())[0] - list(written[0].values())[0] in (3.0, 4.0) and
                0 < received[0] < received[1],
                f"{what}: renewed every 3 s while traffic runs ({written}, host 0 received {received})")
        sender.wait(timeout=30)
        time.sleep(3.5)  # the file and the dialog both count the last datagram
        found = metrics(relay)
        types = {name: found[name][0] for name in found}
        t.check(types == FAMILIES, f"{what}: every family with its type ({types})")
        labels = {frozenset(dict(labels)) for _, samples in [found["newudpsrvr_receiving"]] for _, labels in samples}
        t.check(labels == {frozenset({"host", "group", "port"})}, f"{what}: host, group and port label the hosts")
        t.check(set(found["newudpsrvr_receiving"][1]) ==
                {("newudpsrvr_receiving", frozenset({"host": str(h), "group": keys["RECVMCASTADDR"],
                                                     "port": keys["RECVUDPPORTID"]}.items()))
                 for h, keys in hosts.items()}, f"{what}: the three hosts with their group and port")
        lines = dialog_lines(args)
        t.check(lines is not None and len(lines) == 3, f"{what}: the Statistics dialog lists three hosts ({lines})")
        for h in range(3):
            fields = lines[h].split() if lines and len(lines) > h else ["", "", "-1", "-1", ""]
            values = (host_value(found, "newudpsrvr_datagrams_received", "newudpsrvr_datagrams_received_total", h),
                      host_value(found, "newudpsrvr_datagrams_sent", "newudpsrvr_datagrams_sent_total", h),
                      host_value(found, "newudpsrvr_receiving", "newudpsrvr_receiving", h))
            t.check(values == (float(fields[2]), float(fields[3]), 0.0 if lines[h].endswith(" Not Receiving") else 1.0) and
                    (values[0] > 0) == (h < 2), f"{what}: host {h}'s figures are the dialog's ({values}, {lines[h]!r})")
        now = time.time()
        last = [host_value(found, "newudpsrvr_last_relayed_timestamp_seconds",
                           "newudpsrvr_last_relayed_timestamp_seconds", h) for h in range(3)]
        t.check(all(now - 15 < x <= now for x in last[:2]) and last[2] == 0.0,
                f"{what}: the last relayed datagram's time, 0 for the idle host ({last}, now {now:.0f})")
        start = list(found["newudpsrvr_start_timestamp_seconds"][1].values())[0]
        t.check(started - 2 <= start <= started + 10, f"{what}: the start time ({start}, started {started:.0f})")
        info = found["newudpsrvr_info"][1]
        version = os.environ.get("RELAY_VERSION_TEXT", "")
        t.check(info == {("newudpsrvr_info", frozenset({"version": version}.items())): 1.0},
                f"{what}: the version ({info})")
        klor = found["newudpsrvr_klor_group_info"][1]
        t.check(klor == {("newudpsrvr_klor_group_info", frozenset({"group": "239.1.1.1"}.items())): 1.0},
                f"{what}: the KLOR-side group ({klor})")
        logged = list(found["newudpsrvr_log_records"][1].values())
        t.check(logged == [float(len(relay.log_lines()))], f"{what}: the log's records ({logged})")

        code, out, err = status_command(args, relay.cwd)
        t.check(code == 0 and lines is not None and out.split("\n") == lines + [""],
                f"{what}: the command prints the dialog's lines and exits 0 ({code}, {out!r}, {err!r})")
        code, out, _ = status_command(args, relay.cwd, "--prom")
        with open(prom_path(relay), encoding="latin-1") as f:
            file_text = f.read()
        t.check(code == 0 and out == file_text, f"{what}: --prom prints the file as it is ({code})")
        pid = relay_pid(relay)
        os.kill(pid, signal.SIGSTOP)
        try:
            time.sleep(11.5)
            code, out, err = status_command(args, relay.cwd)
        finally:
            os.kill(pid, signal.SIGCONT)
        t.check(code == 2 and " s old: the relay is stuck" in err,
                f"{what}: with the relay stopped it exits 2 with the file's age ({code}, {err.strip()!r})")
        t.check(wait_until(lambda: status_command(args, relay.cwd)[0] == 0, 10, step=1),
                f"{what}: running again, it exits 0")
    finally:
        code = relay.close()
        t.check(code == 0, f"{what}: the relay closes with exit code 0 (got {code})")
        listener.stop()
    code, _, err = status_command(args, relay.cwd)
    t.check(code == 1 and err.strip() == "no relay is running", f"{what}: no relay: exit 1 ({code}, {err!r})")


def relays(listener, host, seq):
    listener.drain()
    return resend_until_arrival(listener, host, seq, 8) is not None


def run_unwritable(args, t):
    what = "immutable folder"
    write_ini(local=SAMPLE_LOCAL, hosts={h: host_keys(7000 + h, group_of(h)) for h in (1, 2)})
    listener = KlorListener(dump=False)
    cwd = tempfile.mkdtemp(prefix="relay-run-")
    subprocess.run(["chattr", "+i", cwd], check=True)
    try:
        relay = Relay(args, cwd=cwd)
        t.check(relay.wait_window() is not None, f"{what}: the relay starts")
        time.sleep(4.0)
        t.check(relays(listener, 1, 1) and relays(listener, 2, 2), f"{what}: the relay relays")
        code, _, err = status_command(args, cwd)
        t.check(code == 2 and "cannot be read" in err, f"{what}: the command says so ({code}, {err.strip()!r})")
        code = relay.close()
        t.check(code == 0 and os.listdir(cwd) == [], f"{what}: closes with 0, nothing written ({code})")
    finally:
        subprocess.run(["chattr", "-i", cwd], check=True)

    what = "FIFO at the temporary name"
    cwd = tempfile.mkdtemp(prefix="relay-run-")
    fifo = os.path.join(cwd, "NewUdpSrvr.prom.tmp")
    fd, held = full_fifo(fifo)
    relay = Relay(args, cwd=cwd)
    try:
        t.check(relay.wait_window() is not None, f"{what}: the relay starts")
        began = time.monotonic()
        t.check(relays(listener, 1, 1) and relays(listener, 2, 2), f"{what}: the relay relays")
        wait_until(lambda: time.monotonic() - began > 12, 15)
        t.check(relays(listener, 1, 3), f"{what}: and relays on, some periods later")
        send(1, 513, 30)
        wait_until(lambda: records(relay, "Error in recvfrom()", 1), 5)
        lines = relay.log_lines()
        refused = [line for line in lines if "In Status File" in line and
                   line.endswith("NewUdpSrvr.prom Status file is no disk file. Not written")]
        t.check(len(refused) == 2, f"{what}: one record per 10 s says why ({refused})")
        t.check(len(records(relay, "Error in recvfrom()", 1)) == 1, f"{what}: a socket failure is recorded")
        t.check(not os.path.exists(os.path.join(cwd, "NewUdpSrvr.prom")), f"{what}: no file is written")
    finally:
        code = relay.close()
        t.check(code == 0, f"{what}: the relay closes with exit code 0 (got {code})")
        in_fifo = drain(fd)
        os.close(fd)
        t.check(in_fifo == held and stat.S_ISFIFO(os.stat(fifo).st_mode),
                f"{what}: nothing was written into the FIFO, which stays ({in_fifo - held} bytes)")
        listener.stop()


def main():
    run_in_lab(run_file_and_command, run_unwritable)


if __name__ == "__main__":
    main()

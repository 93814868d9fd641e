"""The program as an operator meets it: one instance, also when two copies
start at the same instant or one runs in another logon session (then recorded), a copy ended by force that leaves
the guard abandoned, a full log moved aside at start-up, a minimised window that stays minimised and is not
activated, a confirmed close, a logoff that ends it with a record and no question, and the configuration dialog
on a start with a local address missing."""
import os
import subprocess
import tempfile
import time

from relaylab import (CLOSE_QUESTION, CONFIG_TITLE, IDNO, IDYES, MAIN_TITLE,
                      SAMPLE_LOCAL, SC_MAXIMIZE, SC_RESTORE, Checks, Relay, answer_box, host_keys,
                      parse_args, probe, shown_state, wait_until, write_ini)

LOG_ROTATE_LIMIT = 20_480_000
GUARD = r"Global\VQX UDP Broadcast Server instance"


def shell_records(relay):
    """The messages of the relay's own records ("In UDP Srvr", no port or address)."""
    head = "  In UDP Srvr" + " " * 28
    return [line.split(head, 1)[1] for line in relay.log_lines() if head in line]
MONTHS = ("JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC")


def state_of(args):
    return shown_state(args) or ""


def rotated_names(first, last):
    """The names a log rotated between the two times can get: the local start
    time as 14MAR2008_090507.log."""
    names = set()
    for second in range(int(first) - 1, int(last) + 2):
        tm = time.localtime(second)
        names.add(f"{tm.tm_mday:02d}{MONTHS[tm.tm_mon - 1]}{tm.tm_year:04d}_"
                  f"{tm.tm_hour:02d}{tm.tm_min:02d}{tm.tm_sec:02d}.log")
    return names


def single_instance(args, t):
    """The first copy starts beside a log of the rotation limit, which it
    moves aside; a second copy exits at once."""
    write_ini(local=SAMPLE_LOCAL)
    cwd = tempfile.mkdtemp(prefix="relay-run-")
    with open(os.path.join(cwd, "UDPMessages.Log"), "wb") as log:
        log.truncate(LOG_ROTATE_LIMIT)
    before = time.time()
    first = Relay(args, cwd=cwd)
    t.check(first.wait_window() is not None, "the first copy shows its main window")
    files = {name: os.path.getsize(os.path.join(cwd, name)) for name in os.listdir(cwd)}
    rotated = [name for name in files if name in rotated_names(before, time.time())]
    t.check(len(rotated) == 1 and files[rotated[0]] == LOG_ROTATE_LIMIT and "UDPMessages.Log" not in files,
            f"a log of {LOG_ROTATE_LIMIT} bytes is renamed after the start time ({files})")
    second = Relay(args)
    t.check(second.wait_exit(20) == 0, "a second copy exits with code 0")
    t.check(second.log_lines() == [], f"and, its window being on this desktop, writes nothing ({second.log_lines()})")
    t.check(first.proc.poll() is None, "the first copy goes on running")
    t.check("foreground=0" in state_of(args), "the first copy is not brought forward")
    return first


def stays_minimised(args, t, relay):
    t.check("minimized=1" in state_of(args), "the main window is shown minimised")
    for command in (SC_RESTORE, SC_MAXIMIZE):
        probe(args, "post-syscommand", command)
        t.check("minimized=1 zoomed=0" in state_of(args), f"system command {command:#x} leaves it minimised")


def close_confirmation(args, t, relay):
    probe(args, "post-syscommand", 0xF060)
    code, text = answer_box(args, "UDP Server", CLOSE_QUESTION, IDNO)
    t.check(code == 0 and "Are You Sure you want to do that?" in text,
            f"close asks for confirmation: Yes and No, No the default, a question icon ({text.strip()!r})")
    t.check(not wait_until(lambda: relay.proc.poll() is not None, 2), "No keeps the program running")
    t.check(relay.close() == 0, "Yes ends the program with exit code 0")


def other_title_does_not_block(args, t):
    fake = subprocess.Popen(["wine", args.probe, "fake-window", "Another Title", "20000"],
                            stdout=subprocess.PIPE, text=True)
    try:
        t.check(fake.stdout.readline().strip() == "ready", "a UDPSERVER window with another title exists")
        relay = Relay(args)
        t.check(relay.wait_window() is not None, "the program starts beside it")
        t.check(relay.close() == 0, "and closes with exit code 0")
    finally:
        fake.kill()
        fake.wait()


def running_in_another_session(args, t):
    """A copy in another logon session: its machine-wide mutex is held, its
    window is on a desktop this one cannot see. A copy started here exits 0."""
    holder = subprocess.Popen(["wine", args.probe, "hold-mutex", GUARD, "20000"], stdout=subprocess.PIPE, text=True)
    try:
        t.check(holder.stdout.readline().strip() == "ready", "another session's copy holds the machine-wide mutex")
        relay = Relay(args)
        code = relay.wait_exit(20)
        relay.kill()
        t.check(code == 0, f"a copy started beside it exits with code 0 ({code})")
        records = shell_records(relay)
        t.check(records == ["Instance guard held by another process. Not started"],
                f"and says why in one record ({relay.log_lines()})")
    finally:
        holder.kill()
        holder.wait()


def abandoned_guard(args, t):
    """A copy ended by force while another process has the guard open leaves it
    abandoned, not gone: the next copy takes it and runs."""
    write_ini(local=SAMPLE_LOCAL)
    first = Relay(args)
    opener = None
    try:
        t.check(first.wait_window() is not None, "a copy runs")
        opener = subprocess.Popen(["wine", args.probe, "open-mutex", GUARD, "60000"], stdout=subprocess.PIPE, text=True)
        t.check(opener.stdout.readline().strip() == "ready", "another process has its guard open")
        t.check(probe(args, "terminate")[0] == 0, "the copy is ended by force")
        second = Relay(args)
        t.check(second.wait_window() is not None and second.proc.poll() is None,
                f"a new copy takes the abandoned guard and runs ({shell_records(second)})")
        t.check(second.close() == 0, "and closes with exit code 0")
    finally:
        if opener is not None:
            opener.kill()
            opener.wait()


def session_end(args, t):
    """A logoff: the query is answered yes without a box, the end is recorded
    once, the channels close and the program exits 0."""
    write_ini(local=SAMPLE_LOCAL, hosts={0: host_keys(7000, "239.2.2.1")})
    relay = Relay(args)
    t.check(relay.wait_window() is not None and wait_until(lambda: 7000 in bound_udp_ports(), 10),
            "the relay runs with host 0's channel open")
    code, out = probe(args, "end-session")
    t.check(code == 0 and out.strip() == "query=1", f"the logoff's query is answered yes at once, no box ({out.strip()})")
    t.check(relay.wait_exit(15) == 0, f"the relay exits with code 0 ({relay.proc.poll()})")
    t.check(shell_records(relay) == ["Windows session ending. Relay stopped"],
            f"one record says it ends with the session ({relay.log_lines()})")
    t.check(7000 not in bound_udp_ports(), "host 0's socket is closed")


def start_maximised(args, t):
    # `start /max` hands the program SW_SHOWMAXIMIZED; the window is still minimised.
    relay = Relay(args)
    relay.kill()
    starter = subprocess.Popen(["wine", "start", "/max", "/unix", args.exe], cwd=relay.cwd)
    starter.wait(timeout=30)
    t.check("minimized=1" in state_of(args), "started maximised, the window is still minimised")
    probe(args, "post-syscommand", 0xF060)
    answer_box(args, "UDP Server", CLOSE_QUESTION, IDYES)
    t.check(probe(args, "gone", 15000)[0] == 0, "and it closes")


def racing_copies(args, t, tries=3):
    """Two copies started at the same instant: one runs, the other exits 0."""
    write_ini(local=SAMPLE_LOCAL)
    for attempt in range(tries):
        copies = [Relay(args), Relay(args)]
        t.check(copies[0].wait_window() is not None, f"race {attempt}: a main window appears")
        wait_until(lambda: any(c.proc.poll() is not None for c in copies), 20)
        running = [c for c in copies if c.proc.poll() is None]
        codes = [c.proc.poll() for c in copies if c.proc.poll() is not None]
        t.check(len(running) == 1 and codes == [0], f"race {attempt}: one copy runs, the other exits 0 ({codes})")
        for c in running:
            c.close()
        for c in copies:
            c.kill()


def bound_udp_ports():
    """Local ports of the UDP sockets in this network namespace, where the
    wineserver makes the program's sockets."""
    with open("/proc/net/udp") as f:
        return {int(line.split()[1].split(":")[1], 16) for line in f.readlines()[1:]}


def configure_when_an_address_is_missing(args, t):
    # Six hosts in the file, but no KLOR-side address: the load stops before
    # the hosts, so none of them may get a socket.
    local = {k: v for k, v in SAMPLE_LOCAL.items() if k != "KLORSIDEIPADDRESS"}
    write_ini(local=local, hosts={h: host_keys(7000 + h, f"239.2.2.{h + 1}") for h in range(6)})
    relay = Relay(args)
    opened = probe(args, "wait-box", CONFIG_TITLE, 15000)[0] == 0
    t.check(opened, "with a local address missing the configuration dialog opens by itself")
    t.check(probe(args, "press", CONFIG_TITLE, 2011)[0] == 0, "and Cancel closes it")  # IDC_CONFIG_CANCEL
    t.check(relay.wait_window() is not None and relay.proc.poll() is None, "and the program runs on")
    time.sleep(1.0)  # connect requests, had there been any, run once the loop does
    bound = sorted(bound_udp_ports() & set(range(7000, 7006)))
    t.check(bound == [], f"no host was connected: no socket on the hosts' ports ({bound})")
    recv = [line for line in relay.log_lines() if "In UDP Recv" in line]
    t.check(recv == [], f"and the receive side logged nothing ({recv})")
    t.check(relay.close() == 0, "it closes with exit code 0")


def main():
    args = parse_args()
    t = Checks()
    relay = single_instance(args, t)
    stays_minimised(args, t, relay)
    close_confirmation(args, t, relay)
    other_title_does_not_block(args, t)
    running_in_another_session(args, t)
    abandoned_guard(args, t)
    session_end(args, t)
    start_maximised(args, t)
    racing_copies(args, t)
    configure_when_an_address_is_missing(args, t)
    t.finish()


if __name__ == "__main__":
    main()

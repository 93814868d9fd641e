"""The program as an operator meets it: one instance, also when two copies
start at the same instant, a minimised window that stays minimised, a
confirmed close, and the Configure command on a start without
configuration."""
import subprocess

from relaylab import (IDNO, IDOK, MAIN_TITLE, SAMPLE_LOCAL, SC_MAXIMIZE, SC_RESTORE, Checks, Relay,
                      parse_args, probe, remove_ini, shown_state, wait_until, write_ini)


def state_of(args):
    return shown_state(args) or ""


def single_instance(args, t):
    write_ini(local=SAMPLE_LOCAL)
    first = Relay(args)
    t.check(first.wait_window() is not None, "the first copy shows its main window")
    second = Relay(args)
    t.check(second.wait_exit(20) == 0, "a second copy exits with code 0")
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
    code, text = probe(args, "answer", "UDP Server", IDNO, 10000)
    t.check(code == 0 and "Are You Sure you want to do that?" in text, "close asks for confirmation")
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


def start_maximised(args, t):
    # `start /max` hands the program SW_SHOWMAXIMIZED; the window is still minimised.
    relay = Relay(args)
    relay.kill()
    starter = subprocess.Popen(["wine", "start", "/max", "/unix", args.exe], cwd=relay.cwd)
    starter.wait(timeout=30)
    t.check("minimized=1" in state_of(args), "started maximised, the window is still minimised")
    probe(args, "post-syscommand", 0xF060)
    probe(args, "answer", "UDP Server", 6, 10000)
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


def configure_without_configuration(args, t):
    remove_ini()
    relay = Relay(args)
    code, _ = probe(args, "answer", MAIN_TITLE, IDOK, 15000)
    t.check(code == 0, "with no NEWUDPSRVR.INI the Configure command opens by itself")
    t.check(relay.wait_window() is not None and relay.proc.poll() is None, "and the program runs on")
    t.check(relay.close() == 0, "it closes with exit code 0")
    recv = [line for line in relay.log_lines() if "In UDP Recv" in line]
    t.check(recv == [], "no host was connected: the receive side logged nothing")


def main():
    args = parse_args()
    t = Checks()
    relay = single_instance(args, t)
    stays_minimised(args, t, relay)
    close_confirmation(args, t, relay)
    other_title_does_not_block(args, t)
    start_maximised(args, t)
    racing_copies(args, t)
    configure_without_configuration(args, t)
    t.finish()


if __name__ == "__main__":
    main()

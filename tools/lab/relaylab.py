"""The lab's driver of the relay program under Wine in the test bed of
tools/testbed.sh, observed from outside: shared by the end-to-end tests and
the benchmark and soak tools.

The test bed exports WINEPREFIX, DISPLAY and UDPLAB_{RELAY,HOSTS,KLOR}_NS and
runs the tests inside the relay's namespace, where the wineserver lives.
"""
import argparse
import atexit
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAIN_TITLE = "VQX UDP Broadcast Sever"  # "Sever" as the title has always been
# The dialogs' captions carry the version of the build, which ctest passes to
# the tests (the benchmark tools that share this file need no caption).
VERSION_TEXT = os.environ.get("RELAY_VERSION_TEXT", "")
CONFIG_TITLE = "VQX UDP Broadcast Server Configuration v" + VERSION_TEXT
STATISTICS_TITLE = "VQX UDP Broadcast Server Data v" + VERSION_TEXT
SC_CLOSE, SC_RESTORE, SC_MAXIMIZE = 0xF060, 0xF120, 0xF030
IDM_ABOUT, IDM_CONFIGURE, IDM_STATISTICS = 1025, 1026, 1027
IDOK, IDYES, IDNO = 1, 6, 7
MB_OK, MB_YESNO, MB_ICONQUESTION, MB_ICONINFORMATION, MB_DEFBUTTON2 = 0x0, 0x4, 0x20, 0x40, 0x100
# The close confirmation: Yes and No, No the default, the question icon.
CLOSE_QUESTION = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2

SAMPLE_LOCAL = {
    "SENDMCASTADD": "239.1.1.1",
    "HOSTSIDEIPADDRESS": "198.51.100.1",
    "KLORSIDEIPADDRESS": "203.0.113.1",
}


# One line of UDPMessages.Log: time, host, error, module, port, address, message.
RECORD = re.compile(r"^(\d\d[A-Z]{3}\d{4} \d\d:\d\d:\d\d) +(-?\d+) +(-?\d+)  (In UDP (?:Recv|Send)|In Status File) +(\S*) +(\S*) (.*)$")


def parse_record(line):
    """(time, host, error, module, port, address, message) of a log line, or None."""
    m = RECORD.match(line)
    if m is None:
        return None
    return (m.group(1), int(m.group(2)), int(m.group(3)), m.group(4), m.group(5), m.group(6), m.group(7))


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True, help="NewUdpSrvr.exe")
    parser.add_argument("--probe", required=True, help="winprobe.exe")
    parser.add_argument("--only", help="the runs to do, by function name, comma-separated (default: all)")
    return parser.parse_args()


def windows_dir():
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows")


def ini_path():
    return os.path.join(windows_dir(), "NEWUDPSRVR.INI")


def write_ini(local=None, hosts=None, raw=None):
    """Writes NEWUDPSRVR.INI. local: dict of LOCAL_DTE_ADDR keys (None leaves the
    section out); hosts: {index: {key: value}}; raw: text used as it stands."""
    if raw is None:
        lines = []
        if local is not None:
            lines.append("[LOCAL_DTE_ADDR]")
            lines += [f"{k}={v}" for k, v in local.items()]
        for index, keys in sorted((hosts or {}).items()):
            lines.append(f"[HOST{index}]")
            lines += [f"{k}={v}" for k, v in keys.items()]
        raw = "\r\n".join(lines) + "\r\n"
    with open(ini_path(), "w", newline="") as f:
        f.write(raw)


def remove_ini():
    if os.path.exists(ini_path()):
        os.remove(ini_path())


def host_keys(recv_port, group, send_port="6789"):
    return {"RECVUDPPORTID": str(recv_port), "RECVMCASTADDR": group, "SENDUDPPORTID": str(send_port)}


class ProbeTimeout(Exception):
    """winprobe gave no answer at all: a window it waits on or sends to hangs."""


def probe(args, *words, timeout=60):
    """Runs winprobe; returns (exit code, output). The timeout is longer than
    any wait winprobe is given (30 s at most), with room for Wine's start, so
    that a wait that runs out reads as winprobe's answer, not as an error.
    Past it, ProbeTimeout names what winprobe was waiting for."""
    command = " ".join(map(str, words))
    try:
        result = subprocess.run(["wine", args.probe, *map(str, words)], capture_output=True, text=True,
                                timeout=timeout)
    except subprocess.TimeoutExpired:
        raise ProbeTimeout(f"winprobe {command!r} had no answer in {timeout} s") from None
    return result.returncode, result.stdout.replace("\r\n", "\n")


def answer_box(args, caption, box_type, button, timeout_ms=10000):
    """Answers a message box with a real button press once winprobe has seen it
    has the shape box_type (MB_ flags: buttons, default button, icon).
    Returns (exit code, what the box showed): 0 when shape and button were right."""
    return probe(args, "answer", caption, hex(box_type), button, timeout_ms)


def shown_state(args, timeout=10):
    """The main window's state once it is shown, or None. The window exists
    from its creation on, before WinMain shows it, so a state read too early
    would say nothing about how it is shown."""
    end = time.monotonic() + timeout
    while True:
        code, out = probe(args, "state", max(1, int((end - time.monotonic()) * 1000)))
        if code == 0 and "visible=1" in out:
            return out.strip()
        if time.monotonic() >= end:
            return None
        time.sleep(0.1)


class Relay:
    """One run of the relay program in its own working directory. A run that
    a driver leaves behind, by an error say, is ended when the driver exits:
    the lab's wineserver outlives it, and the next driver would find it."""

    running = []

    def __init__(self, args, cwd=None, extra=(), env=None, stderr=subprocess.DEVNULL):
        """env: the environment (WINEDEBUG reaches the wineserver only when
        stderr is not /dev/null); stderr: where Wine's messages go."""
        self.args = args
        self.cwd = cwd or tempfile.mkdtemp(prefix="relay-run-")
        self.proc = subprocess.Popen(["wine", args.exe, *extra], cwd=self.cwd, env=env,
                                     stdout=subprocess.DEVNULL, stderr=stderr)
        Relay.running.append(self)

    def wait_window(self, timeout_ms=30000):
        return shown_state(self.args, timeout_ms / 1000)

    def wait_exit(self, timeout=15):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def close(self, timeout=15):
        """Closes through the system menu, answering Yes; returns the exit code."""
        if self.proc.poll() is None:
            probe(self.args, "post-syscommand", SC_CLOSE)
            answer_box(self.args, "UDP Server", CLOSE_QUESTION, IDYES)
        code = self.wait_exit(timeout)
        if code is None:
            self.kill()
        return code

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=10)

    def log_lines(self):
        path = os.path.join(self.cwd, "UDPMessages.Log")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return f.read().decode("latin-1").split("\r\n")[:-1]


atexit.register(lambda: [relay.kill() for relay in Relay.running])


class Checks:
    """Collects failures so that one run reports every broken expectation."""

    def __init__(self):
        self.failures = []
        self.count = 0

    def check(self, condition, what):
        self.count += 1
        print(("ok   " if condition else "FAIL ") + what, flush=True)
        if not condition:
            self.failures.append(what)

    def finish(self):
        print(f"{self.count - len(self.failures)} passed, {len(self.failures)} failed")
        sys.exit(1 if self.failures or self.count == 0 else 0)


def run_in_lab(*runs):
    """Runs each run(args, checks) in turn in the lab of tools/testbed.sh and
    ends with the closing line of the checks."""
    args = parse_args()
    t = Checks()
    if not (os.environ.get("UDPLAB_HOSTS_NS") and os.environ.get("UDPLAB_KLOR_NS")):
        print("the lab's namespaces are not set (run under tools/testbed.sh)")
        sys.exit(1)
    chosen = [run for run in runs if not args.only or run.__name__ in args.only.split(",")]
    t.check(len(chosen) > 0, f"the runs chosen exist ({args.only})")
    for run in chosen:
        try:
            run(args, t)
        except ProbeTimeout as timeout:
            # The run's remaining checks cannot be made; the next run starts
            # without its relay.
            t.check(False, f"{run.__name__}: {timeout}")
            for relay in Relay.running:
                relay.kill()
    t.finish()


def wait_until(predicate, timeout, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()

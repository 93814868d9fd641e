"""The Debian package of the Linux service, built with tools/make-deb.sh,
installed on this machine with dpkg and purged again:

- its files, control fields, conffiles and systemd unit (systemd-analyze
  verify where systemd is installed);
- installing makes the service account, its prefix and log folders, and
  raises net.core.rmem_max to the relay's 4 MiB;
- `newudpsrvr run` in the lab's relay namespace, with six hosts in
  /etc/newudpsrvr/NEWUDPSRVR.INI: the relay and its wineserver run as the
  account, in this network, on one processor (the last); it relays all six
  channels; `newudpsrvr status` prints the six lines of the Statistics dialog
  and fails while no relay runs;
- the launcher refuses a stray settings line, a CPU that is not one
  processor and a folder as the INI, naming them, before Wine starts, with
  the exit code the unit does not restart on;
- a relay stopped with SIGSTOP is ended with its wineserver once its status
  file is STALL_SECONDS old, and a run that never renews the file (a file of
  the earlier run left in place) once the start allowance is over; the
  launcher ends with one line saying why, for the unit to start it again
  (there is no systemd here: the test starts the next run after the unit's
  RestartSec);
- SIGTERM ends the launcher within 5 s with a line and leaves no process of
  the account;
- purging removes the account and its folders.
"""
import configparser
import os
import shutil
import signal
import subprocess
import tempfile
import time

from relaylab import ROOT, SAMPLE_LOCAL, STATISTICS_TITLE, Checks, host_keys, parse_args, wait_until
from test_relay import KlorListener, group_of, send

ACCOUNT = "newudpsrvr"
INI = "/etc/newudpsrvr/NEWUDPSRVR.INI"
SETTINGS = "/etc/default/newudpsrvr"
LOG_DIR = "/var/log/newudpsrvr"
LOCK_FILE = "/var/lib/newudpsrvr/.run.lock"  # the launcher's, held while `run` runs
STALL = 10  # STALL_SECONDS of the test's runs, the least the launcher takes
START_ALLOWANCE = 30  # the launcher's time for Wine's start, on top of it
REFUSED = 78  # the launcher's exit code for settings it cannot run with
RESTART_SEC = 5  # the unit's, checked below
FILES = ["./usr/lib/newudpsrvr/NewUdpSrvr.exe", "./usr/lib/newudpsrvr/NewUdpSrvrStatus.exe", "./usr/bin/newudpsrvr",
         "./lib/systemd/system/newudpsrvr.service", "./etc/newudpsrvr/NEWUDPSRVR.INI", "./etc/default/newudpsrvr",
         "./usr/lib/sysctl.d/60-newudpsrvr.conf", "./usr/share/doc/newudpsrvr/operator-guide.md",
         "./usr/share/doc/newudpsrvr/copyright", "./usr/share/doc/newudpsrvr/THIRD-PARTY-NOTICES.txt"]


def sh(*words, timeout=120):
    result = subprocess.run(words, capture_output=True, text=True, timeout=timeout)
    return result.returncode, result.stdout + result.stderr


def installed():
    return sh("dpkg-query", "-W", "-f=${Status}", "newudpsrvr")[1].startswith("install ok installed")


def account_pids(*name):
    """The account's processes (of this name)."""
    return sh("pgrep", "-u", ACCOUNT, *name)[1].split() if sh("id", "-u", ACCOUNT)[0] == 0 else []


def status():
    """(exit code, Statistics lines) of `newudpsrvr status`."""
    code, out = sh("newudpsrvr", "status", timeout=60)
    return code, [line for line in out.splitlines() if line.startswith("Host")], out


def check_package(t, deb):
    _, listing = sh("dpkg-deb", "-c", deb)
    missing = [f for f in FILES if f" {f}" not in listing]
    t.check(missing == [], f"the package holds the programs, launcher, unit, INI, settings and docs ({missing})")
    _, control = sh("dpkg-deb", "-f", deb, "Package", "Version", "Architecture", "Depends")
    t.check("Package: newudpsrvr" in control and "Architecture: amd64" in control and "wine64" in control,
            f"control: newudpsrvr for amd64, depending on wine64 ({control})")
    with tempfile.TemporaryDirectory() as d:
        sh("dpkg-deb", "-e", deb, d)
        with open(os.path.join(d, "conffiles")) as f:
            conffiles = f.read().split()
    t.check(INI in conffiles and "/etc/default/newudpsrvr" in conffiles,
            f"the INI and the settings are conffiles ({conffiles})")


def check_installed(t):
    unit = configparser.ConfigParser(strict=False, interpolation=None)
    unit.read("/lib/systemd/system/newudpsrvr.service")
    t.check(unit.get("Service", "ExecStart", fallback="") == "/usr/bin/newudpsrvr run" and
            unit.get("Service", "Restart", fallback="") == "always" and
            unit.get("Service", "RestartSec", fallback="") == str(RESTART_SEC) and
            unit.get("Service", "RestartPreventExitStatus", fallback="") == str(REFUSED),
            "the unit runs `newudpsrvr run` and restarts it after any exit but a refused configuration")
    if shutil.which("systemd-analyze"):
        code, out = sh("systemd-analyze", "verify", "/lib/systemd/system/newudpsrvr.service")
        t.check(code == 0 and "newudpsrvr" not in out, f"systemd-analyze verify passes ({out.strip()})")
    owners = {d: sh("stat", "-c", "%U", d)[1].strip() for d in ("/var/lib/newudpsrvr", "/var/log/newudpsrvr")}
    t.check(set(owners.values()) == {ACCOUNT}, f"the account owns its prefix and log folders ({owners})")
    with open("/usr/lib/sysctl.d/60-newudpsrvr.conf") as f:
        limit = [int(line.split("=")[1]) for line in f if line.startswith("net.core.rmem_max")]
    with open("/proc/sys/net/core/rmem_max") as f:
        rmem_max = int(f.read())
    t.check(limit and limit[0] >= 4 << 20 and rmem_max >= limit[0],
            f"net.core.rmem_max is raised to at least 4 MiB ({limit}, now {rmem_max})")
    with open(INI, "rb") as f, open(os.path.join(ROOT, "config", "NEWUDPSRVR.INI"), "rb") as sample:
        t.check(f.read() == sample.read(), f"{INI} is the commented sample")


def write_six_hosts():
    lines = ["[LOCAL_DTE_ADDR]"] + [f"{k}={v}" for k, v in SAMPLE_LOCAL.items()]
    for h in range(6):
        lines += [f"[HOST{h}]"] + [f"{k}={v}" for k, v in host_keys(7000 + h, group_of(h)).items()]
    with open(INI, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


def statistics_open(args):
    """Whether the relay shows its Statistics dialog: winprobe in the
    service's prefix, as the account."""
    code, _ = sh("setpriv", f"--reuid={ACCOUNT}", f"--regid={ACCOUNT}", "--init-groups", "env", "-i",
                 "PATH=/usr/bin:/bin", "HOME=/var/lib/newudpsrvr", "WINEPREFIX=/var/lib/newudpsrvr", "WINEDEBUG=-all",
                 "/usr/lib/wine/wine64", args.probe, "wait-box", STATISTICS_TITLE, "500")
    return code == 0


def placement(pid):
    """(allowed CPUs, network namespace) of a process; None once it has ended."""
    try:
        with open(f"/proc/{pid}/status") as f:
            cpus = next(line.split()[1] for line in f if line.startswith("Cpus_allowed_list"))
        return cpus, os.stat(f"/proc/{pid}/ns/net").st_ino
    except FileNotFoundError:
        return None


def placements():
    """Where the account's relay and wineserver run. A wineserver of the
    prefix's preparation may still be ending: it is no longer counted once
    gone."""
    return [[p for p in map(placement, account_pids("-x", name)) if p is not None]
            for name in ("NewUdpSrvr.exe", "wineserver64")]


def check_refusals(t):
    """Run before the first start: a refused start makes no Wine prefix."""
    aside = INI + ".aside"
    for settings, folder, line in [
            ("CPU=1\nthis is not a setting\n", False, f"{SETTINGS} line 2 is not a KEY=value setting"),
            ("CPU=0-1\n", False, f"{SETTINGS} line 1: CPU=0-1 is not one processor number"),
            ('# two processors\nCPU="0,1"\n', False, f"{SETTINGS} line 2: CPU=0,1 is not one processor number"),
            ("CPU=\n", True, f"{INI} is not a file")]:
        with open(SETTINGS, "w") as f:
            f.write(settings)
        if folder:
            os.rename(INI, aside)
            os.mkdir(INI)
        try:
            code, out = sh("newudpsrvr", "run", timeout=30)
        except subprocess.TimeoutExpired:
            code, out = None, "it ran"
        finally:
            if folder:
                os.rmdir(INI)
                os.rename(aside, INI)
        t.check(code == REFUSED and len(out.strip().splitlines()) == 1 and line in out and
                not os.path.exists("/var/lib/newudpsrvr/drive_c") and account_pids() == [],
                f"{settings.strip()!r}{' with a folder as the INI' if folder else ''} is refused before Wine starts "
                f"with exit {REFUSED} and one line naming it ({code}: {out.strip()})")
        sh("pkill", "-KILL", "-u", ACCOUNT)  # what a start that was not refused left


def launch(outputs):
    # Wine's processes inherit the output: a file, not a pipe that they would hold open.
    outputs.append(tempfile.TemporaryFile(mode="w+"))
    return subprocess.Popen(["newudpsrvr", "run"], stdout=outputs[-1], stderr=subprocess.STDOUT)


def text(output):
    output.seek(0)
    return output.read()


def ended_for_stall(t, launcher, output, since, least, why, what):
    """Whether the launcher ends with the line saying why, from `least`
    seconds after `since` on, within 10 s more, and leaves nothing behind."""
    wait_until(lambda: launcher.poll() is not None, least + 15 - (time.monotonic() - since), step=0.2)
    took = time.monotonic() - since
    lines = [line for line in text(output).splitlines() if "run on CPU" not in line and "preparing" not in line]
    left = account_pids()
    t.check(launcher.returncode == 1 and least <= took <= least + 10 and len(lines) == 1 and why in lines[0] and
            left == [], f"{what}: the launcher ends the relay and its wineserver after {took:.1f} s "
            f"(from {least} s on) with exit 1 and one line ({launcher.returncode}: {lines}, left {left})")
    return launcher.returncode is not None


def run_service(args, t):
    code, _, out = status()
    t.check(code == 1 and "no relay is running" in out, f"status without a relay fails and says so ({code}: {out.strip()})")
    write_six_hosts()
    check_refusals(t)
    with open(SETTINGS, "w") as f:
        f.write(f"CPU=\nSTALL_SECONDS={STALL}\n")
    outputs = []
    launcher = launch(outputs)
    listener = KlorListener()
    try:
        # The first run makes the Wine prefix.
        t.check(wait_until(lambda: status()[0] == 0, 240, step=2), "the relay comes up under the launcher")
        last_cpu = sh("taskset", "-c", "-p", str(os.getpid()))[1].strip().replace(",", "-").split("-")[-1]
        here = os.stat("/proc/self/ns/net").st_ino
        wait_until(lambda: placements() == [[(last_cpu, here)]] * 2, 10, step=0.5)
        places = placements()
        t.check(places == [[(last_cpu, here)]] * 2,
                f"relay and wineserver run as {ACCOUNT}, on CPU {last_cpu}, in this network ({places})")
        for seq in range(3):
            for h in range(6):
                send(h, 40, seq)
        got = listener.take(18, 20)
        per_host = [sum(1 for item in got if item.get("tag") == h) for h in range(6)]
        t.check(per_host == [3] * 6, f"all six channels relay ({per_host})")
        # The dialog's "Host%d %-20s  %10ld  %10ld %20s", from the status
        # file, which the relay renews every 3 s.
        expected = [f"Host{h} {group_of(h):<20}  {3:>10}  {3:>10} {'Receiving':>20}" for h in range(6)]
        wait_until(lambda: status()[:2] == (0, expected), 10, step=1)
        code, lines, out = status()
        t.check(code == 0 and lines == expected, f"status prints the six Statistics lines with the counts ({out})")
        t.check(not statistics_open(args), "status leaves the relay's windows alone")
        # A stuck relay: its one thread stops, its status file ages.
        os.kill(int(account_pids("-x", "NewUdpSrvr.exe")[0]), signal.SIGSTOP)
        stopped = time.monotonic()
        if not ended_for_stall(t, launcher, outputs[-1], stopped, STALL - 4, "has not renewed", "SIGSTOP"):
            return
        # What the unit does next, after its RestartSec. This run cannot
        # renew the file (a folder holds its temporary name): the earlier
        # run's file, left in place, must not count for it.
        time.sleep(RESTART_SEC)
        blocked = os.path.join(LOG_DIR, "NewUdpSrvr.prom.tmp")
        os.mkdir(blocked)
        started = time.monotonic()
        launcher = launch(outputs)
        up = wait_until(lambda: account_pids("-x", "NewUdpSrvr.exe") != [], 30, step=0.2)
        took = time.monotonic() - stopped
        t.check(up and took <= STALL + RESTART_SEC + 15, f"a relay runs again {took:.1f} s after the SIGSTOP "
                f"(STALL_SECONDS={STALL}, RestartSec={RESTART_SEC})")
        ended = ended_for_stall(t, launcher, outputs[-1], started, STALL + START_ALLOWANCE - 1, "wrote no",
                                "a run that never renews the status file")
        os.rmdir(blocked)
        if not ended:
            return
        # `status` takes the run lock for a moment to see whether a relay
        # holds it; a start at that moment waits, it is not refused.
        holder = subprocess.Popen(["flock", LOCK_FILE, "-c", "echo held; sleep 1"], stdout=subprocess.PIPE,
                                  text=True)
        held = holder.stdout.readline().strip() == "held"
        launcher = launch(outputs)
        holder.wait()
        t.check(held and wait_until(lambda: status()[0] == 0, 60, step=1),
                "the next run, started while the lock is held for a moment, comes up and renews the file")
        launcher.terminate()
        start = time.monotonic()
        try:
            launcher.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        t.check(launcher.returncode is not None and "newudpsrvr: stopped by SIGTERM" in text(outputs[-1]),
                f"SIGTERM ends the launcher within 5 s, with a line ({time.monotonic() - start:.1f} s)")
        left = account_pids()
        t.check(left == [], f"and no process of {ACCOUNT} is left ({left})")
    finally:
        listener.stop()
        if launcher.poll() is None:
            launcher.kill()
        launcher.wait(timeout=30)
        sh("pkill", "-KILL", "-u", ACCOUNT)  # what a failed stop left
        for output in outputs:
            print(text(output).strip())


def main():
    args = parse_args()
    t = Checks()
    if installed():
        print("newudpsrvr is installed on this machine; this test installs and purges it: remove it first")
        t.check(False, "newudpsrvr is not installed before the test")
        t.finish()
    build = os.path.dirname(os.path.dirname(os.path.abspath(args.exe)))
    out = tempfile.mkdtemp(prefix="newudpsrvr-deb-")
    try:
        code, made = sh(os.path.join(ROOT, "tools", "make-deb.sh"), build, out, timeout=300)
        debs = [os.path.join(out, f) for f in os.listdir(out) if f.endswith("_amd64.deb")]
        t.check(code == 0 and len(debs) == 1, f"make-deb builds newudpsrvr_<version>_amd64.deb ({made[-300:]})")
        check_package(t, debs[0])
        code, log = sh("dpkg", "-i", debs[0], timeout=300)
        t.check(code == 0 and installed(), f"dpkg -i installs it ({log[-300:]})")
        check_installed(t)
        run_service(args, t)
    finally:
        code, log = sh("dpkg", "--purge", "newudpsrvr", timeout=300)
        shutil.rmtree(out, ignore_errors=True)
    t.check(code == 0 and sh("id", ACCOUNT)[0] != 0 and not os.path.exists("/var/lib/newudpsrvr") and
            not os.path.exists("/var/log/newudpsrvr"), f"purging removes the account and its folders ({log[-300:]})")
    t.finish()


if __name__ == "__main__":
    main()

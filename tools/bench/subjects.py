#!/usr/bin/env python3
"""What the benchmark measures: the relay under Wine, the relay as the Linux
service's launcher runs it, and socat as a yardstick, each with the processes
whose processor time counts (cpu_ticks)."""
import argparse
import os
import shutil
import subprocess
import tempfile
import time

from traffic import (HOSTS, RELAY_HOST_SIDE, RELAY_KLOR_SIDE, SEND_GROUP, WIRE_BASE, recv_group, recv_port,
                     send_port_value)


def netns_id(pid="self"):
    return os.stat(f"/proc/{pid}/ns/net").st_ino


def pids_here(match):
    """Processes in this network namespace whose command line matches."""
    mine, found = netns_id(), []
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            if netns_id(d) != mine:
                continue
            with open(f"/proc/{d}/cmdline", "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("latin-1")
        except OSError:
            continue
        if match(cmd, int(d)):
            found.append(int(d))
    return found


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def wineserver_pid(prefix=None):
    prefix = prefix or os.environ.get("WINEPREFIX", "")

    def is_server(cmd, pid):
        try:
            with open(f"/proc/{pid}/comm") as f:
                comm = f.read().strip()
            with open(f"/proc/{pid}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            return False
        return comm.startswith("wineserver") and ("WINEPREFIX=" + prefix).encode() in env
    found = pids_here(is_server)
    return found[0] if found else None


def cpu_ticks(pid):
    """utime and stime of the process (all threads) in clock ticks, and the
    voluntary + involuntary context switches of its threads."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        user, system = int(fields[11]), int(fields[12])
        switches = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if "ctxt_switches:" in line:
                        switches += int(line.split()[-1])
        return user, system, switches
    except (OSError, IndexError, ValueError):
        return 0, 0, 0


class RelaySubject:
    name = "relay (Wine)"

    def __init__(self, a, winedebug=None, stderr_path=None, pin=None, status_file=True):
        """status_file=False: the very program in a working folder made
        immutable (chattr +i), where its status file cannot be written, to
        set the relay with its file beside the relay without it."""
        import relaylab
        hosts = {h: relaylab.host_keys(recv_port(h), recv_group(h), send_port_value(h)) for h in range(HOSTS)}
        relaylab.write_ini(local=dict(relaylab.SAMPLE_LOCAL), hosts=hosts)
        probe_args = argparse.Namespace(exe=a.exe, probe=a.probe)
        env = dict(os.environ)
        if winedebug:
            env["WINEDEBUG"] = winedebug
        self.cwd = tempfile.mkdtemp(prefix="relay-bench-")
        self.immutable = not status_file
        if self.immutable:
            self.name = "relay (Wine, no status file)"
            subprocess.run(["chattr", "+i", self.cwd], check=True)
        self.stderr = open(stderr_path, "wb") if stderr_path else subprocess.DEVNULL
        self.relay = relaylab.Relay(probe_args, cwd=self.cwd, env=env, stderr=self.stderr)
        if self.relay.wait_window() is None:
            raise SystemExit("bench: the relay did not open its window")
        # Wine's launcher execs into the program: the process is found by its
        # name, which is the program's once Wine has loaded it.
        comm = os.path.basename(a.exe)[:15]
        found = pids_here(lambda cmd, pid: read_text(f"/proc/{pid}/comm").strip() == comm)
        self.pid = self.relay.proc.pid if self.relay.proc.pid in found else (found or [self.relay.proc.pid])[0]
        self.server = wineserver_pid()
        pin = pin or getattr(a, "pin_cpu", None)
        if pin:
            # All threads of both; "R:W" puts them on different processors,
            # to measure what the scheduler does when it spreads them.
            self.name = f"relay (Wine, CPU {pin})"
            relay_cpu, server_cpu = (pin.split(":") + [pin])[:2]
            for cpu, pid in ((relay_cpu, self.pid), (server_cpu, self.server)):
                subprocess.run(["taskset", "-a", "-p", "-c", cpu, str(pid)], check=True, stdout=subprocess.DEVNULL)

    def pids(self):
        return {"relay": [self.pid], "wineserver": [self.server] if self.server else []}

    def stop(self):
        self.relay.close()
        if self.stderr is not subprocess.DEVNULL:
            self.stderr.close()
        if self.immutable:
            subprocess.run(["chattr", "-i", self.cwd], check=False)
        shutil.rmtree(self.cwd, ignore_errors=True)


class LauncherSubject:
    """The relay as the Linux service runs it: `newudpsrvr run` of the Debian
    package, unpacked into --launcher-root (NEWUDPSRVR_ROOT), with its own
    prefix, settings (the processor: the last one), no display server and
    sound off; the launcher starts the prefix's first Wine process, so its
    wineserver, in this network namespace."""

    def __init__(self, a):
        import relaylab
        root = a.launcher_root
        self.prefix = os.path.join(root, "var", "lib", "newudpsrvr")
        for d in (self.prefix, os.path.join(root, "var", "log", "newudpsrvr")):
            os.makedirs(d, exist_ok=True)
        lines = ["[LOCAL_DTE_ADDR]"] + [f"{k}={v}" for k, v in relaylab.SAMPLE_LOCAL.items()]
        for h in range(HOSTS):
            lines += [f"[HOST{h}]"] + [f"{k}={v}" for k, v in
                                       relaylab.host_keys(recv_port(h), recv_group(h), send_port_value(h)).items()]
        with open(os.path.join(root, "etc", "newudpsrvr", "NEWUDPSRVR.INI"), "w", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        self.command = os.path.join(root, "usr", "bin", "newudpsrvr")
        self.env = dict(os.environ, NEWUDPSRVR_ROOT=root)
        self.output = tempfile.TemporaryFile()  # Wine's processes inherit it: not a pipe
        self.proc = subprocess.Popen([self.command, "run"], env=self.env, stdout=self.output,
                                     stderr=subprocess.STDOUT)
        end = time.monotonic() + 300  # the first run makes the prefix
        while subprocess.run([self.command, "status"], env=self.env, capture_output=True).returncode != 0:
            if time.monotonic() > end or self.proc.poll() is not None:
                self.stop()
                raise SystemExit("bench: the launcher did not bring the relay up")
            time.sleep(1.0)
        comm = os.path.basename(a.exe)[:15]
        env_entry = ("WINEPREFIX=" + self.prefix).encode()

        def in_prefix(cmd, pid):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    return read_text(f"/proc/{pid}/comm").strip() == comm and env_entry in f.read().split(b"\0")
            except OSError:
                return False
        self.pid = pids_here(in_prefix)[0]
        self.server = wineserver_pid(self.prefix)
        with open(f"/proc/{self.server}/status") as f:
            cpus = next(line.split()[1] for line in f if line.startswith("Cpus_allowed_list"))
        self.name = f"relay (launcher, CPU {cpus})"

    def pids(self):
        return {"relay": [self.pid], "wineserver": [self.server] if self.server else []}

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)
        self.output.close()


class SocatSubject:
    name = "socat"

    def __init__(self, a):
        self.procs = []
        for h in range(HOSTS):
            src = (f"UDP4-RECV:{recv_port(h)},reuseaddr,"
                   f"ip-add-membership={recv_group(h)}:{RELAY_HOST_SIDE}")
            dst = (f"UDP4-SENDTO:{SEND_GROUP}:{WIRE_BASE + h},bind={RELAY_KLOR_SIDE},"
                   f"ip-multicast-if={RELAY_KLOR_SIDE},ip-multicast-ttl=64")
            self.procs.append(subprocess.Popen(["socat", "-u", src, dst], stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))
        time.sleep(0.5)
        dead = [p.args for p in self.procs if p.poll() is not None]
        if dead:
            raise SystemExit(f"bench: socat did not start: {dead}")

    def pids(self):
        return {"socat": [p.pid for p in self.procs]}

    def stop(self):
        for p in self.procs:
            p.terminate()
        for p in self.procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(timeout=5)


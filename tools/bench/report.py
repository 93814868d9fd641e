#!/usr/bin/env python3
"""The benchmark's report: the machine, a side note per subject while it
runs, and at the end the Markdown table (and the raw figures as JSON)."""
import json
import os
import platform
import subprocess

from measure import fmt_us
from search import CARRIED_SHARE, carried
from subjects import RelaySubject


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    return {"nproc": os.cpu_count(), "cpu": model, "wine": wine, "kernel": platform.release(), "load": load}


def burst_lines(rows, a):
    bursts = [r for r in rows if r["phase"] == "burst"]
    if not bursts:
        return []
    lines = [f"A 1 s burst at {a.burst_rate}/s beside steady traffic at {a.burst_steady}/s ({a.burst_at:g} s before "
             f"it, {a.burst_after:g} s after it):", "",
             "| relayed by | steady sent | steady lost | of it before the burst | burst sent "
             "| all steady traffic delivered again after the burst |", "|---|--:|--:|--:|--:|--:|"]
    lines += [f"| {r['subject']} | {r['sent']} | {r['lost']} | {r['lost_before_burst']} | {r['burst_sent']} "
              f"| {r['recovery_s']:.1f} s |" for r in bursts]
    return lines + [""]


def ratio_lines(rows, zero):
    """The launcher beside the relay left to the scheduler, measured in this run."""
    launcher = next((name for name in zero if name.startswith("relay (launcher")), None)
    if launcher is None:
        return []
    lines = []
    scheduler = zero.get(RelaySubject.name)
    if scheduler:
        lines.append(f"- Zero loss through the launcher at {zero[launcher]}/s: {zero[launcher] / scheduler:.1f}x the "
                     f"{scheduler}/s of the relay left to the scheduler.")
    double = next((r for r in rows if r["subject"] == launcher and r["phase"] == "2x"), None)
    if double and double["rate"]:
        lines.append(f"- At twice its zero-loss rate ({double['rate']}/s offered) the launcher's relay delivered "
                     f"{double['delivered']:.0f}/s: {100 * double['delivered'] / zero[launcher]:.0f} % of its "
                     f"zero-loss rate, {100 * double['delivered'] / double['rate']:.0f} % of the offered rate.")
    burst = next((r for r in rows if r["subject"] == launcher and r["phase"] == "burst"), None)
    if burst:
        lines.append(f"- After the burst the launcher's relay delivered all steady traffic again within "
                     f"{burst['recovery_s']:.1f} s ({burst['lost']} steady datagrams lost).")
    return lines + [""]


def table(rows, info, a, load_end):
    lines = [
        f"Machine: {info['nproc']} CPUs, {info['cpu']}, kernel {info['kernel']}, {info['wine']}; "
        f"load average {info['load']} at start, {load_end} at end.",
        f"{a.size}-byte datagrams round-robin over 6 host channels, "
        + (f"relay:wineserver kept on CPU {a.pin_cpu}, " if a.pin_cpu else "")
        + ("relay (launcher): `newudpsrvr run` of the Debian package as the service runs it, " if a.launcher_root
           else "")
        + (f"compiled sender, {a.tick_us} µs ticks." if a.sender_exe
         else f"{a.senders} Python sender process(es), pacing {a.pacing}."),
        "" if a.rates else (f"Zero-loss rate: the highest of at most {a.search_steps} rates of {a.search_duration:g} s "
                            f"without loss and delivered at {CARRIED_SHARE:.0%} of the rate or more (doubling "
                            f"from {a.search_from}/s up to {a.search_max}/s, then halving the gap); then "
                            f"{a.duration:g} s at 1.5× and 2× it."),
        "",
    ]
    zero = {}  # the search's result per subject: its highest rate without loss
    for r in rows:
        if r.get("phase") == "search":
            best = r["rate"] if carried(r) else 0
            zero[r["subject"]] = max(zero.get(r["subject"], 0), best)
    if zero:
        lines += ["| relayed by | zero-loss rate /s | offered 1.5× | delivered /s | of zero-loss rate "
                  "| offered 2× | delivered /s | of zero-loss rate |", "|---|--:|--:|--:|--:|--:|--:|--:|"]
        for name, z in zero.items():
            cells = []
            for phase in ("1.5x", "2x"):
                r = next((x for x in rows if x["subject"] == name and x.get("phase") == phase), None)
                cells += ["-", "-", "-"] if r is None else [
                    str(r["rate"]), f"{r['delivered']:.0f}", f"{100 * r['delivered'] / z:.0f} %" if z else "-"]
            lines.append(f"| {name} | {z} | " + " | ".join(cells) + " |")
        lines.append("")
    lines += burst_lines(rows, a) + ratio_lines(rows, zero)
    rows = [r for r in rows if r["phase"] != "burst"]
    lines += [
        "| relayed by | phase | rate /s | sent | achieved /s | received | delivered /s | lost | loss % "
        "| of it dropped at relay input | p50 | p99 | max | CPU µs/datagram |",
        "|---|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|---|",
    ]
    for r in rows:
        cpu = ", ".join(f"{k} {v['cpu_us_per_dgram']:.0f}" for k, v in r["cpu"].items()
                        if v["cpu_us_per_dgram"] is not None) or "-"
        lines.append(f"| {r['subject']} | {r.get('phase', 'rate')} | {r['rate']} | {r['sent']} | {r['achieved']:.0f} | "
                     f"{r['received']} | {r['delivered']:.0f} | "
                     f"{r['lost']} | {r['loss_pct']:.2f} | {r['relay_ns_rcvbuf_errors']} | {fmt_us(r['p50_us'])} | {fmt_us(r['p99_us'])} | "
                     f"{fmt_us(r['max_us'])} | {cpu} |")
    lines += [
        "",
        "Latency: receive time minus send time, both time.monotonic_ns() (one clock across the namespaces), "
        "so it includes the Python receiver and the kernel paths, not only the relay. "
        "Delivered: datagrams received over the time from the first send to the last arrival. "
        "Dropped at relay input: receive-buffer overflows of the UDP sockets in the relay's namespace "
        "(/proc/net/snmp RcvbufErrors). CPU: user + system time of the relay process and the wineserver "
        "(socat: its six processes) per datagram received. The relay sends 512-byte datagrams (the 100 bytes "
        "sent, then zeros), socat the 100 bytes as they came.",
    ]
    return "\n".join(lines) + "\n"



def side_notes(rows, name):
    """A side note per rate of one subject: where datagrams were dropped, what they cost."""
    for r in rows:
        if r["subject"] == name and r["phase"] != "burst":
            cost = ", ".join(f"{k} {v['cpu_us_per_dgram']:.0f} µs CPU ({100 * v['system_share']:.0f} % in "
                             f"the kernel) and {v['ctx_per_dgram']:.1f} context switches"
                             for k, v in r["cpu"].items() if v["cpu_us_per_dgram"])
            print(f"bench: {name} {r['rate']}/s: dropped at relay input {r['relay_ns_rcvbuf_errors']}, "
                  f"at the KLOR receiver {r['rcvbuf_errors']}; lengths {r['lengths']}; misrouted "
                  f"{r['misrouted']}; sender max lag {r['max_lag_ms']:.1f} ms, CPU {r['sender_cpu_s']:.2f} s; "
                  f"per datagram: {cost}", flush=True)


def write(rows, info, a):
    """The table to --out and on stdout, the raw figures beside it as JSON."""
    with open("/proc/loadavg") as f:
        load_end = " ".join(f.read().split()[:3])
    text = table(rows, info, a, load_end)
    os.makedirs(os.path.dirname(os.path.abspath(a.out)), exist_ok=True)
    with open(a.out, "w") as f:
        f.write(text)
    with open(os.path.splitext(a.out)[0] + ".json", "w") as f:
        json.dump({"machine": info, "load_end": load_end, "rows": rows}, f, indent=1)
    print()
    print(text)
    print(f"bench: written to {a.out}")

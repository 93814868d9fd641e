"""UDPMessages.Log end to end: the built program under Wine in the lab with a
log that would block the writer.

The log a FIFO whose buffer is full and that nobody reads (the test holds
it open): a record written into it would wait for ever and stop every
channel. A 513-byte datagram on host 1 asks for a record; the record is
dropped, host 2 relays on, host 1 comes back with its retry, the FIFO is
left as it was and the relay closes normally. With the FIFO gone the next
record creates a regular log again.
"""
import os
import stat
import tempfile
import time

from relaylab import SAMPLE_LOCAL, Relay, host_keys, run_in_lab, wait_until, write_ini
from test_relay import KlorListener, finish, group_of, records, resend_until_arrival, send


def full_fifo(path):
    """A FIFO at path, filled until a write would block: its open descriptor
    and how many bytes it holds."""
    os.mkfifo(path)
    fd, held = os.open(path, os.O_RDWR | os.O_NONBLOCK), 0
    for _ in range(100000):
        try:
            held += os.write(fd, b"x" * 512)
        except BlockingIOError:
            break
    return fd, held


def drain(fd):
    taken = 0
    for _ in range(100000):
        try:
            chunk = os.read(fd, 65536)
        except BlockingIOError:
            break
        if not chunk:
            break
        taken += len(chunk)
    return taken


def run_fifo_log(args, t):
    what = "FIFO log"
    cwd = tempfile.mkdtemp(prefix="relay-run-")
    log = os.path.join(cwd, "UDPMessages.Log")
    fd, held = full_fifo(log)
    listener = KlorListener()
    write_ini(local=SAMPLE_LOCAL, hosts={h: host_keys(7000 + h, group_of(h)) for h in (1, 2)})
    relay = Relay(args, cwd=cwd)
    try:
        t.check(relay.wait_window() is not None, f"{what}: the relay starts")
        time.sleep(1.0)
        try:
            failed_at = time.monotonic()
            send(1, 513, 1)
            back2 = resend_until_arrival(listener, 2, 10, 8)
            t.check(back2 is not None, f"{what}: after a record for host 1, host 2 relays on")
            back1 = resend_until_arrival(listener, 1, 20, 20)
            t.check(back1 is not None and back1 - failed_at <= 16.0,
                    f"{what}: host 1 relays again after its retry "
                    f"({None if back1 is None else round(back1 - failed_at, 1)} s)")
            t.check(stat.S_ISFIFO(os.stat(log).st_mode), f"{what}: the FIFO is still there")
        finally:
            in_fifo = drain(fd)
            os.close(fd)
            os.remove(log)
        t.check(in_fifo == held, f"{what}: nothing was written into the FIFO ({in_fifo - held} bytes)")
        listener.drain()
        send(1, 513, 30)
        wait_until(lambda: records(relay), 5)
        written = records(relay, "Error in recvfrom()", 1)
        t.check(len(written) == 1 and os.path.isfile(log),
                f"{what}: with the FIFO gone the next record creates a regular log ({written})")
    finally:
        finish(relay, t, what)
        listener.stop()


def main():
    run_in_lab(run_fifo_log)


if __name__ == "__main__":
    main()

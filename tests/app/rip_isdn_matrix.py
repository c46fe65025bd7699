#!/usr/bin/env python3
"""A control application places calls between two real stations through the
simulated ISDN exchange, one after another: for each case station A sets its
encoder, dials B on one number (64 kbit/s) or two (128 kbit/s), both stay up
while each hears the other's tone, A hangs up, and the sound each station
played is kept as WORK_DIR/<case>-a.raw and <case>-b.raw for the caller to
judge; each call lasts until both stations have decoded the sent format for
HOLD_S seconds on end (at most a minute). Every call must end on both sides with no error and no call left in
the exchange.

Usage: rip_isdn_matrix.py RIP_A RIP_B EXCHANGE_SOCKET WORK_DIR HOLD_S CASE...
  CASE: name,coding,bit_rate,sample_rate,device_mode[,delay|slip,ms|bits,bound_s];
  or "drop" (the network
  clears one channel of a 128 kbit/s call) or "stop,PID" (the exchange, that
  process, stops mid-call; the last case)"""
import os
import shutil
import struct
import sys
import time

from rip_isdn_calls import (DECODER_FORMAT, MAKE_CONNECTION, SET_ENCODER, STOP_CONNECTION, Station,
                            active_calls, exchange, failures, fail)

ISDN = 0x20


def dial(first, second=""):
    return struct.pack("<I40s40s", ISDN, first.encode(), second.encode())


def played(work, station):
    """The sound a station's device played, written when it closes."""
    path = os.path.join(work, station, "played.raw")
    deadline = time.time() + 30
    while not os.path.exists(path) and time.time() < deadline:
        time.sleep(0.1)
    # The device writes the file in one go; wait until its size holds.
    size = -1
    while os.path.exists(path) and os.path.getsize(path) != size and time.time() < deadline:
        size = os.path.getsize(path)
        time.sleep(0.3)
    return path if os.path.exists(path) else None


def listens(work):
    try:
        return open(os.path.join(work, "trace.txt")).read().count("LISTEN_CONF")
    except OSError:
        return 0


def listening_again(a, b, work, before):
    """After a call each station rebuilds its connections and the answering
    one listens again on both channels: a call placed before that meets the
    connections being taken down."""
    deadline = time.time() + 10
    while listens(work) < before + 2 and time.time() < deadline:
        a.pump(0.05)
        b.pump(0.05)


def fault_on_line(path, name, verb, amount):
    """The fault on the second channel towards each station."""
    for controller in (1, 2):
        reply = exchange(path, f"{verb} {controller} 1 {amount}")
        if reply != "ok":
            fail(f"{name}: the exchange refuses {verb} {amount} towards controller {controller}: {reply}")


class DecoderWatch:
    """A station's decoder format reports as they come: the last one, since
    when it holds, and when the decoder opened on the sent coding (its
    device opens with it)."""

    def __init__(self, station, coding):
        self.station, self.coding = station, coding
        self.last, self.since, self.changes, self.openings = None, time.time(), 0, []

    def pump(self):
        self.station.pump(0.05)
        fmt = self.station.seen.get(DECODER_FORMAT)
        got = struct.unpack_from("<4I", fmt) if fmt and len(fmt) >= 16 else None
        if got == self.last:
            return
        if got and got[0] == self.coding and not (self.last and self.last[0] == self.coding):
            self.openings.append(time.time())
        self.last, self.since = got, time.time()
        self.changes += 1

    def holds(self, hold):
        return self.last and self.last[0] == self.coding and time.time() - self.since >= hold


def hold_format(a, b, name, coding, hold, watches=None):
    """Pumps until both decoders have run the sent format for hold seconds
    on end (at most a minute); fails the case if they have not."""
    watches = watches or {s.name: DecoderWatch(s, coding) for s in (a, b)}
    deadline = time.time() + 60
    while time.time() < deadline and not all(w.holds(hold) for w in watches.values()):
        for w in watches.values():
            w.pump()
    for s in (a, b):
        w = watches[s.name]
        print(f"{name}: station {s.name} decodes {w.last} for {time.time() - w.since:.1f} s, "
              f"{w.changes} decoder format reports", flush=True)
        if not w.holds(hold):
            fail(f"{name}: station {s.name} decodes {w.last} for {time.time() - w.since:.1f} s")


def place(a, b, path, work, hold, name, coding, bit_rate, rate, mode, fault=None):
    """fault: (verb, amount, bound_s): "delay" from the moment the call is up,
    or "slip" once the tone has held, then held on for bound_s and hold
    seconds more."""
    a.reset()
    b.reset()
    for s in ("a", "b"):
        p = os.path.join(work, s, "played.raw")
        if os.path.exists(p):
            os.remove(p)
    a.send(SET_ENCODER, struct.pack("<4I", coding, bit_rate, rate, mode))
    a.send(MAKE_CONNECTION, dial("3412", "3413" if bit_rate == 128000 else ""))
    heard = listens(work)
    if not a.wait_state(50, 60, [b]) or not b.wait_state(50, 60, [a]):
        fail(f"{name}: call not up: A {a.states} B {b.states} A errors {a.errors} B errors {b.errors}")
        a.send(STOP_CONNECTION)
        a.wait_state(16, 20, [b])
        return
    want = 2 if bit_rate == 128000 else 1
    carried = int(exchange(path, "active"))
    if carried != want:
        fail(f"{name}: the exchange carries {carried} calls, not {want}")
    if fault and fault[0] == "delay":
        fault_on_line(path, name, fault[0], fault[1])
    faulted = time.time()
    # A station whose decoder changes format restarts its device, which then
    # holds only what came after: the call is held until both decoders have
    # run the sent format for HOLD_S seconds on end.
    # A G.722 decoder plays its first 3.2 s as silence each time it opens.
    if coding == 8:
        hold += 3.2
    watches = {s.name: DecoderWatch(s, coding) for s in (a, b)}
    hold_format(a, b, name, coding, hold, watches)
    if fault and fault[0] == "slip":
        fault_on_line(path, name, fault[0], fault[1])
        faulted = time.time()
        deadline = time.time() + fault[2] + hold
        while time.time() < deadline:
            for w in watches.values():
                w.pump()
        hold_format(a, b, name, coding, 0, watches)
    if fault:
        # When each decoder first and last opened on the sent coding, in
        # seconds after the fault (below 0: before it, so it never lost the
        # stream), and how often it opened since: a device that restarts
        # holds only what came after its last opening.
        for s in (a, b):
            openings = watches[s.name].openings
            if openings:
                after = [t - faulted for t in openings if t > faulted] or [openings[-1] - faulted]
                with open(os.path.join(work, f"{name}-{s.name.lower()}-opened.txt"), "w") as f:
                    f.write(f"{after[0]:.3f} {after[-1]:.3f} {len([t for t in openings if t > faulted])}\n")
    a.send(STOP_CONNECTION)
    if not a.wait_state(16, 30, [b]) or not b.wait_state(16, 30, [a]):
        fail(f"{name}: hang-up: A {a.states} B {b.states}")
    deadline = time.time() + 1
    while time.time() < deadline:
        a.pump(0.05)
        b.pump(0.05)
    for s in (a, b):
        if s.errors:
            fail(f"{name}: station {s.name} reports {s.errors} on a normal hang-up")
    n = active_calls(path)
    if n != 0:
        fail(f"{name}: {n} calls left in the exchange")
    listening_again(a, b, work, heard)
    for s in ("a", "b"):
        p = played(work, s)
        if p is None:
            fail(f"{name}: station {s.upper()} wrote no sound")
        else:
            shutil.move(p, os.path.join(work, f"{name}-{s}.raw"))


def call_up(a, b, name):
    a.reset()
    b.reset()
    a.send(SET_ENCODER, struct.pack("<4I", 32, 128000, 48000, 20))
    a.send(MAKE_CONNECTION, dial("3412", "3413"))
    if not a.wait_state(50, 60, [b]) or not b.wait_state(50, 60, [a]):
        fail(f"{name}: call not up: A {a.states} B {b.states}")
        return False
    deadline = time.time() + 1
    while time.time() < deadline:
        a.pump(0.05)
        b.pump(0.05)
    return True


def channel_dropped(a, b, path):
    """The network clears one channel of a two-channel call: both stations
    end the whole call, and the exchange keeps no call."""
    if not call_up(a, b, "channel dropped"):
        return
    reply = exchange(path, "drop 2 1")
    if reply != "ok":
        fail(f"channel dropped: the exchange says {reply}")
    ended = a.wait_state(16, 30, [b]) and b.wait_state(16, 30, [a])
    deadline = time.time() + 2
    while time.time() < deadline:
        a.pump(0.05)
        b.pump(0.05)
    left = active_calls(path, 20)
    print(f"channel dropped: A states {a.states} errors {a.errors}, B states {b.states} errors {b.errors}, "
          f"{left} calls left", flush=True)
    if not ended:
        fail(f"channel dropped: the call goes on: A {a.states} B {b.states}")
    if left != 0:
        fail(f"channel dropped: {left} calls left in the exchange")


def exchange_stopped(a, b, path, pid):
    """The exchange goes away mid-call: both stations end the call, and the
    caller reports it as a broken line."""
    if not call_up(a, b, "exchange stopped"):
        return
    os.kill(pid, 15)
    ended = a.wait_state(16, 30, [b]) and b.wait_state(16, 30, [a])
    deadline = time.time() + 10
    while time.time() < deadline and not (a.errors and b.errors):
        a.pump(0.05)
        b.pump(0.05)
    print(f"exchange stopped: A states {a.states} errors {a.errors}, B states {b.states} errors {b.errors}",
          flush=True)
    if not ended:
        fail(f"exchange stopped: the call goes on: A {a.states} B {b.states}")
    # The caller says why; the answering station ends the call it took.
    if [code for kind, code, text in a.errors] != [0x3301] or a.errors[0][2] != "3301 Cable not connected?":
        fail(f"exchange stopped: station A reports {a.errors}")


def main():
    rip_a, rip_b, path, work, hold = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4], float(sys.argv[5])
    a, b = Station("A", rip_a), Station("B", rip_b)
    for s in (a, b):
        if not s.wait_state(16, 60):
            fail(f"station {s.name} sent no first report: {s.states}")
    for spec in sys.argv[6:]:
        name, *numbers = spec.split(",")
        if name == "drop":
            channel_dropped(a, b, path)
        elif name == "stop":
            exchange_stopped(a, b, path, int(numbers[0]))
        else:
            fault = (numbers[4], int(numbers[5]), float(numbers[6])) if len(numbers) > 4 else None
            place(a, b, path, work, hold, name, *(int(x) for x in numbers[:4]), fault)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

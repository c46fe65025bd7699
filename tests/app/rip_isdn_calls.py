#!/usr/bin/env python3
"""A control application drives two real stations through the simulated ISDN
exchange: station A calls station B with G.711 (A-law, then mu-law), each
hears the other's tone, then A and then B hangs up; calls to a busy number,
to a number nobody answers (B's own number 12 does not take 3413) and to an
unknown number end in 17 then 16 with the ISDN cause and its text; a station
whose ISDN no longer opens after a settings rebuild refuses ISDN requests.
Written from the remote-control tables and the CAPI message descriptions
alone.

Usage: rip_isdn_calls.py RIP_A RIP_B EXCHANGE_SOCKET WORK_DIR"""
import math
import os
import socket
import struct
import sys
import time

from rip_client import connect

MAKE_CONNECTION, STOP_CONNECTION, SET_ENCODER, ANSWER_SETTINGS = 0x100, 0x101, 0x10010, 0x10020
STATE, CONNECTION_INFO, DECODER_FORMAT, CONNECTION_ERROR = 0x20010, 0x20020, 0x20031, 0x30010
MESSAGE_ERROR = 0x30020
ISDN = 0x20
TONE_A, TONE_B, LEVEL = 1000.0, 440.0, 0.25
# The line carries G.711 at 8000 Hz: the sending device's converter brings
# 48000 Hz down and the receiving one brings it up, each at a gain of 0.89
# (headroom for the filter's overshoot), so the far end plays 2.0 dB down.
EXPECTED_DB = 20 * math.log10(0.89 * 0.89)
CAUSE_TEXTS = {0x3491: "3491 User busy", 0x3493: "3493 No user responding",
               0x3481: "3481 Unallocated (unassigned) number"}

failures = []
levels = []


def fail(text):
    print("FAIL", text, flush=True)
    failures.append(text)


class Station:
    def __init__(self, name, port):
        self.name = name
        self.sock = connect(port, patience=60, timeout=60)
        self.states = []
        self.errors = []
        self.refusals = []
        self.seen = {}
        self.buffer = bytearray()

    def send(self, command, body=b""):
        self.sock.sendall(struct.pack("<II", command, len(body)) + body)

    def pump(self, seconds):
        """Takes in one whole message if one arrives within seconds. A message
        that has only partly arrived stays buffered for the next call: a
        loaded station may hand its bytes over in pieces."""
        deadline = time.time() + seconds
        while True:
            if len(self.buffer) >= 8:
                command, size = struct.unpack_from("<II", self.buffer)
                if len(self.buffer) >= 8 + size:
                    body = bytes(self.buffer[8:8 + size])
                    del self.buffer[:8 + size]
                    break
            left = deadline - time.time()
            if left <= 0:
                return False
            self.sock.settimeout(left)
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                return False
            if not chunk:
                raise EOFError(f"station {self.name} closed the connection")
            self.buffer += chunk
        if command == STATE:
            self.states.append(struct.unpack("<I", body)[0])
        elif command == MESSAGE_ERROR:
            self.refusals.append(struct.unpack_from("<II", body))
        elif command == CONNECTION_ERROR:
            kind, code = struct.unpack_from("<II", body)
            self.errors.append((kind, code, body[8:88].split(b"\0")[0].decode("latin-1")))
        else:
            self.seen[command] = body
        return True

    def wait_state(self, state, seconds, others=()):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if state in self.states:
                return True
            self.pump(0.1)
            for o in others:
                o.pump(0.01)
        return state in self.states

    def reset(self):
        self.states, self.errors, self.refusals, self.seen = [], [], [], {}


def exchange(path, line):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    s.connect(path)
    s.send(b"Q" + line.encode())
    reply = s.recv(256).decode()[1:]
    s.close()
    return reply


def active_calls(path, seconds=10):
    deadline = time.time() + seconds
    n = exchange(path, "active")
    while n != "0" and time.time() < deadline:
        time.sleep(0.1)
        n = exchange(path, "active")
    return int(n)


def isdn_request(number):
    return struct.pack("<I40s40s", ISDN, number.encode(), b"")


def tone_of(path, rate=48000, channels=1):
    """Frequency and RMS of the last second of sound in a raw 16-bit file."""
    deadline = time.time() + 20
    while not os.path.exists(path) and time.time() < deadline:
        time.sleep(0.1)
    time.sleep(0.5)
    raw = open(path, "rb").read()
    samples = struct.unpack(f"<{len(raw) // 2}h", raw[: len(raw) // 2 * 2])[::channels]
    end = len(samples)
    while end > 0 and samples[end - 1] == 0:
        end -= 1
    window = samples[max(0, end - 2 * rate): max(0, end - rate)]
    if len(window) < rate // 2:
        return 0.0, 0.0
    # The tone's amplitude: the median of the peaks of 20 ms pieces, which
    # neither a short gap nor a seam on a loaded machine moves.
    piece = rate // 50
    peaks = sorted(max(abs(x) for x in window[i:i + piece]) for i in range(0, len(window) - piece + 1, piece))
    return window, peaks[len(peaks) // 2]


def power(window, freq, rate=48000):
    """Goertzel power of one frequency."""
    k = 2 * math.cos(2 * math.pi * freq / rate)
    s1 = s2 = 0.0
    for x in window:
        s1, s2 = x + k * s1 - s2, s1
    return s1 * s1 + s2 * s2 - k * s1 * s2


def call(a, b, path, work, law, hang_up_from):
    a.reset()
    b.reset()
    a.send(SET_ENCODER, struct.pack("<4I", law, 64000, 8000, 10))
    a.send(MAKE_CONNECTION, isdn_request("3412"))
    if not a.wait_state(50, 30, [b]) or not b.wait_state(50, 30, [a]):
        fail(f"law {law}: call not up: A {a.states} B {b.states} A errors {a.errors}")
        return
    for s in (a, b):
        if s.states[0] == 16:
            s.states.pop(0)
    if a.states[:1] != [32] or 48 not in a.states:
        fail(f"law {law}: caller states {a.states}")
    if 32 in b.states or 48 not in b.states:
        fail(f"law {law}: answering states {b.states}")
    deadline = time.time() + 4
    while time.time() < deadline:
        a.pump(0.05)
        b.pump(0.05)
    for s in (a, b):
        fmt = s.seen.get(DECODER_FORMAT)
        if fmt is None or struct.unpack_from("<I", fmt)[0] != law:
            fail(f"law {law}: station {s.name} decodes {fmt!r}")
    info = b.seen.get(CONNECTION_INFO)
    if info is None or struct.unpack_from("<I", info)[0] != ISDN:
        fail(f"law {law}: answering connection report {info!r}")
    sink_a, sink_b = os.path.join(work, "a", "played.raw"), os.path.join(work, "b", "played.raw")
    for p in (sink_a, sink_b):
        if os.path.exists(p):
            os.remove(p)
    closer, other = (a, b) if hang_up_from == "A" else (b, a)
    closer.send(STOP_CONNECTION)
    if not closer.wait_state(16, 20, [other]) or not other.wait_state(16, 20, [closer]):
        fail(f"law {law}: hang-up from {hang_up_from}: A {a.states} B {b.states}")
    # An error report would follow the state report at once.
    deadline = time.time() + 1
    while time.time() < deadline:
        a.pump(0.05)
        b.pump(0.05)
    for s in (a, b):
        if s.errors:
            fail(f"law {law}: station {s.name} reports {s.errors} on a normal hang-up")
    n = active_calls(path)
    if n != 0:
        fail(f"law {law}: {n} calls left in the exchange after hang-up from {hang_up_from}")
    for sink, want in ((sink_b, TONE_A), (sink_a, TONE_B)):
        window, amplitude = tone_of(sink)
        level_db = 20 * math.log10(max(amplitude, 1) / (LEVEL * 32767))
        # The tone must stand 10 dB above the powers a fifth and a third away
        # (some 40 dB on a quiet machine; the gaps of a loaded one spread it).
        peak = power(window, want)
        side = max(power(window, want * 2 / 3), power(window, want * 4 / 5), power(window, want * 5 / 4),
                   power(window, want * 3 / 2))
        ratio_db = 10 * math.log10(max(peak, 1) / max(side, 1))
        print(f"law {law}: {os.path.basename(os.path.dirname(sink))} hears {want:.0f} Hz {ratio_db:.1f} dB above "
              f"its neighbours, level {level_db:+.2f} dB (expected {EXPECTED_DB:+.2f} dB)", flush=True)
        levels.append(level_db)
        if ratio_db < 10:
            fail(f"law {law}: {sink} does not carry {want} Hz ({ratio_db:.1f} dB)")
        # Both laws and both directions arrive at the expected level (the
        # converters' pass-band ripple and G.711's steps are within 1 dB).
        if abs(level_db - EXPECTED_DB) > 1.0 or max(levels) - min(levels) > 1.0:
            fail(f"law {law}: {sink} level {level_db:+.2f} dB (others {levels})")


def failed_call(a, b, path, number, cause, what):
    a.reset()
    a.send(SET_ENCODER, struct.pack("<4I", 2, 64000, 8000, 10))
    a.send(MAKE_CONNECTION, isdn_request(number))
    a.wait_state(16, 30, [b])
    # The error report follows the state report (after any message box).
    deadline = time.time() + 10
    while time.time() < deadline and not a.errors:
        a.pump(0.1)
    seq = [s for s in a.states]
    if 17 not in seq or seq[-1] != 16 or seq.index(17) > len(seq) - 2:
        fail(f"{what}: caller states {seq}")
    codes = [code for kind, code, text in a.errors if kind == 32]
    texts = [text for kind, code, text in a.errors if kind == 32]
    print(f"{what}: states {seq}, ISDN cause {[hex(c) for c in codes]} {texts}", flush=True)
    if codes != [cause] or texts != [CAUSE_TEXTS[cause]]:
        fail(f"{what}: errors {a.errors}, want cause {cause:#x} \"{CAUSE_TEXTS[cause]}\"")
    if 48 in b.states or 50 in b.states:
        fail(f"{what}: the called station went up: {b.states}")
    if active_calls(path) != 0:
        fail(f"{what}: calls left in the exchange")


def check_pacing(trace_path, window=2, prefill=4):
    """From the exchange's trace: a voice call's sender keeps at most its
    send window of blocks (two of 192 bytes) on the line, and sends no more
    blocks than the network clocks to it: one per DATA_B3_IND, once its
    prefill (synchro start 4: three blocks at once, the fourth waits for a
    received block) is out. So it is never more than prefill - 1 blocks
    ahead of the blocks it has received."""
    events = {}
    for line in open(trace_path):
        words = line.split()
        if len(words) > 3 and words[3] in ("DATA_B3_IND", "DATA_B3_REQ", "DATA_B3_CONF", "CONNECT_B3_ACTIVE_IND"):
            events.setdefault(words[1], []).append(words[3])
    checked = 0
    for app, seq in events.items():
        if "DATA_B3_REQ" not in seq:
            continue
        checked += 1
        # Per call (each starts with CONNECT_B3_ACTIVE_IND).
        calls, current = [], []
        for e in seq:
            if e == "CONNECT_B3_ACTIVE_IND":
                current = []
                calls.append(current)
            elif calls:
                current.append(e)
        for n, call in enumerate(calls):
            outstanding = peak = 0
            for e in call:
                if e == "DATA_B3_REQ":
                    outstanding += 1
                    peak = max(peak, outstanding)
                elif e == "DATA_B3_CONF":
                    outstanding -= 1
            sent, received = call.count("DATA_B3_REQ"), call.count("DATA_B3_IND")
            ahead = lead = 0
            per_block = {}
            since = None
            for e in call:
                if e == "DATA_B3_REQ":
                    ahead += 1
                    lead = max(lead, ahead)
                    if since is not None:
                        since += 1
                elif e == "DATA_B3_IND":
                    ahead -= 1
                    if since is not None:
                        per_block[since] = per_block.get(since, 0) + 1
                    since = 0
            spread = ", ".join(f"{count} with {k}" for k, count in sorted(per_block.items()))
            print(f"app {app} call {n}: {sent} blocks sent on {received} received, at most {peak} on the line, "
                  f"at most {lead} ahead; blocks sent between received ones: {spread}", flush=True)
            if lead > prefill - 1:
                fail(f"app {app} ran {lead} blocks ahead of what it received (prefill {prefill})")
            if peak > window:
                fail(f"app {app} had {peak} blocks on the line (window {window})")
            # Never more than the network clocked (fewer when the station starves).
            if sent == 0 or sent > received + window + 2:
                fail(f"app {app} sent {sent} blocks on {received} received")
    if checked < 2:
        fail(f"the trace shows {checked} sending applications")


def isdn_gone_after_rebuild(a, b, work):
    """A's settings now name a controller the exchange does not have: after
    the rebuild its ISDN cannot open, and an ISDN request is refused with
    {0x100, 16} (media not available) instead of being dropped."""
    ini = os.path.join(work, "a", "Velmora.Ini")
    text = open(ini).read().replace("Controller=0", "Controller=7")
    open(ini, "w").write(text)
    a.send(ANSWER_SETTINGS, struct.pack("<II", ISDN, 0))
    # The rebuild runs on the station's worker: a request that reaches the old
    # transport first fails on the unknown number (17, 16) and is sent again.
    deadline = time.time() + 30
    while time.time() < deadline:
        a.reset()
        a.send(SET_ENCODER, struct.pack("<4I", 2, 64000, 8000, 10))
        a.send(MAKE_CONNECTION, isdn_request("9999"))
        end = time.time() + 10
        while time.time() < end and not a.refusals and 16 not in a.states:
            a.pump(0.1)
            b.pump(0.01)
        if a.refusals:
            break
        time.sleep(0.5)
    print(f"ISDN gone after a rebuild: refusals {a.refusals}, states {a.states}", flush=True)
    if a.refusals != [(MAKE_CONNECTION, 16)]:
        fail(f"ISDN gone after a rebuild: refusals {a.refusals}, states {a.states}")
    if 32 in a.states or 48 in a.states:
        fail(f"ISDN gone after a rebuild: a call started: {a.states}")


def main():
    rip_a, rip_b, path, work = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
    a, b = Station("A", rip_a), Station("B", rip_b)
    a.wait_state(16, 30)
    b.wait_state(16, 30)
    call(a, b, path, work, 2, "A")
    # The receive law is each station's [ISDN] G711Type: both switch to mu-law,
    # and new answer settings make each station rebuild its connections.
    for name, accept in (("a", 0), ("b", ISDN)):
        ini = os.path.join(work, name, "Velmora.Ini")
        text = open(ini).read().replace("G711Type=2", "G711Type=4")
        open(ini, "w").write(text)
    a.send(ANSWER_SETTINGS, struct.pack("<II", ISDN, 0))
    b.send(ANSWER_SETTINGS, struct.pack("<II", ISDN, ISDN))
    deadline = time.time() + 2
    while time.time() < deadline:
        a.pump(0.05)
        b.pump(0.05)
    call(a, b, path, work, 4, "B")
    b.reset()
    exchange(path, "busy 3412")
    failed_call(a, b, path, "3412", 0x3491, "busy")
    exchange(path, "free 3412")
    failed_call(a, b, path, "3413", 0x3493, "no answer (MSN 12 ignores 3413)")
    failed_call(a, b, path, "9999", 0x3481, "unknown number")
    check_pacing(os.path.join(work, "trace.txt"))
    isdn_gone_after_rebuild(a, b, work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

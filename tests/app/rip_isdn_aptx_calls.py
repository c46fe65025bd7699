#!/usr/bin/env python3
"""A control application drives two real stations through the simulated ISDN
exchange with apt-X. A control application cannot ask for apt-X, so station
A calls with G.722 (64 kbit/s) or Layer II (128 kbit/s) and station B's
ISDN answer settings make it answer with standard or enhanced apt-X on one
or two B-channels; A finds the kind, the mode and the channels' alignment
by itself, and each hears the other's tone. A 128 kbit/s call also runs
with the second channel towards A falling 100 and 300 ms behind the first
mid-call. For every call and direction the tone's SNR
and level are printed. Written from the remote-control tables alone.

Usage: rip_isdn_aptx_calls.py RIP_A RIP_B EXCHANGE_SOCKET WORK_DIR"""
import math
import os
import struct
import sys
import time

import rip_isdn_calls as rip
from rip_isdn_matrix import DecoderWatch, hold_format, played

TONE_A, TONE_B = 1000.0, 440.0
# The rate both stations' sound devices run at.
DEVICE_RATE = 48000
# Both converters (48000 Hz to the line's rate and back) at 0.89; none at 48000 Hz.
CONVERTED_DB = 20 * math.log10(0.89 * 0.89)
MIN_SNR_DB = 20.0

# What A sends at each bit rate: (coding, sample rate, mode).
CALLER = {64000: (8, 16000, 10), 128000: (64, 48000, 20)}
# A G.722 decoder plays its first 25600 code bytes (3.2 s) as silence each
# time it opens: B, hearing A's G.722, is judged only once that has passed.
G722_MUTE_S = 3.2
# Seconds of tone the judged window ends with (see snr_and_level).
JUDGED_S = 1.75
# A device plays its first sound 1.3-1.6 s after it opens (3.5 s with
# G.722's silence). Past the decoder's report the call is held this much
# longer than the judged window, so that a start some 1.5-2 s later than
# that still comes before the window.
START_MARGIN_S = 2.5

# name, B's answer (coding, sample rate, mode), bit rate, fault on the line once the call is up
ROWS = [
    ("standard apt-X 64k", 256, 64000, 16000, 10, None),
    ("enhanced apt-X 64k", 272, 64000, 15754, 10, None),
    ("standard apt-X 128k mono", 256, 128000, 31508, 10, None),
    ("enhanced apt-X 128k stereo", 272, 128000, 15754, 20, None),
    ("standard apt-X 128k stereo, 100 ms between channels", 256, 128000, 15754, 20, ("delay", 100)),
    ("enhanced apt-X 128k stereo, 300 ms between channels", 272, 128000, 15754, 20, ("delay", 300)),
]


def isdn_request(first, second):
    return struct.pack("<I40s40s", rip.ISDN, first.encode(), second.encode())


def fit(x, w):
    """Least-squares amplitude of a sine of angular step w (with an offset)
    in x, and the power of what the fit leaves."""
    n = len(x)
    sins = [math.sin(w * i) for i in range(n)]
    coss = [math.cos(w * i) for i in range(n)]
    rows = [sins, coss, [1.0] * n]
    m = [[sum(a * b for a, b in zip(r1, r2)) for r2 in rows] for r1 in rows]
    v = [sum(a * b for a, b in zip(r, x)) for r in rows]
    # Gauss-Jordan on the 3x3 normal equations.
    for i in range(3):
        p = m[i][i] or 1e-9
        for j in range(3):
            if j != i:
                f = m[j][i] / p
                m[j] = [a - f * b for a, b in zip(m[j], m[i])]
                v[j] -= f * v[i]
    coef = [v[i] / (m[i][i] or 1e-9) for i in range(3)]
    residual = sum((xi - coef[0] * si - coef[1] * ci - coef[2]) ** 2 for xi, si, ci in zip(x, sins, coss)) / n
    return math.hypot(coef[0], coef[1]), residual


def left_channel(path, channels):
    """The left channel of what the device played."""
    raw = open(path, "rb").read()
    return struct.unpack(f"<{len(raw) // 2}h", raw[: len(raw) // 2 * 2])[::channels]


def first_sound_s(samples, rate=DEVICE_RATE):
    """When the played sound first rises above the floor, in seconds after the device opened."""
    return next((i / rate for i, x in enumerate(samples) if abs(x) > 64), None)


def snr_and_level(samples, freq, rate=DEVICE_RATE):
    """Median over 5 ms pieces of the tone's SNR, and its median amplitude,
    over what was played from JUDGED_S to 0.25 s before the end (the
    playback keeps its FIFO in step by single sample frames, so each piece
    has a phase of its own)."""
    end = len(samples)
    while end > 0 and samples[end - 1] == 0:
        end -= 1
    window = samples[max(0, end - int(JUDGED_S * rate)): max(0, end - rate // 4)]
    piece = rate // 200
    snrs, amps = [], []
    for start in range(0, len(window) - piece + 1, piece):
        amplitude, residual = fit(window[start:start + piece], 2 * math.pi * freq / rate)
        snrs.append(10 * math.log10(max(amplitude * amplitude / 2, 1e-3) / max(residual, 1e-3)))
        amps.append(amplitude)
    if len(snrs) < 200:
        return 0.0, -99.0
    snrs.sort()
    amps.sort()
    return snrs[len(snrs) // 2], 20 * math.log10(max(amps[len(amps) // 2], 1) / (rip.LEVEL * 32767))


def decoder_format(s, seconds, others):
    """The station's decoder format once it is not empty, asked for every second."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        s.send(rip.DECODER_FORMAT)
        pump((s,) + tuple(others), 1)
        fmt = s.seen.get(rip.DECODER_FORMAT)
        if fmt and len(fmt) >= 16 and struct.unpack_from("<I", fmt)[0] != 0:
            return struct.unpack_from("<4I", fmt)
    return None


def formats_seen(s):
    """Every decoder format the station reported, in order (repeats folded)."""
    out = []
    for body in getattr(s, "formats", []):
        f = struct.unpack_from("<4I", body) if len(body) >= 16 else None
        if not out or out[-1] != f:
            out.append(f)
    return out


_plain_pump = rip.Station.pump


def _pump_keeping_formats(self, seconds):
    got = _plain_pump(self, seconds)
    body = self.seen.pop(rip.DECODER_FORMAT, None)
    if body is not None:
        self.formats = getattr(self, "formats", []) + [body]
        self.seen[rip.DECODER_FORMAT] = body
    return got


rip.Station.pump = _pump_keeping_formats


def pump(stations, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        for s in stations:
            s.pump(0.02)


def answer_with(b, work, coding, rate, mode):
    """B's ISDN answer settings, then a rebuild of its connections."""
    ini = os.path.join(work, "b", "Velmora.Ini")
    lines = [l for l in open(ini).read().splitlines() if not l.startswith("Answer-")]
    at = lines.index("[ISDN]") + 1
    lines[at:at] = [f"Answer-CodingType={coding}", f"Answer-Samplerate={rate}", f"Answer-DeviceMode={mode}"]
    open(ini, "w").write("\n".join(lines) + "\n")
    b.send(rip.ANSWER_SETTINGS, struct.pack("<II", rip.ISDN, rip.ISDN))
    # B answers a query only once it has taken the settings before it, so a
    # call never meets B halfway through its rebuild, however loaded.
    b.seen.pop(rip.ANSWER_SETTINGS, None)
    b.send(rip.ANSWER_SETTINGS)
    deadline = time.time() + 60
    while rip.ANSWER_SETTINGS not in b.seen and time.time() < deadline:
        b.pump(0.1)
    if rip.ANSWER_SETTINGS not in b.seen:
        rip.fail("B never answered the answer-settings query")
    pump((b,), 2)


def call(a, b, path, work, row):
    name, coding, bit_rate, rate, mode, fault = row
    answer_with(b, work, coding, rate, mode)
    a.reset()
    b.reset()
    a.formats, b.formats = [], []
    sent = CALLER[bit_rate]
    a.send(rip.SET_ENCODER, struct.pack("<4I", sent[0], bit_rate, sent[1], sent[2]))
    a.send(rip.MAKE_CONNECTION, isdn_request("3412", "3413" if bit_rate == 128000 else ""))
    if not a.wait_state(50, 30, [b]) or not b.wait_state(50, 30, [a]):
        rip.fail(f"{name}: call not up: A {a.states} B {b.states} A errors {a.errors} refusals {a.refusals}")
        return
    want_calls = "2" if bit_rate == 128000 else "1"
    if rip.exchange(path, "active") != want_calls:
        rip.fail(f"{name}: the exchange carries {rip.exchange(path, 'active')} channels")
    # Each end finds the other's format (B answers once it knows A's), then
    # the tones flow for a few seconds.
    for st, want in ((b, (sent[0], 64000 if sent[0] == 8 else bit_rate, sent[1])), (a, (coding, bit_rate, rate, mode))):
        got = decoder_format(st, 30, (a, b))
        print(f"{name}: {st.name} decodes {got}", flush=True)
        if got is None or got[: len(want)] != want:
            rip.fail(f"{name}: station {st.name} decodes {got}, want {want}")
    # A decoder that changes format restarts its device, which then holds
    # only what came after: the call is held until each decoder has run its
    # format long enough on end for the judged window to lie after its last
    # opening.
    watches = {a.name: DecoderWatch(a, coding), b.name: DecoderWatch(b, sent[0])}
    hold = (G722_MUTE_S if sent[0] == 8 else 0) + JUDGED_S + START_MARGIN_S
    hold_format(a, b, name, None, hold, watches)
    if fault:
        verb, amount = fault
        # What A's second channel (controller 1, channel 1) receives falls behind.
        reply = rip.exchange(path, f"{verb} 1 1 {amount}")
        if reply != "ok":
            rip.fail(f"{name}: exchange refused {verb}: {reply}")
        pump((a, b), 3)
        hold_format(a, b, name, None, hold, watches)
    for s in ("a", "b"):
        p = os.path.join(work, s, "played.raw")
        if os.path.exists(p):
            os.remove(p)
    print(f"{name}: A's decoder formats {formats_seen(a)}; B's {formats_seen(b)}; "
          f"the exchange counts {rip.exchange(path, 'starved')}", flush=True)
    a.send(rip.STOP_CONNECTION)
    if not a.wait_state(16, 20, [b]) or not b.wait_state(16, 20, [a]):
        rip.fail(f"{name}: hang-up: A {a.states} B {b.states}")
    pump((a, b), 1)
    for s in (a, b):
        if s.errors:
            rip.fail(f"{name}: station {s.name} reports {s.errors} on a normal hang-up")
    n = rip.active_calls(path)
    if n != 0:
        rip.fail(f"{name}: {n} calls left in the exchange after hang-up")
    for s, want, hearer, heard_rate, heard_mode in (("a", TONE_B, "A", rate, mode), ("b", TONE_A, "B", sent[1], sent[2])):
        sink = played(work, s)
        if sink is None:
            rip.fail(f"{name}: station {hearer} wrote no sound")
            continue
        samples = left_channel(sink, 1 if heard_mode == 10 else 2)
        snr, level = snr_and_level(samples, want)
        # Kept for a look when the case fails (the folder goes when it passes).
        os.replace(sink, os.path.join(work, f"{name.replace(' ', '_').replace(',', '')}-{s}.raw"))
        start = first_sound_s(samples)
        expected = 0.0 if heard_rate == DEVICE_RATE else CONVERTED_DB
        print(f"{name}: {hearer} hears {want:.0f} Hz at SNR {snr:.1f} dB, level {level:+.2f} dB "
              f"(expected {expected:+.2f} dB); {len(samples) / DEVICE_RATE:.2f} s played, sound from "
              f"{'never' if start is None else f'{start:.2f} s'}", flush=True)
        if start is None or start > len(samples) / DEVICE_RATE - JUDGED_S:
            rip.fail(f"{name}: {hearer}'s sound did not start before the judged window")
        if snr < MIN_SNR_DB:
            rip.fail(f"{name}: {hearer} hears {want:.0f} Hz at only {snr:.1f} dB SNR")
        if abs(level - expected) > 1.5:
            rip.fail(f"{name}: {hearer} hears {want:.0f} Hz at {level:+.2f} dB")


def main():
    rip_a, rip_b, path, work = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
    a, b = rip.Station("A", rip_a), rip.Station("B", rip_b)
    a.wait_state(16, 30)
    b.wait_state(16, 30)
    only = os.environ.get("APTX_ROWS")
    for i, row in enumerate(ROWS):
        if only and str(i) not in only.split(","):
            continue
        call(a, b, path, work, row)
        pump((a, b), 1)
    return 1 if rip.failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks B-channel captures of the simulated exchange against the wire
format of coded audio on ISDN B-channels, written from the format's own
rules, independently of the program's code.

Every capture holds the bytes one B-channel carried towards the far station,
as they were on the line (the sender's bit order), idle fill 0xFF before the
first block.

  split-l2 CAP_A CAP_B OUT.mp2 FRAME_BYTES
      Two-channel Layer II: per channel FRAME_BYTES/2 - 1 split bytes and a
      counter byte per frame; the first channel's counters run 1..31, 0,
      the second's 33..63, 32 (each bit-reversed on the line). Re-interleaves
      the frames (the two bytes not carried become 0) into OUT.mp2.
  one-frame-l2 CAP OUT.mp2 FRAME_BYTES
      Layer II on one channel, every byte bit-reversed: writes the frames.
  alt-l3 CAP_A CAP_B OUT.mp3 FRAME_BYTES
      Layer III alternating over two channels, every byte bit-reversed and
      inverted; the private bits say 24 (counter 0), 25 (counter 1) and 31
      (the others). Writes the frames in counter order.
Prints one line of figures; exits 1 with the reason on the first fault.
"""
import sys


def rev(b):
    return int('{:08b}'.format(b)[::-1], 2)


def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)


BITRATE_KBPS = {  # (MPEG version bit, layer bits) -> table; only what the calls use
    (1, 2): [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
    (1, 1): [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    (0, 2): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
    (0, 1): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
}
RATES = {1: [44100, 48000, 32000], 0: [22050, 24000, 16000]}


def header(f):
    """(layer, kbit/s, Hz, crc, mono) of an MPEG header, or None."""
    if len(f) < 4 or f[0] != 0xFF or (f[1] & 0xF0) != 0xF0:
        return None
    version = (f[1] >> 3) & 1
    layer_bits = (f[1] >> 1) & 3
    if layer_bits not in (1, 2):
        return None
    index = f[2] >> 4
    sr = (f[2] >> 2) & 3
    if index in (0, 15) or sr == 3:
        return None
    return (4 - layer_bits, BITRATE_KBPS[(version, layer_bits)][index], RATES[version][sr],
            (f[1] & 1) == 0, (f[3] >> 6) == 3, version)


def first_non_idle(data):
    for i, b in enumerate(data):
        if b != 0xFF:
            return i
    return len(data)


def split_l2(cap_a, cap_b, out, frame):
    half = frame // 2
    chans = []
    for path in (cap_a, cap_b):
        data = open(path, 'rb').read()
        # The counter bytes sit every half frame; find the phase where they count.
        best = None
        start = first_non_idle(data)
        for phase in range(start, start + half):
            counters = [rev(data[i]) for i in range(phase + half - 1, len(data), half)]
            run = 0
            for k in range(1, len(counters)):
                if (counters[k] - counters[k - 1]) % 32 == 1 and counters[k] >> 5 == counters[k - 1] >> 5:
                    run += 1
                else:
                    break
            if best is None or run > best[0]:
                best = (run, phase, counters)
        if best is None or best[0] < 8:
            fail('%s: no run of counter bytes every %d bytes' % (path, half))
        run, phase, counters = best
        kind = counters[0] >> 5
        if any(c >> 6 for c in counters[:run + 1]):
            fail('%s: counter byte above 63' % path)
        blocks = [data[phase + k * half: phase + (k + 1) * half] for k in range(run + 1)]
        chans.append((kind, None, blocks, counters[:run + 1]))
    by_kind = {c[0]: c for c in chans}
    if sorted(by_kind) != [0, 1]:
        fail('the channels do not carry counters 0..31 and 32..63')
    first, second = by_kind[0], by_kind[1]
    # Pair the halves by counter: the first common stretch.
    index_b = {c & 31: k for k, c in enumerate(second[3])}
    frames = []
    for k, c in enumerate(first[3]):
        if c not in index_b:
            continue
        d_blk = first[2][k]
        e_blk = second[2][index_b[c]]
        f = bytearray(frame)
        for j in range(half - 1):
            d = d_blk[j]
            e = e_blk[j]
            # First channel: high nibble A[y], low A[x]; A[v] = v1 v3 v5 v7 (bits 3..0).
            # Second channel: B[v] = v0 v2 v4 v6.
            for target, dn, en in ((2 * j, d & 0xF, e & 0xF), (2 * j + 1, d >> 4, e >> 4)):
                v = 0
                v |= ((dn >> 3) & 1) << 1
                v |= ((dn >> 2) & 1) << 3
                v |= ((dn >> 1) & 1) << 5
                v |= (dn & 1) << 7
                v |= ((en >> 3) & 1) << 0
                v |= ((en >> 2) & 1) << 2
                v |= ((en >> 1) & 1) << 4
                v |= (en & 1) << 6
                f[target] = v
        h = header(f)
        if h is None or h[0] != 2 or h[1] != 128:
            fail('reassembled frame with counter %d has no 128 kbit/s Layer II header' % c)
        frames.append(bytes(f))
    if len(frames) < 8:
        fail('fewer than 8 paired frames')
    open(out, 'wb').write(b''.join(frames))
    print('split-l2 frames=%d half=%d counters_first=%d..%d counters_second=%d..%d' %
          (len(frames), half, min(first[3]), max(first[3]), min(second[3]), max(second[3])))


def frames_of(data, frame, invert):
    start = first_non_idle(data)
    data = bytes((rev(b) ^ (0xFF if invert else 0)) for b in data[start:])
    for phase in range(0, min(frame, len(data))):
        if header(data[phase:phase + 4]) and header(data[phase + frame:phase + frame + 4]):
            out = []
            at = phase
            while at + frame <= len(data) and header(data[at:at + 4]):
                out.append(data[at:at + frame])
                at += frame
            return out
    return []


def one_frame_l2(cap, out, frame):
    frames = frames_of(open(cap, 'rb').read(), frame, False)
    if len(frames) < 8:
        fail('%s: fewer than 8 bit-reversed Layer II frames of %d bytes' % (cap, frame))
    for f in frames:
        h = header(f)
        if h[0] != 2 or h[1] != 64:
            fail('a frame is not 64 kbit/s Layer II')
    open(out, 'wb').write(b''.join(frames))
    print('one-frame-l2 frames=%d' % len(frames))


def private_marker(f):
    h = header(f)
    side = 6 if h[3] else 4
    mono = h[4]
    if h[5] == 1:
        bits = 5 if mono else 3
        v = (f[side + 1] >> (7 - bits)) & ((1 << bits) - 1)
        return v if mono else v + 24
    # MPEG-2: a block of two frames; one private bit per frame in mono,
    # two in the first frame otherwise.
    if mono:
        half = len(f) // 2
        side2 = half + (6 if header(f[half:])[3] else 4)
        v = ((f[side + 1] >> 7) << 1) | (f[side2 + 1] >> 7)
    else:
        v = f[side + 1] >> 6
    return 31 if v == 3 else 24 + v


def alt_l3(cap_a, cap_b, out, frame):
    per = []
    for cap in (cap_a, cap_b):
        frames = frames_of(open(cap, 'rb').read(), frame, True)
        if len(frames) < 8:
            fail('%s: fewer than 8 inverted Layer III blocks of %d bytes' % (cap, frame))
        per.append(frames)
    marks = [[private_marker(f) for f in frames] for frames in per]
    for m in marks:
        if any(v not in (24, 25, 31) for v in m):
            fail('a private-bit marker is not 24, 25 or 31: %s' % m[:20])
    # Channel with 24 carries the even counters; 24 and 25 come once per 32 blocks each.
    a24 = marks[0].count(24) + marks[1].count(24)
    a25 = marks[0].count(25) + marks[1].count(25)
    even = 0 if 24 in marks[0] else 1
    if 25 in marks[even] or 24 in marks[1 - even]:
        fail('markers 24 and 25 on the same channel')
    # Interleave from the first 24 and the first 25.
    i = marks[even].index(24)
    j = marks[1 - even].index(25)
    frames = []
    while i < len(per[even]) and j < len(per[1 - even]):
        frames.append(per[even][i])
        frames.append(per[1 - even][j])
        i += 1
        j += 1
    open(out, 'wb').write(b''.join(frames))
    print('alt-l3 frames=%d markers24=%d markers25=%d' % (len(frames), a24, a25))


def main():
    if len(sys.argv) < 2:
        fail(__doc__)
    cmd = sys.argv[1]
    if cmd == 'split-l2' and len(sys.argv) == 6:
        split_l2(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]))
    elif cmd == 'one-frame-l2' and len(sys.argv) == 5:
        one_frame_l2(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif cmd == 'alt-l3' and len(sys.argv) == 6:
        alt_l3(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]))
    else:
        fail(__doc__)


main()

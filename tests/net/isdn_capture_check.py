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
  filler CAP_A CAP_B RATE
      The filler frames a station sends on both channels while it answers a
      peer's 64 kbit/s Layer II markers: one-frame blocks, bit-reversed, of
      the single-channel 64 kbit/s Layer II frame of RATE (48000, 32000,
      24000) whose bytes after the header are 0xFE, the last byte a marker
      counting through its modes (20 from counter 8 to 31, 21 from 0 to 22,
      22 from 23 to 31); none of any rate at 44100.
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


def halves(path, half):
    """(counter, block) of every half frame on a channel, in line order. A
    late sender leaves idle fill between blocks, so the counter bytes are
    looked for at every position, each confirmed by its neighbour."""
    data = open(path, 'rb').read()
    found = []
    p = first_non_idle(data)
    while p + half <= len(data):
        c = rev(data[p + half - 1])
        nxt = p + 2 * half - 1
        follows = nxt < len(data) and (rev(data[nxt]) - c) % 32 == 1 and rev(data[nxt]) >> 5 == c >> 5
        after = bool(found) and found[-1][2] == p and (c - found[-1][0]) % 32 == 1
        # A half frame opens with frame byte 0 (0xFF) in its low nibble.
        opens = (data[p] & 0x0F) == 0x0F
        if c < 64 and opens and (follows or after):
            found.append((c, data[p:p + half], p + half))
            p += half
        else:
            p += 1
    return [(c, b) for c, b, _ in found]


def join_halves(d_blk, e_blk, frame):
    f = bytearray(frame)
    for j in range(frame // 2 - 1):
        d = d_blk[j]
        e = e_blk[j]
        # First channel: high nibble A[y], low A[x], A[v] = v1 v3 v5 v7 (bits 3..0);
        # second channel: B[v] = v0 v2 v4 v6.
        for target, dn, en in ((2 * j, d & 0xF, e & 0xF), (2 * j + 1, d >> 4, e >> 4)):
            v = ((dn >> 3) & 1) << 1 | ((dn >> 2) & 1) << 3 | ((dn >> 1) & 1) << 5 | (dn & 1) << 7
            v |= ((en >> 3) & 1) | ((en >> 2) & 1) << 2 | ((en >> 1) & 1) << 4 | (en & 1) << 6
            f[target] = v
    return bytes(f)


def split_l2(cap_a, cap_b, out, frame):
    half = frame // 2
    chans = {}
    for path in (cap_a, cap_b):
        h = halves(path, half)
        if len(h) < 8:
            fail('%s: fewer than 8 half frames with counter bytes every %d bytes' % (path, half))
        # Audio bytes may look like a counter now and then; a channel's
        # counters are those of its kind, nearly all of them.
        kinds = [c >> 5 for c, _ in h]
        kind = max(set(kinds), key=kinds.count)
        if kinds.count(kind) < 0.9 * len(kinds):
            fail('%s: counters of both channels on one channel' % path)
        chans[kind] = [x for x in h if x[0] >> 5 == kind]
    if sorted(chans) != [0, 1]:
        fail('the channels do not carry counters 0..31 and 32..63')
    first, second = chans[0], chans[1]
    # Pair the halves by counter, in line order; a side that is behind skips.
    frames = []
    bad = 0
    i = j = 0
    while i < len(first) and j < len(second):
        ci, cj = first[i][0] & 31, second[j][0] & 31
        if ci == cj:
            f = join_halves(first[i][1], second[j][1], frame)
            h = header(f)
            if h is None or h[0] != 2 or h[1] != 128:
                bad += 1
            else:
                frames.append(f)
            i += 1
            j += 1
        elif (cj - ci) % 32 < 16:
            i += 1
        else:
            j += 1
    if len(frames) < 8:
        fail('fewer than 8 paired frames')
    # A stray look-alike counter may pair wrongly now and then; a wrong
    # split or interleave would spoil them all.
    if bad > len(frames) // 10:
        fail('%d of %d reassembled frames have no 128 kbit/s Layer II header' % (bad, bad + len(frames)))
    open(out, 'wb').write(b''.join(frames))
    print('split-l2 frames=%d unpaired=%d half=%d first_counters=%d..%d second_counters=%d..%d' %
          (len(frames), bad, half, min(c for c, _ in first), max(c for c, _ in first),
           min(c for c, _ in second), max(c for c, _ in second)))


def frames_of(data, frame, invert, kbps):
    """Every whole frame of `kbps` on the line, bit-reversed back (and
    inverted back); idle fill between blocks is skipped."""
    data = bytes((rev(b) ^ (0xFF if invert else 0)) for b in data)
    out = []
    p = 0
    while p + frame <= len(data):
        h = header(data[p:p + 4])
        if h and h[1] == kbps:
            out.append(data[p:p + frame])
            p += frame
        else:
            p += 1
    return out


def one_frame_l2(cap, out, frame):
    frames = frames_of(open(cap, 'rb').read(), frame, False, 64)
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
        frames = frames_of(open(cap, 'rb').read(), frame, True, 128)
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


FILLERS = {  # send sample rate -> (length, header)
    48000: (192, bytes([0xFF, 0xFC, 0x44, 0xCC])),
    32000: (288, bytes([0xFF, 0xFC, 0x48, 0xCC])),
    24000: (384, bytes([0xFF, 0xF5, 0x85, 0xCC])),
}


def filler_markers(channel):
    """The markers of one channel's filler frames, in order: mode 20 from
    counter 8 (first channel 0x40 + x, second 0x60 + x), mode 21 from 0 to
    22 (the same), mode 22 from 23 to 31 (x, second 0x20 + x)."""
    top = 0x40 if channel == 0 else 0x60
    plain = 0x00 if channel == 0 else 0x20
    return [top + x for x in range(8, 32)] + [top + x for x in range(0, 23)] + [plain + x for x in range(23, 32)]


def fillers_of(data):
    """(position, rate, marker) of every filler frame on the line."""
    data = bytes(rev(b) for b in data)
    found = []
    for rate, (length, head) in FILLERS.items():
        p = data.find(head)
        while p >= 0 and p + length <= len(data):
            if all(b == 0xFE for b in data[p + 4:p + length - 1]):
                found.append((p, rate, data[p + length - 1]))
            p = data.find(head, p + 1)
    return sorted(found)


def filler(cap_a, cap_b, rate):
    per = [fillers_of(open(cap, 'rb').read()) for cap in (cap_a, cap_b)]
    if rate not in FILLERS:
        if any(per):
            fail('%d filler frames at %d Hz, where none exists' % (sum(len(f) for f in per), rate))
        print('filler rate=%d frames=0' % rate)
        return
    length = FILLERS[rate][0]
    # The first channel is the one whose markers count from 0x40.
    if per[0] and per[0][0][2] in filler_markers(1):
        per.reverse()
    rounds = []
    for channel, found in enumerate(per):
        if not found:
            fail('channel %d: no filler frame' % channel)
        other = [r for _, r, _ in found if r != rate]
        if other:
            fail('channel %d: filler frames of %d Hz in a call at %d Hz' % (channel, other[0], rate))
        want = filler_markers(channel)
        # Each round of fillers runs through the markers in order, one block
        # after the other, and starts over only once it is complete; the
        # capture may end within one.
        at, done, last = 0, 0, None
        for p, _, m in found:
            if last is not None and p < last + length:
                fail('channel %d: filler frames overlap at %d' % (channel, p))
            if m != want[at]:
                fail('channel %d: filler marker 0x%02x at %d where 0x%02x was due' % (channel, m, p, want[at]))
            at += 1
            if at == len(want):
                at, done = 0, done + 1
            last = p
        if done == 0:
            fail('channel %d: no complete round of %d filler frames' % (channel, len(want)))
        rounds.append(done)
    print('filler rate=%d length=%d frames=%d,%d rounds=%d,%d' %
          (rate, length, len(per[0]), len(per[1]), rounds[0], rounds[1]))


def main():
    if len(sys.argv) < 2:
        fail(__doc__)
    cmd = sys.argv[1]
    if cmd == 'split-l2' and len(sys.argv) == 6:
        split_l2(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]))
    elif cmd == 'one-frame-l2' and len(sys.argv) == 5:
        one_frame_l2(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif cmd == 'filler' and len(sys.argv) == 5:
        filler(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif cmd == 'alt-l3' and len(sys.argv) == 6:
        alt_l3(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]))
    else:
        fail(__doc__)


main()
